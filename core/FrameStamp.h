// What the capture worker records about each frame it reads: the settings in
// force while it was exposed, when its data arrived, and its number in the run.
// The worker owns one FrameStamp per run; nothing here is shared between threads.
#pragma once

#include <cstdint>

#include "okccamera/FrameQueue.h"

class CCameraBase;

namespace okc::core {

class FrameStamp {
 public:
  // Before the frame is read, with the camera's sensor lock held: the
  // exposure, gain and window the frame is taken with.
  void Begin(const CCameraBase& camera);
  // When the first transfer of the frame completed.
  void FirstDataArrived();
  // When the last transfer of the frame completed.
  void Finish();
  // Gives the frame the next number of the run and returns its metadata.
  FrameMetadata Number();

 private:
  FrameMetadata current_;
  int64_t firstDataMonotonicUs_ = 0;
  uint64_t sequence_ = 0;
};

}  // namespace okc::core
