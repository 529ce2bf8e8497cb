// Cost of GetImage on a full 1280 x 960 TAVC frame in each output format: the
// copy out of the frame queue, the header repair, the stages and the output
// conversion. The frame queue is fed directly with a synthetic marked frame;
// no USB is involved (the simulator is installed with no camera attached).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "core/FrameDelivery.h"
#include "models/TavcFrame.h"
#include "okccamera/CCameraTAVC.h"
#include "okccamera/SimCameras.h"
#include "platform/SettingsStore.h"

namespace {

constexpr int kWidth = 1280;
constexpr int kHeight = 960;
constexpr size_t kPixels = static_cast<size_t>(kWidth) * kHeight;

// A camera object that never touches a real device or the user's settings.
struct BenchCamera {
  BenchCamera() {
    std::string pattern = (std::filesystem::temp_directory_path() / "okc-bench-XXXXXX").string();
    if (mkdtemp(pattern.data())) settingsDir = pattern;
    okc::platform::SetSettingsDirectory(settingsDir);
    okc::sim::InstallSimulator();
    camera = std::make_unique<CCameraTAVC>();
  }
  ~BenchCamera() {
    camera.reset();
    okc::sim::RemoveSimulator();
    okc::platform::SetSettingsDirectory("");
    std::error_code ignored;
    if (!settingsDir.empty()) std::filesystem::remove_all(settingsDir, ignored);
  }
  std::string settingsDir;
  std::unique_ptr<CCameraTAVC> camera;
};

// A noisy raw frame that starts with the frame marker.
std::vector<uint8_t> MarkedFrame(size_t bytes) {
  std::mt19937 random(7);
  std::vector<uint8_t> frame(bytes);
  for (auto& b : frame) b = static_cast<uint8_t>(random());
  frame[0] = 0x11;
  frame[1] = 0xAA;
  frame[2] = 0x00;
  frame[3] = 0xBB;
  return frame;
}

void RunGetImage(benchmark::State& state, IMAGE_TYPE type, bool rawOutput, int gamma) {
  BenchCamera bench;
  CCameraTAVC& cam = *bench.camera;
  cam.width = kWidth;
  cam.height = kHeight;
  cam.bin = 1;
  cam.imageType = type;
  cam.rawOutput = rawOutput;
  cam.output16Bits = type == IMAGE_16BIT;
  cam.flipRow = true;
  cam.flipColumn = false;
  // Long enough that GetImage does not wait for a second frame to look at.
  cam.exposure = 200000;
  cam.SetGamma(gamma);

  const std::vector<uint8_t> frame = MarkedFrame(okc::models::TavcRawFrameBytes(kWidth, kHeight, 1, cam.output16Bits));
  std::vector<uint8_t> out(kPixels * okc::core::OutputBytesPerPixel(type, okc::core::DeliveryVariant{}));
  for (auto _ : state) {
    state.PauseTiming();
    cam.frameQueue->Push(frame.data(), frame.size());
    state.ResumeTiming();
    if (!cam.GetImage(out.data(), static_cast<int>(out.size()), 0)) state.SkipWithError("no frame delivered");
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kPixels));
}

void BM_GetImageRaw8(benchmark::State& state) { RunGetImage(state, IMAGE_8BIT, true, 50); }
void BM_GetImageRaw8Gamma(benchmark::State& state) { RunGetImage(state, IMAGE_8BIT, true, 80); }
void BM_GetImageY8(benchmark::State& state) { RunGetImage(state, IMAGE_8BIT, false, 50); }
void BM_GetImageRGB24(benchmark::State& state) { RunGetImage(state, IMAGE_RGB24, false, 50); }
void BM_GetImageYUV422(benchmark::State& state) { RunGetImage(state, IMAGE_YUV422, false, 50); }
void BM_GetImageRaw16(benchmark::State& state) { RunGetImage(state, IMAGE_16BIT, true, 50); }
void BM_GetImageRaw16Gamma(benchmark::State& state) { RunGetImage(state, IMAGE_16BIT, true, 80); }

BENCHMARK(BM_GetImageRaw8)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GetImageRaw8Gamma)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GetImageY8)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GetImageRGB24)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GetImageYUV422)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GetImageRaw16)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GetImageRaw16Gamma)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
