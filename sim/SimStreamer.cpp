#include "sim/SimStreamer.h"

#include <pthread.h>

#include <algorithm>
#include <chrono>
#include <cmath>

#include "okccamera/Clock.h"
#include "sim/SimCameraImpl.h"

namespace okc::sim {
namespace {

// Sleep steps on a clock that moves only when told: short, so AA, unplug and
// destruction stop the thread within a few milliseconds of that clock.
constexpr uint64_t kSleepStepMs = 2;
// On a clock that follows real time the thread waits on its condition variable,
// which commands notify; the wait still ends this often (clock time) to notice
// a clock swapped in meanwhile.
constexpr uint64_t kWaitStepUs = 10000;
// How long a device told to vanish waits for the host to take its last frame.
constexpr uint64_t kUnplugGraceUs = 10000000;
// While the sensor cannot stream (window or clock not programmed), it looks again this often.
constexpr uint64_t kNotReadyRetryUs = 10000;

}  // namespace

uint64_t NextFrameStartUs(uint64_t dueUs, double periodUs, uint64_t nowUs) {
  const double catchUpUs = std::min(periodUs, std::max(periodUs / 8, 1000.0));
  const double earliest = static_cast<double>(nowUs) - catchUpUs;
  return earliest > static_cast<double>(dueUs) ? static_cast<uint64_t>(std::llround(earliest)) : dueUs;
}

uint64_t NoiseSeedOfFrame(uint64_t frameNumber) {
  return 0x5EED5EED00000000ull ^ (frameNumber * 0x9E3779B97F4A7C15ull);
}

std::optional<StreamSnapshot> SnapshotOf(const SimSensorState& sensor, const SceneLayout& array) {
  if (!(sensor.pixelClockMhz > 0) || sensor.lineLength == 0 || !(sensor.framePeriodUs > 0)) return std::nullopt;
  StreamSnapshot snap;
  FrameSettings& f = snap.frame;
  f.x = sensor.x;
  f.y = sensor.y;
  f.width = sensor.width;
  f.height = sensor.height;
  if (!SimScene::WindowFits(f, array)) return std::nullopt;
  f.sixteenBit = sensor.sixteenBit;
  f.exposureUs = sensor.integrationUs;
  f.blackLevel = sensor.blackLevel;
  f.cellGain = sensor.cellGain;
  snap.periodUs = std::max(sensor.framePeriodUs, kMinFramePeriodUs);
  const uint32_t lines = sensor.frameLength > 0 ? sensor.frameLength : static_cast<uint32_t>(sensor.height);
  snap.readoutUs = lines * static_cast<double>(sensor.lineLength) / sensor.pixelClockMhz;
  return snap;
}

SimStreamer::SimStreamer(StreamPort& port, const SceneLayout& array, bool trailer)
    : port_(port), array_(array), trailer_(trailer) {}

SimStreamer::~SimStreamer() { Shutdown(); }

uint64_t SimStreamer::NowUs() { return platform::TickCountUs(); }

void SimStreamer::Replan() {
  epoch_.fetch_add(1);
  wake_.notify_all();
}

// --- controller commands ---

void SimStreamer::StreamOn() {
  std::lock_guard lock(mutex_);
  if (quit_) return;
  if (!thread_.joinable()) thread_ = std::thread([this] { Run(); });
  streaming_ = true;
  frameStartUs_ = NowUs();
  if (longFramePending_) {
    wake_.notify_all();  // the host-timed frame on its way stays
  } else {
    Replan();  // starts, or restarts, the frame in progress
  }
}

void SimStreamer::StreamOff() {
  std::lock_guard lock(mutex_);
  streaming_ = false;
  longFramePending_ = false;
  Replan();
}

void SimStreamer::LongExposureBegin() {
  std::lock_guard lock(mutex_);
  inLongExposure_ = true;
  longExposureStartUs_ = NowUs();
  if (!longFramePending_) Replan();  // normal frames stop
}

void SimStreamer::LongExposureEnd() {
  std::lock_guard lock(mutex_);
  if (inLongExposure_) {
    inLongExposure_ = false;
    if (streaming_) {
      longFramePending_ = true;
      longExposureEndUs_ = NowUs();
      Replan();
    }
  } else if (streaming_ && !longFramePending_) {
    frameStartUs_ = NowUs();  // restarts the frame in progress
    Replan();
  }
}

void SimStreamer::RestartFrame() {
  std::lock_guard lock(mutex_);
  if (!streaming_ || inLongExposure_ || longFramePending_) return;
  frameStartUs_ = NowUs();
  Replan();
}

void SimStreamer::Stop() {
  std::lock_guard lock(mutex_);
  quit_ = true;
  Replan();
}

void SimStreamer::Shutdown() {
  Stop();
  std::thread thread;
  {
    std::lock_guard lock(mutex_);
    thread.swap(thread_);
  }
  if (!thread.joinable()) return;
  if (thread.get_id() == std::this_thread::get_id()) {
    thread.detach();  // it ends by itself right after this
  } else {
    thread.join();
  }
}

// --- the thread ---

bool SimStreamer::HasWork() const {
  return !stalled_ && (longFramePending_ || (streaming_ && !inLongExposure_));
}

bool SimStreamer::SleepUntil(uint64_t untilUs, uint64_t epoch) {
  std::unique_lock lock(mutex_);
  for (;;) {
    if (quit_ || epoch_ != epoch) return false;
    platform::Clock& clock = platform::ActiveClock();
    const uint64_t now = clock.NowUs();
    if (now >= untilUs) return true;
    const uint64_t leftUs = std::min(untilUs - now, kWaitStepUs);
    if (const std::optional<uint64_t> realUs = clock.RealUsFor(leftUs)) {
      // Wakes at the due time to within the scheduler's slack, or at once on a command.
      wake_.wait_for(lock, std::chrono::microseconds(std::max<uint64_t>(*realUs, 1)));
    } else {
      lock.unlock();
      clock.SleepMs(std::min((leftUs + 999) / 1000, kSleepStepMs));
      lock.lock();
    }
  }
}

void SimStreamer::Run() {
  pthread_setname_np(pthread_self(), kThreadName);
  // One buffer goes round: rendered here, sent, read by the host, handed back.
  std::vector<uint8_t> frame;
  while (!quit_) {
    Job job;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [this] { return quit_ || HasWork(); });
      if (quit_) return;
      job.epoch = epoch_;
      job.longExposure = longFramePending_;
      job.startUs = longFramePending_ ? longExposureEndUs_ : frameStartUs_;
      // A clock swapped in between can make the end look earlier than the start.
      job.exposureUs = longExposureEndUs_ > longExposureStartUs_ ? longExposureEndUs_ - longExposureStartUs_ : 0;
      job.frameNumber = frameNumber_++;
      job.noise = noise_;
      job.lensCovered = lensCovered_;
      job.light = light_;
    }

