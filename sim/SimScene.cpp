#include "sim/SimScene.h"

#include <algorithm>
#include <cmath>
#include <mutex>
#include <vector>

namespace okc::sim {
namespace {

// The scene is fixed: every camera of a kind sees the same sky.
constexpr uint64_t kLayoutSeed = 0x6A5D6102C0FFEEull;

// Sky glow, DN/s at unity gain, brighter towards one corner (a town on the horizon)
// and warmer than white.
constexpr float kSkyRate = 1200.0f;
constexpr float kSkyRed = 1.25f, kSkyGreen = 1.0f, kSkyBlue = 0.8f;

// Stars: total rate of the faintest, power-law brighter ones up to the brightest.
constexpr int kStarCount = 400;
constexpr float kFaintStarRate = 2.0e4f;
constexpr float kBrightestStarRate = 3.0e6f;
constexpr float kMinStarSigma = 1.1f, kMaxStarSigma = 1.6f;

// Dark current of ordinary pixels (DN/s, varying from pixel to pixel) and of hot pixels.
constexpr float kDarkRate = 4.0f;
constexpr int kHotPixelCount = 24;
constexpr float kHotPixelMinRate = 2.0e3f;
constexpr float kHotPixelRateSpan = 100.0f;  // the hottest is 100 times the coolest
constexpr int kHotPixelMargin = 4;           // away from the array's edge
constexpr int kHotPixelSpacing = 3;          // never next to another hot pixel

// Noise: DN per electron at unity gain, read noise in DN at unity gain.
constexpr float kDnPerElectron = 0.5f;
constexpr float kReadNoiseDn = 2.0f;

// SplitMix64: small, fast and good enough for scene layout and noise.
class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed) {}
  uint64_t Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // Uniform in [0, 1).
  float Uniform() { return static_cast<float>(Next() >> 40) * (1.0f / 16777216.0f); }

 private:
  uint64_t state_;
};

// Standard normal deviates at evenly spaced quantiles, so that a few random
// bits pick one: frames need a million of them and exact tails do not matter.
class NormalTable {
 public:
  static constexpr int kBits = 12;
  NormalTable() {
    for (int i = 0; i < kSize; ++i) values_[i] = InverseNormal((i + 0.5) / kSize);
  }
  float operator[](uint64_t index) const { return values_[index & (kSize - 1)]; }

 private:
  static constexpr int kSize = 1 << kBits;
  // Bisection on the normal distribution function: done once, exactness over speed.
  static float InverseNormal(double p) {
    double lo = -8.0, hi = 8.0;
    for (int i = 0; i < 60; ++i) {
      const double mid = 0.5 * (lo + hi);
      (0.5 * std::erfc(-mid / std::sqrt(2.0)) < p ? lo : hi) = mid;
    }
    return static_cast<float>(0.5 * (lo + hi));
  }
  float values_[kSize];
};

const NormalTable& Normals() {
  static const NormalTable table;
  return table;
}

// A 32-bit finaliser (two multiplies, three shifts): consecutive inputs give
// unrelated outputs, and a loop over a row of inputs vectorises.
inline uint32_t Mix32(uint32_t x) {
  x ^= x >> 16;
  x *= 0x7FEB352Du;
  x ^= x >> 15;
  x *= 0x846CA68Bu;
  x ^= x >> 16;
  return x;
}

// On x86-64 the row kernels below also exist as AVX2 copies, picked when the
// library loads on a processor that has it. The arithmetic is the same (no
// fused multiply-add), so both give the same frame for the same seed. Not under
// the sanitizers: their instrumented resolvers would run before the sanitizer is up.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && !defined(__SANITIZE_THREAD__) && \
    !defined(__SANITIZE_ADDRESS__)
#define OKC_ROW_KERNEL __attribute__((target_clones("avx2", "default")))
#else
#define OKC_ROW_KERNEL
#endif

// Fills `out` with one standard normal deviate per column of frame row `row`.
// Each pixel's deviate depends only on the seed and its place in the frame, so
// no generator state runs from pixel to pixel: the hashes vectorise and only
// the table look-up stays scalar. One hash gives the deviates of two columns.
// `hashes` is scratch for (width + 1) / 2 values.
OKC_ROW_KERNEL void NormalRow(uint64_t seed, int row, uint32_t* hashes, float* out, int width) {
  const auto rowKey = static_cast<uint32_t>(Random(seed ^ (static_cast<uint64_t>(row) << 32)).Next());
  const int pairs = (width + 1) / 2;
  for (int p = 0; p < pairs; ++p) hashes[p] = Mix32(rowKey + static_cast<uint32_t>(p) * 0x9E3779B9u);
  const NormalTable& table = Normals();
  for (int c = 0; c < width; ++c) {
    const uint32_t h = hashes[c >> 1];
    out[c] = table[(c & 1) != 0 ? h >> 8 : h >> (32 - NormalTable::kBits)];  // the table keeps the low 12 bits
  }
}

