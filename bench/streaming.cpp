// What the simulated cameras cost while they stream, and how well they keep time.
//
// 1. CPU time of one full frame in the simulated camera, per sensor: rendered
//    with noise, marked, handed to the bulk stream and copied into the host's
//    transfer, the way the streaming thread does it (buffer reuse included).
// 2. Streaming through the exported C functions (okcUseSimulatedCameras,
//    openCamera, initCamera, startCapture, getImageData) on a simulated TAVC,
//    full frame and then a 320 x 240 region: frames delivered and dropped (the
//    simulated camera counts the frames it made and those it dropped because
//    the host had not taken the one before), the achieved rate against the
//    rate of the sensor's registers, and CPU time per delivered frame for the
//    whole process, the simulator's streaming thread and the rest (the driver:
//    its capture thread and getImageData in the host's thread).
//
// Usage: bench_streaming [full frames, default 300] [region frames, default 1000]
// A long run keeps to one core with taskset -c 1 (CPU figures are CPU time, so
// other programs on the machine change them little; the rates they do change).
#include <pthread.h>
#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "okccamera/SimCameras.h"
#include "okccamera/UsbDriver.h"
#include "okccamera/okccamera.h"
#include "platform/SettingsStore.h"
#include "sim/SensorDescription.h"
#include "sim/SimBulkStream.h"
#include "sim/SimScene.h"
#include "sim/SimStreamer.h"

