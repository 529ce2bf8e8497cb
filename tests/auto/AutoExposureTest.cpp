// Automatic exposure and gain alone, on small synthetic raw frames: what is
// measured, and the step taken in each band of the decision table.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <vector>

#include "imaging/AutoExposure.h"

namespace {

using okc::imaging::AutoExposureDecision;
using okc::imaging::AutoExposureInput;
using okc::imaging::DecideAutoExposure;
using okc::imaging::MeasureBrightness;
using okc::imaging::RawFrameGeometry;

// A raw frame whose measured samples (every third of every third row of the
// central 60 %) are `inside` and every other sample is `outside`.
std::vector<uint8_t> WindowFrame(const RawFrameGeometry& g, uint8_t inside, uint8_t outside) {
  const int w = g.RawWidth(), h = g.RawHeight(), step = g.sixteenBit ? 2 : 1;
  std::vector<uint8_t> frame(g.FrameBytes(), outside);
  for (int y = h / 5; y < 4 * h / 5; y += 3)
    for (int x = w / 5; x < 4 * w / 5; x += 3) frame[(static_cast<size_t>(y) * w + x) * step] = inside;
  return frame;
}

TEST(AutoExposureMeasure, ReadsOnlyTheSampledGridOfTheCentralWindow) {
  struct Case {
    RawFrameGeometry geometry;
    uint8_t inside;
    int brightness;
  };
  const Case cases[] = {
      {{100, 100, 1, false}, 60, 61},   // 400 samples, N = 400
      {{50, 50, 2, false}, 30, 124},    // (30 + 1) x 4
      {{100, 100, 1, true}, 60, 61},    // the first byte of each 16-bit sample
      {{100, 100, 1, false}, 254, 255}, // limited to 255
      {{50, 50, 2, false}, 70, 255},    // (70 + 1) x 4 limited
  };
  for (const Case& c : cases) {
    // Everything not sampled, including the low bytes of 16-bit samples, is 255.
    const std::vector<uint8_t> frame = WindowFrame(c.geometry, c.inside, 255);
    EXPECT_EQ(MeasureBrightness(frame.data(), frame.size(), c.geometry), c.brightness)
        << c.geometry.width << "x" << c.geometry.height << " bin " << c.geometry.bin;
  }
}

TEST(AutoExposureMeasure, RefusesShortBuffersAndFramesWithoutSamples) {
  const RawFrameGeometry g{100, 100, 1, false};
  const std::vector<uint8_t> frame = WindowFrame(g, 50, 50);
  EXPECT_FALSE(MeasureBrightness(frame.data(), frame.size() - 1, g));
  EXPECT_FALSE(MeasureBrightness(nullptr, frame.size(), g));
  const RawFrameGeometry tiny{4, 4, 1, false};  // N = 16 / 25 = 0
  EXPECT_FALSE(MeasureBrightness(frame.data(), frame.size(), tiny));
  const RawFrameGeometry noBin{100, 100, 0, false};
  EXPECT_FALSE(MeasureBrightness(frame.data(), frame.size(), noBin));
}

AutoExposureInput Input(uint64_t exposureUs, uint32_t lines, int gain, bool autoExp, bool autoGain) {
  AutoExposureInput in;
  in.exposureUs = exposureUs;
  in.exposureLines = lines;
  in.gain = gain;
  in.autoExp = autoExp;
  in.autoGain = autoGain;
  in.autoExpMaxSeconds = 30;
  in.autoGainMax = 50;
  in.destBrightness = 100;
  return in;
}

struct StepCase {
  const char* name;
  int brightness;
  AutoExposureInput input;
  uint64_t exposureUs;
  int gain;
};

TEST(AutoExposureStep, TakesTheStepOfEachBand) {
  const StepCase cases[] = {
      // Dead band 85..115 for a target of 100.
      {"lower edge of the dead band", 85, Input(50000, 100, 10, true, true), 50000, 10},
      {"upper edge of the dead band", 115, Input(50000, 100, 10, true, true), 50000, 10},
      // Dark side.
      {"dark, exposure only: lengthen", 60, Input(50000, 100, 10, true, false), 60000, 10},
      {"dark, gain only: +2", 20, Input(50000, 100, 10, false, true), 50000, 12},
      {"dark, gain only, near the limit", 20, Input(50000, 100, 49, false, true), 50000, 50},
      {"dark, both, normal: +1, lengthen, +1", 60, Input(50000, 100, 10, true, true), 60000, 12},
      {"dark, both, long: gain first (+1 then +2)", 60, Input(200000, 2000, 10, true, true), 200000, 13},
      {"dark, both, long, gain reaches its limit: lengthen", 60, Input(200000, 2000, 49, true, true), 240000, 50},
      {"dark, both, 2 lines, moderate: gain +2", 75, Input(100, 2, 10, true, true), 100, 12},
      {"dark, both, 2 lines, far: lengthen and +2", 65, Input(100, 2, 10, true, true), 117, 12},
      {"dark, exposure only, 1 line, moderate: nothing", 60, Input(100, 1, 10, true, false), 100, 10},
      {"dark, exposure only, 1 line, far: lengthen", 50, Input(100, 1, 10, true, false), 125, 10},
      // Bright side.
      {"bright, gain only: -1", 200, Input(50000, 100, 10, false, true), 50000, 9},
      {"bright, gain only at the bottom", 200, Input(50000, 100, 1, false, true), 50000, 1},
      {"bright, long: shorten, gain untouched", 200, Input(400000, 8000, 10, true, true), 300000, 10},
      {"bright, exposure only: shorten", 200, Input(50000, 100, 10, true, false), 37500, 10},
      {"bright, exposure only, 2 lines, moderate: nothing", 125, Input(100, 2, 10, true, false), 100, 10},
      {"bright, exposure only, 2 lines, far: shorten", 140, Input(100, 2, 10, true, false), 90, 10},
      {"bright, both, normal: shorten, -1", 200, Input(50000, 100, 10, true, true), 37500, 9},
      {"bright, both, 1 line, moderate: -1 twice", 140, Input(100, 1, 10, true, true), 100, 8},
      {"bright, both, 1 line, far: shorten, -1 twice", 200, Input(100, 1, 10, true, true), 75, 8},
      // Nothing automatic: nothing moves whatever the frame shows.
      {"nothing automatic", 10, Input(50000, 100, 10, false, false), 50000, 10},
  };
  for (const StepCase& c : cases) {
    const AutoExposureDecision d = DecideAutoExposure(c.brightness, c.input);
    EXPECT_EQ(d.exposureUs, c.exposureUs) << c.name;
    EXPECT_EQ(d.gain, c.gain) << c.name;
    EXPECT_EQ(d.exposureChanged, c.exposureUs != c.input.exposureUs) << c.name;
    EXPECT_EQ(d.gainChanged, c.gain != c.input.gain) << c.name;
    EXPECT_EQ(d.exposureBeforeUs, c.input.exposureUs) << c.name;
    EXPECT_EQ(d.gainBefore, c.input.gain) << c.name;
  }
}

TEST(AutoExposureStep, LengtheningStopsExactlyAtTheExposureLimit) {
  AutoExposureInput in = Input(900000, 20000, 50, true, false);
  in.autoExpMaxSeconds = 1;
  EXPECT_EQ(DecideAutoExposure(10, in).exposureUs, 1000000u);
  // A limit beyond what 32 bits of microseconds hold is still a limit.
  in.autoExpMaxSeconds = INT_MAX;
  in.exposureUs = 3000000000ull;
  EXPECT_EQ(DecideAutoExposure(10, in).exposureUs, 3000000000ull + 3000000000ull * 90 / 200);
}

TEST(AutoExposureStep, LimitsAreNeverExceeded) {
  // Every brightness, every gain, a spread of exposures and modes.
  for (int autoGainMax : {1, 30, 50, 100}) {
    for (int b = 0; b <= 255; b += 3) {
      for (int g = 1; g <= 100; g += 7) {
        for (uint64_t e : {64ull, 5000ull, 99999ull, 100001ull, 900000ull, 2000000ull}) {
          for (int modes = 1; modes < 4; ++modes) {
            AutoExposureInput in = Input(e, static_cast<uint32_t>(e / 20 + 1), g, modes & 1, modes & 2);
            in.autoGainMax = autoGainMax;
            in.autoExpMaxSeconds = 1;
            const AutoExposureDecision d = DecideAutoExposure(b, in);
            EXPECT_GE(d.gain, 1);
            EXPECT_LE(d.gain, 100);
            if (d.gain > g) {
              EXPECT_LE(d.gain, autoGainMax) << b << " " << g << " " << e;
            }
            if (d.exposureUs > e) {
              EXPECT_LE(d.exposureUs, 1000000u) << b << " " << g << " " << e;
            }
            EXPECT_GT(d.exposureUs, 0u);
            EXPECT_TRUE(in.autoExp || d.exposureUs == e);
            EXPECT_TRUE(in.autoGain || d.gain == g);
          }
        }
      }
    }
  }
}

TEST(AutoExposureStep, TargetsOutsideTheScaleStayWellDefined) {
  // A target above what B can reach keeps every step on the dark side.
  AutoExposureInput in = Input(50000, 100, 10, true, false);
  in.destBrightness = 400;
  EXPECT_GT(DecideAutoExposure(255, in).exposureUs, 50000u);
  // A negative target makes every frame too bright; the exposure shrinks but never wraps.
  in.destBrightness = -100000;
  const AutoExposureDecision d = DecideAutoExposure(200, in);
  EXPECT_GE(d.exposureUs, 1u);
  EXPECT_LT(d.exposureUs, 50000u);
  // Targets whose percentages overflow 32 bits.
  in.destBrightness = INT_MAX;
  EXPECT_GT(DecideAutoExposure(255, in).exposureUs, 50000u);
}

TEST(AutoExposureStep, MeasuresAndDecidesTogether) {
  const RawFrameGeometry g{100, 100, 1, false};
  const std::vector<uint8_t> frame = WindowFrame(g, 59, 0);  // B = 60
  const AutoExposureDecision d =
      okc::imaging::AutoExposureStep(frame.data(), frame.size(), g, Input(50000, 100, 10, true, false));
  EXPECT_TRUE(d.measured);
  EXPECT_EQ(d.brightness, 60);
  EXPECT_EQ(d.exposureUs, 60000u);
  // A frame of the wrong size changes nothing.
  const AutoExposureDecision none =
      okc::imaging::AutoExposureStep(frame.data(), frame.size() / 2, g, Input(50000, 100, 10, true, false));
  EXPECT_FALSE(none.measured);
  EXPECT_FALSE(none.exposureChanged);
  EXPECT_EQ(none.exposureUs, 50000u);
}

}  // namespace
