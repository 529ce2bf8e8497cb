#include "imaging/AutoExposure.h"

#include <algorithm>
#include <limits>

#include "imaging/FrameBytes.h"

namespace okc::imaging {

namespace {

// From this exposure on the gain is raised to its limit before the exposure grows.
constexpr uint64_t kLongExposureUs = 100000;
// Exposures of fewer lines than this move the brightness in big jumps per line.
constexpr uint32_t kShortExposureLines = 3;
// Proportional step divisors: lengthening reacts twice as fast as shortening.
constexpr uint64_t kLengthenDivisor = 200;
constexpr uint64_t kShortenDivisor = 400;
constexpr int kMaxBrightness = 255;

// T - p% of T and T + p% of T, in 64 bits so that no target overflows.
int64_t Below(int64_t target, int percent) { return target - (percent * target) / 100; }
int64_t Above(int64_t target, int percent) { return target + (percent * target) / 100; }

// E x delta / divisor, saturating instead of wrapping for absurd exposures.
uint64_t Step(uint64_t exposureUs, uint64_t delta, uint64_t divisor) {
  uint64_t product = 0;
  if (__builtin_mul_overflow(exposureUs, delta, &product)) return std::numeric_limits<uint64_t>::max() / divisor;
  return product / divisor;
}

// The running state of one step: the gain is re-read after every change, as
// the model's SetGain stores (and clamps) it at once.
class Stepper {
 public:
  Stepper(int brightness, const AutoExposureInput& in)
      : in_(in), brightness_(brightness), target_(in.destBrightness), exposure_(in.exposureUs), gain_(in.gain) {
    const int64_t seconds = std::max(in.autoExpMaxSeconds, 0);
    exposureLimit_ = static_cast<uint64_t>(seconds) * 1000000u;
  }

  void SetGain(int64_t gain) { gain_ = static_cast<int>(std::clamp<int64_t>(gain, in_.gainMin, in_.gainMax)); }
  void Up(int by) { SetGain(std::min<int64_t>(int64_t{gain_} + by, in_.autoGainMax)); }
  void Down1() { SetGain(std::max<int64_t>(int64_t{gain_} - 1, 1)); }
  bool GainAtLimit() const { return gain_ == in_.autoGainMax; }

  void Lengthen() {
    const uint64_t delta = static_cast<uint64_t>(target_ - brightness_);
    const uint64_t grown = exposure_ + Step(exposure_, delta, kLengthenDivisor);
    exposure_ = std::min(grown < exposure_ ? std::numeric_limits<uint64_t>::max() : grown, exposureLimit_);
  }
  void Shorten() {
    const uint64_t cut = Step(exposure_, static_cast<uint64_t>(brightness_ - target_), kShortenDivisor);
    // A target far below zero would cut more than the whole exposure.
    exposure_ = cut < exposure_ ? exposure_ - cut : 1;
  }

  uint64_t Exposure() const { return exposure_; }
  int Gain() const { return gain_; }

 private:
  const AutoExposureInput& in_;
  const int64_t brightness_;
  const int64_t target_;
  uint64_t exposureLimit_ = 0;
  uint64_t exposure_;
  int gain_;
};

}  // namespace

size_t RawFrameGeometry::FrameBytes() const {
  if (bin < 1) return 0;
  return okc::imaging::FrameBytes(static_cast<long long>(width) * bin, static_cast<long long>(height) * bin,
                                  sixteenBit ? 2 : 1)
      .value_or(0);
}

std::optional<int> MeasureBrightness(const uint8_t* frame, size_t bytes, const RawFrameGeometry& g) {
  const size_t frameBytes = g.FrameBytes();
  if (!frame || frameBytes == 0 || bytes < frameBytes) return std::nullopt;
  const size_t w = static_cast<size_t>(g.RawWidth());
  const size_t h = static_cast<size_t>(g.RawHeight());
  const size_t step = g.sixteenBit ? 2 : 1;  // the first byte of a 16-bit sample holds its high bits
  uint64_t sum = 0;
  for (size_t y = h / 5; y < 4 * h / 5; y += 3) {
    const uint8_t* row = frame + y * w * step;
    for (size_t x = w / 5; x < 4 * w / 5; x += 3) sum += row[x * step];
  }
  // N is about the number of samples read; a frame under 25 pixels has none to speak of.
  const uint64_t bin2 = static_cast<uint64_t>(g.bin) * static_cast<uint64_t>(g.bin);
  const uint64_t n = static_cast<uint64_t>(g.height) * bin2 * static_cast<uint64_t>(g.width) / 25;
  if (n == 0) return std::nullopt;
  const uint64_t brightness = (sum / n + 1) * bin2;
  return static_cast<int>(std::min<uint64_t>(brightness, kMaxBrightness));
}

AutoExposureDecision DecideAutoExposure(int brightness, const AutoExposureInput& in) {
  AutoExposureDecision d;
  d.measured = true;
  d.brightness = brightness;
  d.exposureBeforeUs = d.exposureUs = in.exposureUs;
  d.gainBefore = d.gain = in.gain;
  if (!in.autoExp && !in.autoGain) return d;

  const int64_t b = brightness;
  const int64_t t = in.destBrightness;
  if (b >= Below(t, 15) && b <= Above(t, 15)) return d;  // dead band

  const uint32_t lines = std::max<uint32_t>(in.exposureLines, 1);
  const bool isShort = lines < kShortExposureLines;
  const bool isLong = in.exposureUs > kLongExposureUs;
  // At 2 lines moderate errors (30 %), at 1 line larger ones (45 %) go to the gain.
  const int shortPercent = lines == 2 ? 30 : 45;

  Stepper s(brightness, in);
  if (b < Below(t, 15)) {
    const bool gainWillDo = isShort && b > Below(t, shortPercent);
    if (!in.autoExp) {
      s.Up(2);
    } else if (in.autoGain) {
      s.Up(1);
      if (isLong) {
        if (!s.GainAtLimit()) {
          s.Up(2);
        } else {
          s.Lengthen();
        }
      } else if (gainWillDo) {
        s.Up(1);
      } else {
        s.Lengthen();
        s.Up(1);
      }
    } else if (!gainWillDo) {
      s.Lengthen();
    }
  } else {
    const bool gainWillDo = isShort && b < Above(t, shortPercent);
    if (!in.autoExp) {
      s.SetGain(int64_t{in.gain} - 1);
    } else if (isLong) {
      s.Shorten();
    } else if (!in.autoGain) {
      if (!gainWillDo) s.Shorten();
    } else {
      if (!gainWillDo) s.Shorten();
      s.Down1();
      if (isShort) s.Down1();
    }
  }
  d.exposureUs = s.Exposure();
  d.gain = s.Gain();
  d.exposureChanged = d.exposureUs != in.exposureUs;
  d.gainChanged = d.gain != in.gain;
  return d;
}

AutoExposureDecision AutoExposureStep(const uint8_t* frame, size_t bytes, const RawFrameGeometry& geometry,
                                      const AutoExposureInput& input) {
  const std::optional<int> brightness = MeasureBrightness(frame, bytes, geometry);
  if (!brightness) {
    AutoExposureDecision unchanged;
    unchanged.exposureBeforeUs = unchanged.exposureUs = input.exposureUs;
    unchanged.gainBefore = unchanged.gain = input.gain;
    return unchanged;
  }
  return DecideAutoExposure(*brightness, input);
}

}  // namespace okc::imaging