// Star and hot-pixel counts are given for this array and scale with the area of others.
constexpr double kReferenceArea = 1280.0 * 964.0;
int ScaledCount(int count, const SceneLayout& layout) {
  return static_cast<int>(std::lround(count * (static_cast<double>(layout.columns) * layout.rows / kReferenceArea)));
}

// The mean signal of a pixel in DN, shared by rendering and the expected value so both agree exactly.
inline float MeanDn(float light, float dark, float lightOn, float gainTime) {
  return (light * lightOn + dark) * gainTime;
}

// Rounds to the nearest 12-bit sample, saturating. Branch-free so row loops vectorise;
// the settings are made finite before, so `value` is never NaN.
inline int Quantise(float value) {
  return static_cast<int>(std::min(std::max(value, 0.0f), static_cast<float>(kMaxSample)) + 0.5f);
}

// What one frame row needs beyond the scene: per column parity, gain x time
// for the mean, the share of the scene's light that arrives, and the noise
// terms (both grow with the gain).
struct RowTerms {
  float gainTime[2];
  float lightOn[2];
  float shot[2];  // variance per DN of signal
  float read[2];  // variance of the read noise
  float black;
};

// The 12-bit samples of one row: black + mean (+ sigma x deviate), saturating.
// `deviates` is null for a frame without noise. Selects by parity rather than
// indexing by it, so the loops stay vectorisable.
OKC_ROW_KERNEL void SampleRow(const float* light, const float* dark, const RowTerms& terms, const float* deviates,
                              float* mean, uint16_t* out, int width) {
  // Local copies: the compiler need not fear that writing a row changes them.
  const RowTerms t = terms;
  for (int c = 0; c < width; ++c) {
    const bool odd = (c & 1) != 0;
    mean[c] = MeanDn(light[c], dark[c], odd ? t.lightOn[1] : t.lightOn[0], odd ? t.gainTime[1] : t.gainTime[0]);
  }
  if (deviates) {
    for (int c = 0; c < width; ++c) {
      const bool odd = (c & 1) != 0;
      const float sigma = std::sqrt((odd ? t.shot[1] : t.shot[0]) * std::max(mean[c], 0.0f) + (odd ? t.read[1] : t.read[0]));
      out[c] = static_cast<uint16_t>(Quantise(t.black + mean[c] + sigma * deviates[c]));
    }
  } else {
    for (int c = 0; c < width; ++c) out[c] = static_cast<uint16_t>(Quantise(t.black + mean[c]));
  }
}

// Exposure, gains and black level inside the range a sensor can have, and
// finite, so the arithmetic below stays finite whatever the settings say.
FrameSettings Bounded(FrameSettings s) {
  const auto bound = [](double v, double high) { return v >= 0.0 && v <= high ? v : (v > high ? high : 0.0); };
  s.exposureUs = bound(s.exposureUs, 1e12);
  for (auto& row : s.cellGain) {
    for (double& g : row) g = bound(g, 1e6);
  }
  s.blackLevel = bound(s.blackLevel, 65535.0);
  s.sampleBits = std::clamp(s.sampleBits, 8, 12);
  for (double* factor : {&s.light.brightness, &s.light.red, &s.light.green, &s.light.blue})
    *factor = bound(*factor, 1e6);
  return s;
}

}  // namespace

std::shared_ptr<const SimScene> SimScene::Shared(const SceneLayout& layout) {
  static std::mutex mutex;
  // Never destroyed: streaming threads of cameras still attached at exit may be rendering.
  static auto* scenes = new std::vector<std::shared_ptr<const SimScene>>;
  std::lock_guard lock(mutex);
  for (const auto& scene : *scenes)
    if (scene->layout_ == layout) return scene;
  scenes->push_back(std::make_shared<const SimScene>(layout));
  return scenes->back();
}

SimScene::SimScene(const SceneLayout& layout)
    : layout_(layout),
      light_(static_cast<size_t>(std::max(layout.columns, 0)) * static_cast<size_t>(std::max(layout.rows, 0)), 0.0f),
      dark_(light_.size(), 0.0f) {
  AddSky();
  AddStars();
  AddDarkCurrent();
}

