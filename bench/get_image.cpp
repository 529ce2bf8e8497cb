// Cost of GetImage on a full 1280 x 960 TAVC frame in each output format: the
// header repair, the stages and the output conversion, from the frame queue
// into the host's buffer. The frame queue is fed directly with a synthetic
// marked frame; no USB is involved (the simulator is installed with no camera
// attached).
//
// Argument 1 is the one-pass delivery, 0 the stages one after the other. With
// OpenCV at build time the same run times its Bayer -> BGR bilinear demosaic
// on one thread and prints each format's CPU time as a ratio of it (CPU time:
// on a shared machine the clock also counts other programs' turns). OKC_SIMD=
// portable|ssse3|avx2 limits the kernels' instruction set.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdint>
#include <map>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "core/FrameDelivery.h"
#include "imaging/SimdLevel.h"
#include "models/TavcFrame.h"
#include "okccamera/CCameraTAVC.h"
#include "okccamera/SimCameras.h"
#include "platform/SettingsStore.h"

#ifdef OKC_BENCH_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

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
  okc::core::EnableFusedDelivery(state.range(0) != 0);
  for (auto _ : state) {
    state.PauseTiming();
    cam.frameQueue->Push(frame.data(), frame.size());
    state.ResumeTiming();
    if (!cam.GetImage(out.data(), static_cast<int>(out.size()), 0)) state.SkipWithError("no frame delivered");
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kPixels));
  okc::core::EnableFusedDelivery(true);
}

void BM_GetImageRaw8(benchmark::State& state) { RunGetImage(state, IMAGE_8BIT, true, 50); }
void BM_GetImageRaw8Gamma(benchmark::State& state) { RunGetImage(state, IMAGE_8BIT, true, 80); }
void BM_GetImageY8(benchmark::State& state) { RunGetImage(state, IMAGE_8BIT, false, 50); }
void BM_GetImageRGB24(benchmark::State& state) { RunGetImage(state, IMAGE_RGB24, false, 50); }
void BM_GetImageYUV422(benchmark::State& state) { RunGetImage(state, IMAGE_YUV422, false, 50); }
void BM_GetImageRaw16(benchmark::State& state) { RunGetImage(state, IMAGE_16BIT, true, 50); }
void BM_GetImageRaw16Gamma(benchmark::State& state) { RunGetImage(state, IMAGE_16BIT, true, 80); }

#ifdef OKC_BENCH_OPENCV
// The yardstick: OpenCV's bilinear Bayer -> BGR demosaic alone, on one thread.
void BM_OpenCvBayerToBgr(benchmark::State& state) {
  cv::setNumThreads(1);
  const std::vector<uint8_t> frame = MarkedFrame(kPixels);
  const cv::Mat bayer(kHeight, kWidth, CV_8UC1, const_cast<uint8_t*>(frame.data()));
  cv::Mat bgr(kHeight, kWidth, CV_8UC3);
  for (auto _ : state) {
    cv::cvtColor(bayer, bgr, cv::COLOR_BayerBG2BGR);
    benchmark::DoNotOptimize(bgr.data);
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kPixels));
}
BENCHMARK(BM_OpenCvBayerToBgr)->Unit(benchmark::kMillisecond);
#endif

BENCHMARK(BM_GetImageRaw8)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GetImageRaw8Gamma)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GetImageY8)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GetImageRGB24)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GetImageYUV422)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GetImageRaw16)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GetImageRaw16Gamma)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

// The console report, keeping each benchmark's time per iteration for the ratios.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    // With repetitions the median (reported after the runs) is kept.
    for (const Run& run : runs)
      if (!run.error_occurred && (run.run_type == Run::RT_Iteration || run.aggregate_name == "median"))
        seconds_[run.run_name.str()] = run.GetAdjustedCPUTime();
    ConsoleReporter::ReportRuns(runs);
  }
  void PrintRatios() const {
    const auto yardstick = seconds_.find("BM_OpenCvBayerToBgr");
    if (yardstick == seconds_.end()) {
      std::printf("\n(built without OpenCV: no ratios)\n");
      return;
    }
    std::printf("\nkernels: %s; CPU time as a ratio of OpenCV bilinear Bayer -> BGR (%.3f ms), one thread\n",
                okc::imaging::SimdLevelName(okc::imaging::ActiveSimdLevel()), yardstick->second);
    for (const auto& [name, time] : seconds_)
      if (name != yardstick->first) std::printf("  %-28s %6.2fx\n", name.c_str(), time / yardstick->second);
  }

 private:
  std::map<std::string, double> seconds_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintRatios();
  benchmark::Shutdown();
  return 0;
}