namespace {

using namespace okc;

double CpuMs(clockid_t clock) {
  timespec t{};
  if (clock_gettime(clock, &t) != 0) return 0;
  return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

double RealMs() { return CpuMs(CLOCK_MONOTONIC); }

// ---- 1. one full frame per sensor ----

void FullFrameCost(int frames) {
  std::printf("CPU time of one full frame in the simulated camera (render with noise + deliver), %d frames each\n",
              frames);
  const sim::Model models[] = {sim::Model::TAVC, sim::Model::TAVM, sim::Model::PIMC, sim::Model::SELC,
                               sim::Model::SELM, sim::Model::RENM, sim::Model::DORC};
  for (sim::Model model : models) {
    const sim::SensorDescription* sensor = sim::SensorOf(model);
    if (!sensor) continue;
    const sim::SimScene& scene = *sim::SimScene::Shared(sensor->array);
    sim::FrameSettings s{.x = 0, .y = 0, .width = sensor->array.columns, .height = sensor->array.rows,
                         .exposureUs = 10000, .cellGain = {{{2.0, 2.0}, {2.0, 2.0}}}};
    s.sampleBits = sensor->sampleBits;
    sim::BulkStream bulk;
    std::vector<uint8_t> frame, host(scene.FrameBytes(s));
    const auto deliver = [&](uint64_t n) {
      scene.Render(s, sim::NoiseSeedOfFrame(n), frame);
      sim::StampFrameMarker(frame);
      bulk.Submit({.io = std::make_shared<sim::IoCompletion>(), .buffer = host.data(), .length = host.size()});
      bulk.Push(std::move(frame));
      frame = bulk.TakeSpentChunk();
    };
    deliver(0);  // the scene is built and the buffers exist
    const double start = CpuMs(CLOCK_THREAD_CPUTIME_ID);
    for (int i = 1; i <= frames; ++i) deliver(static_cast<uint64_t>(i));
    const double perFrame = (CpuMs(CLOCK_THREAD_CPUTIME_ID) - start) / frames;
    std::printf("  %-6s %4d x %-4d %5.2f ms\n", sim::ShortNameOf(model), s.width, s.height, perFrame);
  }
}

// ---- 2. streaming through the exported functions ----

// CPU time of a thread of this process by its id, from the scheduler's count.
double ThreadCpuMs(const std::string& tid) {
  std::ifstream stat("/proc/self/task/" + tid + "/schedstat");
  unsigned long long ns = 0;
  stat >> ns;
  return static_cast<double>(ns) / 1e6;
}

// The CPU time of the simulator's streaming threads.
double SimulatorCpuMs() {
  double ms = 0;
  std::error_code error;
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task", error)) {
    std::ifstream comm(task.path() / "comm");
    std::string name;
    std::getline(comm, name);
    if (name == sim::SimStreamer::kThreadName) ms += ThreadCpuMs(task.path().filename().string());
  }
  return ms;
}

struct Snapshot {
  double realMs = 0;
  double processMs = 0;
  double simulatorMs = 0;
  uint64_t produced = 0;
  uint64_t droppedAtCamera = 0;
  unsigned lostByCamera = 0;
  unsigned notCollected = 0;
};

Snapshot Take(const sim::SimCamera& camera) {
  Snapshot s;
  s.realMs = RealMs();
  s.processMs = CpuMs(CLOCK_PROCESS_CPUTIME_ID);
  s.simulatorMs = SimulatorCpuMs();
  s.produced = camera.FramesProduced();
  s.droppedAtCamera = camera.FramesDroppedAtDevice();
  okcGetDropCounts(&s.lostByCamera, &s.notCollected);
  return s;
}

bool Stream(const char* label, int width, int height, int frames) {
  if (!setImageFormat(width, height, 1, IMGTYPE_RAW8)) {
    std::fprintf(stderr, "%s: setImageFormat(%d, %d) refused\n", label, width, height);
    return false;
  }
  auto* bus = dynamic_cast<sim::SimBus*>(&usb::ActiveDriver());
  if (!bus || bus->Cameras().empty()) return false;
  const std::shared_ptr<sim::SimCamera> camera = bus->Cameras().front();
  std::vector<unsigned char> image(static_cast<size_t>(width) * static_cast<size_t>(height));
  const int size = static_cast<int>(image.size());

  startCapture();
  // The first frame starts the count: the stream is up and the threads exist.
  if (!getImageData(image.data(), size, 5000)) {
    std::fprintf(stderr, "%s: no first frame\n", label);
    stopCapture();
    return false;
  }
  const double registerRate = 1e6 / camera->Sensor().framePeriodUs;
  const Snapshot before = Take(*camera);
  int delivered = 0, timeouts = 0;
  while (delivered < frames && timeouts < 3) {
    if (getImageData(image.data(), size, 5000)) {
      ++delivered;
    } else {
      ++timeouts;
    }
  }
  const Snapshot after = Take(*camera);
  stopCapture();

  const double seconds = (after.realMs - before.realMs) / 1e3;
  const double n = delivered > 0 ? delivered : 1;
  const double simulator = after.simulatorMs - before.simulatorMs;
  const double process = after.processMs - before.processMs;
  std::printf("\n%s, %d x %d raw8, %d frames asked\n", label, width, height, frames);
  std::printf("  delivered %d in %.2f s; camera made %llu, dropped %llu (host had not taken the one before);"
              " driver dropped %u spoiled + %u not collected; %d timeouts\n",
              delivered, seconds, static_cast<unsigned long long>(after.produced - before.produced),
              static_cast<unsigned long long>(after.droppedAtCamera - before.droppedAtCamera),
              after.lostByCamera - before.lostByCamera, after.notCollected - before.notCollected, timeouts);
  std::printf("  rate %.2f frames/s delivered, %.2f made, registers give %.2f (%.1f %%)\n", delivered / seconds,
              static_cast<double>(after.produced - before.produced) / seconds, registerRate,
              100.0 * delivered / seconds / registerRate);
  std::printf("  CPU per delivered frame: process %.3f ms, simulator thread %.3f ms, driver and host %.3f ms"
              " (%.0f %% of one core in all)\n",
              process / n, simulator / n, (process - simulator) / n, 100.0 * process / (after.realMs - before.realMs));
  return delivered == frames;
}

}  // namespace

int main(int argc, char** argv) {
  const int fullFrames = argc > 1 ? std::atoi(argv[1]) : 300;
  const int regionFrames = argc > 2 ? std::atoi(argv[2]) : 1000;
  if (fullFrames <= 0 || regionFrames <= 0) {
    std::fprintf(stderr, "usage: %s [full frames] [region frames]\n", argv[0]);
    return 2;
  }
  FullFrameCost(50);

  // Settings go to a folder of our own, not the user's.
  std::string folder = (std::filesystem::temp_directory_path() / "okc-bench-XXXXXX").string();
  if (!mkdtemp(folder.data())) return 1;
  platform::SetSettingsDirectory(folder);
  bool ok = okcUseSimulatedCameras("TAVC") == 1 && openCamera(0) && initCamera();
  if (ok) {
    setValue(CTRL_EXPOSURE, 1000, false);  // 1 ms: the frame period follows the window alone
    ok = Stream("TAVC full frame", getMaxWidth(), getMaxHeight(), fullFrames);
    ok = Stream("TAVC region", 320, 240, regionFrames) && ok;
    closeCamera();
  } else {
    std::fprintf(stderr, "no simulated TAVC\n");
  }
  platform::SetSettingsDirectory("");
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
  return ok ? 0 : 1;
}
