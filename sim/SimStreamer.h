// The frame stream of a simulated camera: a thread that, while the
// controller streams, renders a frame of the programmed window at the frame
// period of the sensor's registers and pushes it as one chunk into the bulk IN
// stream, times host-timed long exposures between AE and AF, drops frames the
// host has not made room for, and plays the stream faults tests ask for.
// Frames are timed from the due time of the frame before, so the stream keeps
// the register period; one frame buffer goes round between the thread and
// the bulk stream, which hands it back once the host has read it.
//
// Locking: the camera calls the command hooks and Settle with its own lock held,
// and they take the streamer's lock inside it. The thread never holds the
// streamer's lock while it calls into the camera, so the two never deadlock.
// All timing goes through the platform clock, so a fast clock speeds it up.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "okccamera/SimCameras.h"
#include "sim/SimScene.h"

namespace okc::sim {

// What the next frame of the sensor looks like and how long it takes.
struct StreamSnapshot {
  FrameSettings frame;
  double periodUs = 0;   // frame start to frame start
  double readoutUs = 0;  // reading the window out (end of a host-timed exposure to its frame)
};

// Frames are never closer than this, whatever the registers say.
constexpr double kMinFramePeriodUs = 100.0;

// When the frame after one due at `dueUs` starts: at that due time, so the
// stream keeps the register period through a late wake-up of up to an eighth of
// a period (at least 1 ms). A thread later than that (a loaded machine) takes
// back only that much, so no two frames leave the sensor much closer than the
// period, as on a real sensor, rather than rushing out the frames it missed.
uint64_t NextFrameStartUs(uint64_t dueUs, double periodUs, uint64_t nowUs);

// The noise seed of the stream's frame `frameNumber` (counted from 0 for each
// camera): the frame is SimScene::Render of its settings with this seed.
uint64_t NoiseSeedOfFrame(uint64_t frameNumber);

// The next frame from the sensor as programmed, on a pixel array of `array`.
// Nullopt while the sensor cannot stream: no pixel clock or line length, or a
// window outside the pixel array.
std::optional<StreamSnapshot> SnapshotOf(const SimSensorState& sensor, const SceneLayout& array);
// The same for a TAV sensor's state whose cell gains are not filled in yet:
// they follow from its gain fields (`mono`: one digital gain, `globalGain`).
std::optional<StreamSnapshot> SnapshotOf(const SimSensorState& sensor, bool mono, uint16_t globalGain);

// What the camera hands back for a frame given to it.
struct Delivery {
  bool unplug = false;  // the device must now disappear
  // A buffer nobody reads any more, for the next frame (may be empty): the
  // frame itself if it was not sent, else a frame the host has read to its end.
  std::vector<uint8_t> spare;
};

// The camera side the streamer works through.
class StreamPort {
 public:
  virtual ~StreamPort() = default;
  // The sensor as programmed now; nullopt while it cannot stream or the device is gone.
  virtual std::optional<StreamSnapshot> NextFrameSnapshot() = 0;
  // With the camera's lock held: asks Settle what becomes of the frame and
  // sends it. The frame is the camera's from here on.
  virtual Delivery DeliverFrame(std::vector<uint8_t> frame, uint64_t epoch, uint64_t exposureUs) = 0;
  virtual void UnplugDevice() = 0;
  // Bytes of sent frames the host has not taken yet.
  virtual size_t PendingBulkBytes() const = 0;
};

// What becomes of a finished frame.
struct FrameFate {
  bool send = false;           // into the bulk stream; else stale (cancelled) or dropped
  bool withoutMarker = false;  // fault: the marker is missing
  bool halfLength = false;     // fault: only the first half of the bytes
  bool withoutTrailer = false; // fault: no trailer at the end (USB 3 models)
  bool unplugAfter = false;    // fault: the device disappears once it is sent
};

class SimStreamer {
 public:
  // The name of the streaming thread (seen in top -H, and by benchmarks that time it).
  static constexpr const char* kThreadName = "okc-sim-stream";

  // `array`: the sensor's pixel array (its scene); `trailer`: frames end with the trailer.
  SimStreamer(StreamPort& port, const SceneLayout& array, bool trailer);
  ~SimStreamer();
  SimStreamer(const SimStreamer&) = delete;
  SimStreamer& operator=(const SimStreamer&) = delete;

  // Controller commands, with the camera's lock held; they never wait for the thread.
  void StreamOn();           // A9
  void StreamOff();          // AA
  void LongExposureBegin();  // AE
  void LongExposureEnd();    // AF
  // The sensor restarted: the frame in progress (not a host-timed one) starts again.
  void RestartFrame();
  // The device is gone: the thread ends by itself.
  void Stop();
  // Ends the thread and waits for it; never with the camera's lock held.
  void Shutdown();

  // With the camera's lock held: the fate of a finished frame of `epoch`, counted.
  FrameFate Settle(uint64_t epoch, size_t pendingBulkBytes, uint64_t exposureUs);
  // Marker, trailer and length of a frame to send, as its fate says.
  void Prepare(std::vector<uint8_t>& frame, const FrameFate& fate) const;

  const SimScene& Scene() const;
  bool LensCovered() const;
  SceneLight Light() const;

  // Faults and scene switches.
  void DropMarkerOfNextFrames(int count);
  void DropTrailerOfNextFrames(int count);
  void ShortenNextFrames(int count);
  void SetStalled(bool on);
  void UnplugAfterFrames(int count);
  void SetNoise(bool on);
  void SetLensCovered(bool on);
  void SetLight(const SceneLight& light);

  uint64_t FramesProduced() const;
  uint64_t FramesDropped() const;
  uint64_t LastExposureUs() const;  // of the last frame sent

 private:
  // One frame the thread works on.
  struct Job {
    uint64_t epoch = 0;
    bool longExposure = false;
    uint64_t startUs = 0;       // clock time the frame started (long: when the exposure ended)
    uint64_t exposureUs = 0;    // long exposures only: timed by the host
    uint64_t frameNumber = 0;
    bool noise = true;
    bool lensCovered = false;
    SceneLight light;
  };

  void Run();
  bool HasWork() const;  // with mutex_ held
  // Waits until clock time `untilUs`; false if the plan changed or the thread must end.
  bool SleepUntil(uint64_t untilUs, uint64_t epoch);
  // Something the thread is working on is void: with mutex_ held.
  void Replan();
  static uint64_t NowUs();

  StreamPort& port_;
  const SceneLayout array_;
  const bool trailer_;

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::thread thread_;
  std::atomic<bool> quit_{false};
  std::atomic<uint64_t> epoch_{0};  // changes whenever the frame in progress becomes void

  bool streaming_ = false;
  bool inLongExposure_ = false;
  bool longFramePending_ = false;
  uint64_t frameStartUs_ = 0;
  uint64_t longExposureStartUs_ = 0;
  uint64_t longExposureEndUs_ = 0;
  uint64_t frameNumber_ = 0;

  bool stalled_ = false;
  bool noise_ = true;
  bool lensCovered_ = false;
  SceneLight light_;
  int framesWithoutMarker_ = 0;
  int framesWithoutTrailer_ = 0;
  int shortFrames_ = 0;
  int framesBeforeUnplug_ = 0;  // 0: no unplug planned

  uint64_t produced_ = 0;
  uint64_t dropped_ = 0;
  uint64_t lastExposureUs_ = 0;
};

}  // namespace okc::sim
