// Per-frame cost of the automatic modes and the time mark on a full 1280 x 960
// frame: the exposure measurement, the white-balance step (demosaic and
// window means), the copy of the newest queued frame they measure, and the
// date and time mark on 8-bit and 24-bit output.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "imaging/AutoExposure.h"
#include "imaging/TimeMark.h"
#include "imaging/WhiteBalance.h"

namespace {

using namespace okc::imaging;

constexpr int kWidth = 1280;
constexpr int kHeight = 960;
constexpr size_t kPixels = static_cast<size_t>(kWidth) * kHeight;
const okc::platform::LocalTime kTime{2026, 1, 5, 13, 7, 9, 45};

std::vector<uint8_t> Noise(size_t bytes) {
  std::mt19937 random(42);
  std::vector<uint8_t> data(bytes);
  for (auto& b : data) b = static_cast<uint8_t>(random());
  return data;
}

void SetFrames(benchmark::State& state, size_t frameBytes) {
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * frameBytes));
}

void BM_MeasureBrightness8(benchmark::State& state) {
  const std::vector<uint8_t> frame = Noise(kPixels);
  const RawFrameGeometry g{kWidth, kHeight, 1, false};
  for (auto _ : state) benchmark::DoNotOptimize(MeasureBrightness(frame.data(), frame.size(), g));
  SetFrames(state, frame.size());
}
BENCHMARK(BM_MeasureBrightness8);

void BM_MeasureBrightness16(benchmark::State& state) {
  const std::vector<uint8_t> frame = Noise(2 * kPixels);
  const RawFrameGeometry g{kWidth, kHeight, 1, true};
  for (auto _ : state) benchmark::DoNotOptimize(MeasureBrightness(frame.data(), frame.size(), g));
  SetFrames(state, frame.size());
}
BENCHMARK(BM_MeasureBrightness16);

void BM_AutoWhiBal(benchmark::State& state) {
  const std::vector<uint8_t> frame = Noise(kPixels);
  const RawFrameGeometry g{kWidth, kHeight, 1, false};
  std::vector<uint8_t> scratch;
  WhiteBalanceInput in;
  for (auto _ : state) benchmark::DoNotOptimize(AutoWhiBal(frame.data(), frame.size(), g, 2, in, scratch));
  SetFrames(state, frame.size());
}
BENCHMARK(BM_AutoWhiBal);

void BM_AutoWB(benchmark::State& state) {
  const std::vector<uint8_t> rgb = Noise(3 * kPixels);
  WhiteBalanceInput in;
  for (auto _ : state) benchmark::DoNotOptimize(AutoWB(rgb.data(), rgb.size(), kWidth, kHeight, in));
  SetFrames(state, rgb.size());
}
BENCHMARK(BM_AutoWB);

void BM_TimeMark(benchmark::State& state) {
  const IMAGE_TYPE type = state.range(0) == 3 ? IMAGE_RGB24 : IMAGE_8BIT;
  std::vector<uint8_t> frame = Noise(kPixels * static_cast<size_t>(state.range(0)));
  for (auto _ : state) {
    AddTimeMark(frame.data(), frame.size(), kWidth, kHeight, type, kTime);
    benchmark::ClobberMemory();
  }
  SetFrames(state, frame.size());
}
BENCHMARK(BM_TimeMark)->Arg(1)->Arg(3);

}  // namespace

BENCHMARK_MAIN();
