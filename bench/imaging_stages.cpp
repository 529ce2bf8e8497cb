// Cost of each per-frame image stage on a full 1280 x 960 frame.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <random>
#include <vector>

#include "imaging/Binning.h"
#include "imaging/ColourConvert.h"
#include "imaging/ColourTables.h"
#include "imaging/Demosaic.h"
#include "imaging/Flip.h"
#include "imaging/ToneTables.h"

namespace {

using namespace okc::imaging;

constexpr int kWidth = 1280;
constexpr int kHeight = 960;
constexpr size_t kPixels = static_cast<size_t>(kWidth) * kHeight;

std::vector<uint8_t> Noise(size_t bytes) {
  std::mt19937 random(42);
  std::vector<uint8_t> data(bytes);
  for (auto& b : data) b = static_cast<uint8_t>(random());
  return data;
}

struct ToneTables {
  explicit ToneTables(int gamma) { BuildToneTables(gamma, t8, Table16()); }
  std::span<uint16_t, kToneTable16Entries> Table16() {
    return std::span<uint16_t, kToneTable16Entries>(t16.get(), kToneTable16Entries);
  }
  uint8_t t8[kToneTable8Entries] = {};
  std::unique_ptr<uint16_t[]> t16 = std::make_unique<uint16_t[]>(kToneTable16Entries);
};

void SetPixels(benchmark::State& state, size_t bytesPerPixelRead) {
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kPixels));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kPixels * bytesPerPixelRead));
}

void BM_BuildToneTables(benchmark::State& state) {
  ToneTables tables(50);
  for (auto _ : state) {
    BuildToneTables(80, tables.t8, tables.Table16());
    benchmark::DoNotOptimize(tables.t8);
  }
}
BENCHMARK(BM_BuildToneTables)->Unit(benchmark::kMillisecond);

void BM_ApplyTone8(benchmark::State& state) {
  ToneTables tables(80);
  auto frame = Noise(kPixels);
  for (auto _ : state) {
    ApplyTone8(frame, 80, tables.t8);
    benchmark::ClobberMemory();
  }
  SetPixels(state, 1);
}
BENCHMARK(BM_ApplyTone8)->Unit(benchmark::kMicrosecond);

void BM_ApplyTone16(benchmark::State& state) {
  ToneTables tables(80);
  auto frame = Noise(kPixels * 2);
  for (auto _ : state) {
    ApplyTone16(frame, 80, tables.Table16());
    benchmark::ClobberMemory();
  }
  SetPixels(state, 2);
}
BENCHMARK(BM_ApplyTone16)->Unit(benchmark::kMicrosecond);

// Arguments: bytes per sample, flipRow, flipColumn.
void BM_SoftMisc(benchmark::State& state) {
  const int bytes = static_cast<int>(state.range(0));
  auto frame = Noise(kPixels * static_cast<size_t>(bytes));
  for (auto _ : state) {
    SoftMisc(frame, kWidth, kHeight, bytes, state.range(1) != 0, state.range(2) != 0);
    benchmark::ClobberMemory();
  }
  SetPixels(state, static_cast<size_t>(bytes));
}
BENCHMARK(BM_SoftMisc)->Args({1, 1, 0})->Args({1, 0, 1})->Args({1, 1, 1})->Args({2, 1, 0})->Args({2, 1, 1})
    ->Unit(benchmark::kMicrosecond);

// Argument: 1 for 16-bit samples. Binning in place repeatedly costs the same each time.
void BM_SoftBinRaw2(benchmark::State& state) {
  const bool sixteenBit = state.range(0) != 0;
  auto frame = Noise(kPixels * (sixteenBit ? 2 : 1));
  for (auto _ : state) {
    SoftBinRaw(frame, kHeight / 2, kWidth / 2, 2, sixteenBit);
    benchmark::ClobberMemory();
  }
  SetPixels(state, sixteenBit ? 2 : 1);
}
BENCHMARK(BM_SoftBinRaw2)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

void BM_SoftBinRGB2(benchmark::State& state) {
  const auto src = Noise(kPixels * 3);
  std::vector<uint8_t> dst(kPixels * 3 / 4);
  for (auto _ : state) {
    SoftBinRGB(src, dst, kWidth / 2, kHeight / 2, 2);
    benchmark::ClobberMemory();
  }
  SetPixels(state, 3);
}
BENCHMARK(BM_SoftBinRGB2)->Unit(benchmark::kMicrosecond);

// Argument: 1 to mirror both ways (the demosaic then runs another cell layout).
void BM_Bayer2RGB24(benchmark::State& state) {
  const auto raw = Noise(kPixels);
  std::vector<uint8_t> rgb(kPixels * 3);
  const bool flip = state.range(0) != 0;
  for (auto _ : state) {
    Bayer2RGB24(raw, rgb, kWidth, kHeight, 2, flip, flip);
    benchmark::ClobberMemory();
  }
  SetPixels(state, 1);
}
BENCHMARK(BM_Bayer2RGB24)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

void BM_RGB24ToY8(benchmark::State& state) {
  const auto rgb = Noise(kPixels * 3);
  std::vector<uint8_t> y(kPixels);
  for (auto _ : state) {
    RGB24ToY8(rgb, y, kWidth, kHeight);
    benchmark::ClobberMemory();
  }
  SetPixels(state, 3);
}
BENCHMARK(BM_RGB24ToY8)->Unit(benchmark::kMicrosecond);

void BM_RGB24ToYUV(benchmark::State& state) {
  const auto rgb = Noise(kPixels * 3);
  std::vector<uint8_t> yuv(kPixels * 2);
  for (auto _ : state) {
    RGB24ToYUV(rgb, yuv, kWidth, kHeight);
    benchmark::ClobberMemory();
  }
  SetPixels(state, 3);
}
BENCHMARK(BM_RGB24ToYUV)->Unit(benchmark::kMicrosecond);

void BM_GreyToRGB24(benchmark::State& state) {
  const auto grey = Noise(kPixels);
  std::vector<uint8_t> rgb(kPixels * 3);
  for (auto _ : state) {
    GreyToRGB24(grey, rgb, kWidth, kHeight);
    benchmark::ClobberMemory();
  }
  SetPixels(state, 1);
}
BENCHMARK(BM_GreyToRGB24)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
