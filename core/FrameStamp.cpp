#include "core/FrameStamp.h"

#include <algorithm>
#include <chrono>

#include "okccamera/CCameraBase.h"

namespace okc::core {

namespace {

// Real clocks, not the platform clock: these times go into users' files.
int64_t MonotonicUs() {
  using namespace std::chrono;
  return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}
int64_t UtcUs() {
  using namespace std::chrono;
  return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
}

}  // namespace

void FrameStamp::Begin(const CCameraBase& camera) {
  current_ = FrameMetadata{};
  current_.exposureUs = camera.exposure;
  current_.gain = camera.gain;
  current_.width = camera.width;
  current_.height = camera.height;
  current_.bin = camera.bin;
  current_.startX = camera.startX;
  current_.startY = camera.startY;
  current_.flipRow = camera.flipRow;
  current_.flipColumn = camera.flipColumn;
  firstDataMonotonicUs_ = 0;
}

void FrameStamp::FirstDataArrived() { firstDataMonotonicUs_ = MonotonicUs(); }

void FrameStamp::Finish() {
  current_.endMonotonicUs = MonotonicUs();
  current_.endUtcUs = UtcUs();
  // The exposure ended when the sensor began to read the frame out, and rows
  // travel as they are read: the readout is taken as the time from the first
  // transfer's completion to the last one's (short by one transfer, and 0
  // when the whole frame arrived in one go). The start is then that readout
  // and the exposure time before the end of the last transfer. An estimate:
  // the camera does not time-stamp its frames.
  const int64_t readoutUs =
      firstDataMonotonicUs_ > 0 ? std::max<int64_t>(0, current_.endMonotonicUs - firstDataMonotonicUs_) : 0;
  const int64_t beforeEndUs = readoutUs + static_cast<int64_t>(current_.exposureUs);
  current_.startMonotonicUs = current_.endMonotonicUs - beforeEndUs;
  current_.startUtcUs = current_.endUtcUs - beforeEndUs;
}

FrameMetadata FrameStamp::Number() {
  current_.sequence = ++sequence_;
  return current_;
}

}  // namespace okc::core
