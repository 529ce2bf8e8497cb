// The simulated sensor's noise: the spread a signal and a gain give, the same
// frame for the same seed, and no pattern from pixel to pixel or row to row.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "sim/SimScene.h"
#include "sim/SimStreamer.h"

namespace okc::sim {
namespace {

// The noise model the frames must follow, in 12-bit DN: shot noise of half a
// DN per electron at unity gain and 2 DN of read noise, both scaled by the gain.
double ExpectedVariance(double signalDn, double gain) {
  return gain * 0.5 * signalDn + (2.0 * gain) * (2.0 * gain) + 1.0 / 12.0;  // rounding to whole DN adds 1/12
}

// A 16-bit window with a black level, so that noise on dark pixels is not cut off at zero.
FrameSettings Window(double gain, double exposureUs, bool noise = true) {
  FrameSettings s{.x = 200, .y = 300, .width = 320, .height = 160, .sixteenBit = true, .exposureUs = exposureUs,
                  .cellGain = {{{gain, gain}, {gain, gain}}}, .blackLevel = 200, .noise = noise};
  return s;
}

int Sample(const std::vector<uint8_t>& frame, size_t i) { return frame[2 * i] << 4 | (frame[2 * i + 1] & 0x0F); }

// Per pixel of a noisy frame: its difference from the noise-free value.
std::vector<double> Residuals(const SimScene& scene, const FrameSettings& s, uint64_t seed) {
  std::vector<uint8_t> noisy, clean;
  EXPECT_TRUE(scene.Render(s, seed, noisy));
  FrameSettings quiet = s;
  quiet.noise = false;
  EXPECT_TRUE(scene.Render(quiet, seed, clean));
  std::vector<double> r(static_cast<size_t>(s.width) * static_cast<size_t>(s.height));
  for (size_t i = 0; i < r.size(); ++i) r[i] = Sample(noisy, i) - Sample(clean, i);
  return r;
}

// Correlation of residuals a[i] and b[i] over the pixels where both exist.
double Correlation(const std::vector<double>& a, const std::vector<double>& b) {
  double ab = 0, aa = 0, bb = 0;
  for (size_t i = 0; i < a.size() && i < b.size(); ++i) {
    ab += a[i] * b[i];
    aa += a[i] * a[i];
    bb += b[i] * b[i];
  }
  return ab / std::sqrt(aa * bb);
}

class SimNoise : public ::testing::Test {
 protected:
  const SimScene& scene = *SimScene::Shared(SceneLayout{});
};

TEST_F(SimNoise, SpreadFollowsSignalAndGain) {
  // Gains from unity to high, exposures from dark to bright; no sample near saturation.
  const struct {
    double gain, exposureUs;
  } cases[] = {{1.0, 1000}, {1.0, 200000}, {4.0, 20000}, {4.0, 100000}, {16.0, 2000}, {16.0, 10000}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "gain " << c.gain << ", exposure " << c.exposureUs << " us");
    const FrameSettings s = Window(c.gain, c.exposureUs);
    const std::vector<double> r = Residuals(scene, s, 7);
    double sum = 0, squares = 0, expected = 0, n = 0;
    for (int y = 0; y < s.height; ++y) {
      for (int x = 0; x < s.width; ++x) {
        const double clean = scene.ExpectedValue(s.x + x, s.y + y, s);
        const double variance = ExpectedVariance(clean - 200, c.gain);
        if (clean + 6 * std::sqrt(variance) >= 4095) continue;  // a star's core, cut off at saturation
        const double v = r[static_cast<size_t>(y) * s.width + x];
        sum += v;
        squares += v * v;
        expected += variance;
        n += 1;
      }
    }
    ASSERT_GT(n, 50000);
    // Both the noisy and the clean sample are rounded to whole DN, which can shift the
    // mean by up to half a DN; beyond that the noise has no offset.
    const double mean = sum / n;
    EXPECT_NEAR(mean, 0.0, 0.5 + 4 * std::sqrt(expected) / n);
    // About 51000 samples: the variance is known to about 1 %.
    EXPECT_NEAR((squares / n - mean * mean) / (expected / n), 1.0, 0.05);
  }
}

TEST_F(SimNoise, DeviatesAreStandardNormalInShape) {
  // Under a covered lens at a short exposure every pixel has the same spread (read
  // noise, 32 DN at this gain). The shares within one and two sigma and the fourth
  // moment are those of a normal distribution (a uniform or two-valued noise fails).
  FrameSettings s = Window(16.0, 1000);
  s.lensCovered = true;
  const std::vector<double> r = Residuals(scene, s, 11);
  double second = 0, fourth = 0;
  for (double v : r) {
    second += v * v;
    fourth += v * v * v * v;
  }
  const double n = static_cast<double>(r.size());
  const double sigma = std::sqrt(second / n);
  EXPECT_NEAR(sigma, 32.0, 1.0);
  EXPECT_NEAR(fourth / n / (sigma * sigma * sigma * sigma), 3.0, 0.15);
  // Samples are whole DN: |v| < t holds for the unrounded value below ceil(t) - 0.5.
  const double sigmaBeforeRounding = std::sqrt(sigma * sigma - 1.0 / 12.0);
  for (double k : {1.0, 2.0}) {
    SCOPED_TRACE(k);
    double within = 0;
    for (double v : r) within += std::abs(v) < k * sigma;
    const double bound = std::ceil(k * sigma) - 0.5;
    EXPECT_NEAR(within / n, std::erf(bound / (sigmaBeforeRounding * std::sqrt(2.0))), 0.01);
  }
}

TEST_F(SimNoise, SameSeedSameFrameAndNoPatternBetweenPixelsRowsOrFrames) {
  const FrameSettings s = Window(8.0, 1000);
  std::vector<uint8_t> a, b;
  ASSERT_TRUE(scene.Render(s, NoiseSeedOfFrame(3), a));
  ASSERT_TRUE(scene.Render(s, NoiseSeedOfFrame(3), b));
  EXPECT_EQ(a, b);

  const std::vector<double> frame = Residuals(scene, s, NoiseSeedOfFrame(3));
  const std::vector<double> next = Residuals(scene, s, NoiseSeedOfFrame(4));
  // Shifted by one pixel (the two columns of one hash), by one row, by one frame.
  const std::vector<double> shiftedPixel(frame.begin() + 1, frame.end());
  const std::vector<double> shiftedRow(frame.begin() + s.width, frame.end());
  const double limit = 0.03;  // 51200 samples: chance correlation stays near 0.005
  EXPECT_LT(std::abs(Correlation(frame, shiftedPixel)), limit);
  EXPECT_LT(std::abs(Correlation(frame, shiftedRow)), limit);
  EXPECT_LT(std::abs(Correlation(frame, next)), limit);
}

TEST_F(SimNoise, NarrowAndOddWindowsGetNoiseInEveryColumn) {
  for (int width : {1, 2, 3, 7, 33}) {
    SCOPED_TRACE(width);
    FrameSettings s = Window(16.0, 1000);
    s.width = width;
    s.height = 400;
    const std::vector<double> r = Residuals(scene, s, 5);
    for (int x = 0; x < width; ++x) {
      double squares = 0;
      for (int y = 0; y < s.height; ++y) squares += r[static_cast<size_t>(y) * width + x] * r[static_cast<size_t>(y) * width + x];
      EXPECT_GT(squares / s.height, 0.5 * ExpectedVariance(0, 16.0)) << "column " << x;
    }
  }
}

}  // namespace
}  // namespace okc::sim