float SimScene::Response(int x, int y, float red, float green, float blue) const {
  switch (layout_.mosaic) {
    case Mosaic::Mono: return (red + green + blue) / 3.0f;
    case Mosaic::GRBG:
      if ((y & 1) == 0) return (x & 1) == 0 ? green : red;
      return (x & 1) == 0 ? blue : green;
    case Mosaic::BGGR:
      if ((y & 1) == 0) return (x & 1) == 0 ? blue : green;
      return (x & 1) == 0 ? green : red;
  }
  return green;
}

float SimScene::LightFactor(int x, int y, const SceneLight& light) const {
  const float cast = Response(x, y, static_cast<float>(light.red), static_cast<float>(light.green),
                              static_cast<float>(light.blue));
  return static_cast<float>(light.brightness) * cast;
}

void SimScene::AddSky() {
  const int columns = layout_.columns, rows = layout_.rows;
  for (int y = 0; y < rows; ++y) {
    for (int x = 0; x < columns; ++x) {
      const float glow = kSkyRate * (1.0f + 0.3f * x / columns + 0.2f * y / rows);
      light_[Index(x, y)] += glow * Response(x, y, kSkyRed, kSkyGreen, kSkyBlue);
    }
  }
}

void SimScene::AddStars() {
  const int columns = layout_.columns, rows = layout_.rows;
  Random random(kLayoutSeed);
  const int stars = ScaledCount(kStarCount, layout_);
  for (int i = 0; i < stars; ++i) {
    const float cx = random.Uniform() * columns;
    const float cy = random.Uniform() * rows;
    // Many faint stars, few bright ones.
    const float u = std::max(random.Uniform(), 1e-3f);
    const float rate = std::min(kFaintStarRate * std::pow(u, -1.5f), kBrightestStarRate);
    const float sigma = kMinStarSigma + random.Uniform() * (kMaxStarSigma - kMinStarSigma);
    // Cool red stars to hot blue ones.
    const float temperature = random.Uniform() * 2.0f - 1.0f;
    const float red = 1.0f - 0.45f * temperature, blue = 1.0f + 0.45f * temperature;

    const int radius = static_cast<int>(std::ceil(4.0f * sigma));
    const float peak = rate / (2.0f * 3.14159265f * sigma * sigma);
    const int x0 = std::max(0, static_cast<int>(cx) - radius), x1 = std::min(columns - 1, static_cast<int>(cx) + radius);
    const int y0 = std::max(0, static_cast<int>(cy) - radius), y1 = std::min(rows - 1, static_cast<int>(cy) + radius);
    for (int y = y0; y <= y1; ++y) {
      for (int x = x0; x <= x1; ++x) {
        const float dx = x + 0.5f - cx, dy = y + 0.5f - cy;
        const float flux = peak * std::exp(-(dx * dx + dy * dy) / (2.0f * sigma * sigma));
        light_[Index(x, y)] += flux * Response(x, y, red, 1.0f, blue);
      }
    }
  }
}

void SimScene::AddDarkCurrent() {
  const int columns = layout_.columns, rows = layout_.rows;
  Random random(kLayoutSeed ^ 0xDA4CDA4Cull);
  for (float& d : dark_) d = kDarkRate * (0.5f + random.Uniform());
  const int hotPixels = ScaledCount(kHotPixelCount, layout_);
  while (static_cast<int>(hotPixels_.size()) < hotPixels) {
    const SensorPixel p{kHotPixelMargin + static_cast<int>(random.Uniform() * (columns - 2 * kHotPixelMargin)),
                        kHotPixelMargin + static_cast<int>(random.Uniform() * (rows - 2 * kHotPixelMargin))};
    const bool crowded = std::any_of(hotPixels_.begin(), hotPixels_.end(), [&p](const SensorPixel& q) {
      return std::abs(p.x - q.x) < kHotPixelSpacing && std::abs(p.y - q.y) < kHotPixelSpacing;
    });
    if (crowded) continue;
    hotPixels_.push_back(p);
    dark_[Index(p.x, p.y)] = kHotPixelMinRate * std::pow(kHotPixelRateSpan, random.Uniform());
  }
}

bool SimScene::WindowFits(const FrameSettings& s, const SceneLayout& layout) {
  return s.x >= 0 && s.y >= 0 && s.width > 0 && s.height > 0 && s.width <= layout.columns - s.x &&
         s.height <= layout.rows - s.y;
}

size_t SimScene::FrameBytes(const FrameSettings& s) const {
  if (!WindowFits(s)) return 0;
  return static_cast<size_t>(s.width) * static_cast<size_t>(s.height) * (s.sixteenBit ? 2 : 1);
}