    // The frame's settings are those at its start: later changes show in the next frame.
    const std::optional<StreamSnapshot> snap = port_.NextFrameSnapshot();
    if (!snap) {
      if (SleepUntil(NowUs() + kNotReadyRetryUs, job.epoch)) {
        std::lock_guard lock(mutex_);
        if (epoch_ == job.epoch) frameStartUs_ = NowUs();
      }
      continue;
    }
    FrameSettings settings = snap->frame;
    settings.noise = job.noise;
    settings.lensCovered = job.lensCovered;
    settings.light = job.light;
    if (job.longExposure) settings.exposureUs = static_cast<double>(job.exposureUs);
    const double lengthUs = job.longExposure ? snap->readoutUs : snap->periodUs;
    const uint64_t dueUs = job.startUs + static_cast<uint64_t>(std::llround(lengthUs));

    // Render first, then wait: the frame leaves the sensor on time.
    Scene().Render(settings, NoiseSeedOfFrame(job.frameNumber), frame);
    if (!SleepUntil(dueUs, job.epoch)) continue;
    Delivery delivery =
        port_.DeliverFrame(std::move(frame), job.epoch, static_cast<uint64_t>(std::llround(settings.exposureUs)));
    frame = std::move(delivery.spare);
    {
      std::lock_guard lock(mutex_);
      if (epoch_ == job.epoch) {
        if (job.longExposure) longFramePending_ = false;  // normal frames resume
        frameStartUs_ = NextFrameStartUs(dueUs, snap->periodUs, NowUs());
      }
    }
    if (delivery.unplug) {
      // The device vanishes once its last frame has left it; a host that never
      // reads does not keep it alive for long.
      const uint64_t giveUpUs = NowUs() + kUnplugGraceUs;
      while (!quit_ && port_.PendingBulkBytes() > 0 && NowUs() < giveUpUs) platform::SleepMs(kSleepStepMs);
      port_.UnplugDevice();
    }
  }
}