int SimScene::ExpectedValue(int x, int y, const FrameSettings& settings) const {
  if (x < 0 || y < 0 || x >= layout_.columns || y >= layout_.rows) return -1;
  const FrameSettings s = Bounded(settings);
  const float gainTime = static_cast<float>(s.cellGain[y & 1][x & 1] * s.exposureUs * 1e-6);
  const float lightOn = s.lensCovered ? 0.0f : LightFactor(x, y, s.light);
  const float mean = MeanDn(light_[Index(x, y)], dark_[Index(x, y)], lightOn, gainTime);
  return Quantise(static_cast<float>(s.blackLevel) + mean) >> (12 - s.sampleBits);
}

bool SimScene::Render(const FrameSettings& settings, uint64_t noiseSeed, std::vector<uint8_t>& out) const {
  const FrameSettings s = Bounded(settings);
  const size_t bytes = FrameBytes(s);
  out.resize(bytes);
  if (bytes == 0) return false;

  const bool sixteenBit = s.sixteenBit, leftAligned = s.leftAlignedHighFirst;
  const int bits = s.sampleBits, drop = 12 - s.sampleBits;
  const int width = s.width;
  // Per-row scratch lives with the thread, so a stream of frames allocates nothing.
  thread_local std::vector<float> mean, deviates;
  thread_local std::vector<uint32_t> hashes;
  thread_local std::vector<uint16_t> samples;
  const auto w = static_cast<size_t>(width);
  mean.resize(w);
  samples.resize(w);
  if (s.noise) {
    deviates.resize(w);
    hashes.resize((w + 1) / 2);
  }
  uint16_t* q = samples.data();
  uint8_t* o = out.data();
  for (int row = 0; row < s.height; ++row) {
    const int y = s.y + row;
    RowTerms terms;
    terms.black = static_cast<float>(s.blackLevel);
    for (int p = 0; p < 2; ++p) {
      const double gain = s.cellGain[y & 1][(s.x + p) & 1];
      terms.lightOn[p] = s.lensCovered ? 0.0f : LightFactor(s.x + p, y, s.light);
      terms.gainTime[p] = static_cast<float>(gain * s.exposureUs * 1e-6);
      terms.shot[p] = static_cast<float>(gain * kDnPerElectron);
      terms.read[p] = static_cast<float>(gain * kReadNoiseDn * gain * kReadNoiseDn);
    }
    if (s.noise) NormalRow(noiseSeed, row, hashes.data(), deviates.data(), width);
    SampleRow(&light_[Index(s.x, y)], &dark_[Index(s.x, y)], terms, s.noise ? deviates.data() : nullptr, mean.data(),
              q, width);
    // From 12-bit steps to the sensor's resolution, then into bytes.
    if (drop > 0)
      for (int c = 0; c < width; ++c) q[c] = static_cast<uint16_t>(q[c] >> drop);
    if (!sixteenBit) {
      for (int c = 0; c < width; ++c) o[c] = static_cast<uint8_t>(q[c] >> (bits - 8));
      o += width;
    } else if (leftAligned) {
      for (int c = 0; c < width; ++c) {
        const auto word = static_cast<uint16_t>(q[c] << (16 - bits));
        o[2 * c] = static_cast<uint8_t>(word >> 8);
        o[2 * c + 1] = static_cast<uint8_t>(word);
      }
      o += 2 * static_cast<size_t>(width);
    } else {
      for (int c = 0; c < width; ++c) {
        o[2 * c] = static_cast<uint8_t>(q[c] >> (bits - 8));
        o[2 * c + 1] = static_cast<uint8_t>(q[c] & ((1 << (bits - 8)) - 1));
      }
      o += 2 * static_cast<size_t>(width);
    }
  }
  return true;
}

void StampFrameMarker(std::vector<uint8_t>& frame) {
  if (frame.size() < 4) return;
  frame[0] = 0x11;
  frame[1] = 0xAA;
  frame[2] = 0x00;
  frame[3] = 0xBB;
}

void StampFrameTrailer(std::vector<uint8_t>& frame) {
  if (frame.size() < 8) return;
  const size_t end = frame.size();
  frame[end - 4] = 0xBB;
  frame[end - 3] = 0x00;
  frame[end - 2] = 0xAA;
  frame[end - 1] = 0x11;
}

bool HasFrameMarker(const std::vector<uint8_t>& frame) {
  return frame.size() >= 4 && frame[0] == 0x11 && frame[1] == 0xAA && frame[2] == 0x00 && frame[3] == 0xBB;
}

}  // namespace okc::sim