// --- frames that are done ---

FrameFate SimStreamer::Settle(uint64_t epoch, size_t pendingBulkBytes, uint64_t exposureUs) {
  std::lock_guard lock(mutex_);
  FrameFate fate;
  if (quit_ || epoch != epoch_) return fate;  // cancelled on its way
  ++produced_;
  // No room on the device: the host has not yet taken the previous frame.
  if (pendingBulkBytes > 0) {
    ++dropped_;
    return fate;
  }
  fate.send = true;
  lastExposureUs_ = exposureUs;
  if (framesWithoutMarker_ > 0) {
    --framesWithoutMarker_;
    fate.withoutMarker = true;
  }
  if (framesWithoutTrailer_ > 0) {
    --framesWithoutTrailer_;
    fate.withoutTrailer = true;
  }
  if (shortFrames_ > 0) {
    --shortFrames_;
    fate.halfLength = true;
  }
  if (framesBeforeUnplug_ > 0 && --framesBeforeUnplug_ == 0) fate.unplugAfter = true;
  return fate;
}

void SimStreamer::Prepare(std::vector<uint8_t>& frame, const FrameFate& fate) const {
  if (trailer_ && !fate.withoutTrailer) StampFrameTrailer(frame);
  if (trailer_ && fate.withoutTrailer && frame.size() >= 4) frame[frame.size() - 1] ^= 0x01;
  if (!fate.withoutMarker) {
    StampFrameMarker(frame);
  } else if (HasFrameMarker(frame)) {
    frame[0] ^= 0x01;  // samples that happen to spell the marker
  }
  if (fate.halfLength) frame.resize(frame.size() / 2);
}

const SimScene& SimStreamer::Scene() const { return *SimScene::Shared(array_); }

bool SimStreamer::LensCovered() const {
  std::lock_guard lock(mutex_);
  return lensCovered_;
}

// --- faults and switches ---

void SimStreamer::DropMarkerOfNextFrames(int count) {
  std::lock_guard lock(mutex_);
  framesWithoutMarker_ = std::max(count, 0);
}

void SimStreamer::DropTrailerOfNextFrames(int count) {
  std::lock_guard lock(mutex_);
  framesWithoutTrailer_ = std::max(count, 0);
}

void SimStreamer::ShortenNextFrames(int count) {
  std::lock_guard lock(mutex_);
  shortFrames_ = std::max(count, 0);
}

void SimStreamer::SetStalled(bool on) {
  std::lock_guard lock(mutex_);
  if (stalled_ == on) return;
  stalled_ = on;
  frameStartUs_ = NowUs();  // after a stall the sensor starts a new frame
  Replan();
}

void SimStreamer::UnplugAfterFrames(int count) {
  std::lock_guard lock(mutex_);
  framesBeforeUnplug_ = std::max(count, 0);
}

void SimStreamer::SetNoise(bool on) {
  std::lock_guard lock(mutex_);
  noise_ = on;
}

SceneLight SimStreamer::Light() const {
  std::lock_guard lock(mutex_);
  return light_;
}

void SimStreamer::SetLight(const SceneLight& light) {
  std::lock_guard lock(mutex_);
  light_ = light;
}

void SimStreamer::SetLensCovered(bool on) {
  std::lock_guard lock(mutex_);
  lensCovered_ = on;
}

uint64_t SimStreamer::FramesProduced() const {
  std::lock_guard lock(mutex_);
  return produced_;
}

uint64_t SimStreamer::FramesDropped() const {
  std::lock_guard lock(mutex_);
  return dropped_;
}

uint64_t SimStreamer::LastExposureUs() const {
  std::lock_guard lock(mutex_);
  return lastExposureUs_;
}

// --- the camera's side of its frame stream ---

std::optional<StreamSnapshot> SimCameraImpl::SnapshotLocked() const {
  return sensor_.Snapshot(registers_, clockMhz_, sixteenBit_);
}

std::optional<StreamSnapshot> SimCameraImpl::NextFrameSnapshot() {
  std::lock_guard lock(mutex_);
  if (unplugged_) return std::nullopt;
  return SnapshotLocked();
}

Delivery SimCameraImpl::DeliverFrame(std::vector<uint8_t> frame, uint64_t epoch, uint64_t exposureUs) {
  std::lock_guard lock(mutex_);
  if (unplugged_) return {.spare = std::move(frame)};
  const FrameFate fate = streamer_.Settle(epoch, bulk_.PendingBytes(), exposureUs);
  if (!fate.send) return {.spare = std::move(frame)};
  streamer_.Prepare(frame, fate);
  NoteActivity();
  // The controller of a USB 3 model sends what the host announced: a
  // different size means host and camera disagree about the frame.
  constexpr size_t kUnit = 16384;
  if (IsUsb3Model(options_.model) && (frame.size() + kUnit - 1) / kUnit != transferCount_) ++frameSizeMismatches_;
  bulk_.Push(std::move(frame));
  return {.unplug = fate.unplugAfter, .spare = bulk_.TakeSpentChunk()};
}

void SimCameraImpl::UnplugDevice() { Unplug(); }

uint64_t SimCameraImpl::FramesProduced() const { return streamer_.FramesProduced(); }

uint64_t SimCameraImpl::FramesDroppedAtDevice() const { return streamer_.FramesDropped(); }

uint64_t SimCameraImpl::LastFrameExposureUs() const { return streamer_.LastExposureUs(); }

int SimCameraImpl::ExpectedSceneValue(int sensorX, int sensorY, std::optional<uint64_t> exposureUs) const {
  const SimScene& scene = streamer_.Scene();  // built, on first use, outside the camera's lock
  std::optional<StreamSnapshot> snap;
  {
    std::lock_guard lock(mutex_);
    snap = SnapshotLocked();
  }
  if (!snap) return -1;
  FrameSettings settings = snap->frame;
  settings.lensCovered = streamer_.LensCovered();
  settings.light = streamer_.Light();
  if (exposureUs) settings.exposureUs = static_cast<double>(*exposureUs);
  return scene.ExpectedValue(sensorX, sensorY, settings);
}

std::vector<SensorPixel> SimCameraImpl::HotPixels() const {
  if (!sensor_.Description()) return {};
  return streamer_.Scene().HotPixels();
}

void SimCameraImpl::SetSceneNoise(bool on) { streamer_.SetNoise(on); }

void SimCameraImpl::SetLensCovered(bool on) { streamer_.SetLensCovered(on); }

void SimCameraImpl::SetSceneLight(const SceneLight& light) { streamer_.SetLight(light); }

SceneLight SimCameraImpl::GetSceneLight() const { return streamer_.Light(); }

void SimCameraImpl::DropMarkerOfNextFrames(int count) { streamer_.DropMarkerOfNextFrames(count); }
void SimCameraImpl::DropTrailerOfNextFrames(int count) { streamer_.DropTrailerOfNextFrames(count); }

uint64_t SimCameraImpl::FrameSizeMismatches() const {
  std::lock_guard lock(mutex_);
  return frameSizeMismatches_;
}

void SimCameraImpl::ShortenNextFrames(int count) { streamer_.ShortenNextFrames(count); }

void SimCameraImpl::SetStreamStalled(bool on) { streamer_.SetStalled(on); }

void SimCameraImpl::UnplugAfterFrames(int count) {
  if (count <= 0) {
    Unplug();
  } else {
    streamer_.UnplugAfterFrames(count);
  }
}

}  // namespace okc::sim
