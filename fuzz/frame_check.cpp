// The frame checks of the capture worker: the frame marker and trailer tests, and the
// recovery rules fed with a sequence of judged frames. The input is a frame's bytes
// for the marker tests; its bytes also drive a run of frame outcomes. Properties: the
// marker tests agree with a byte comparison; the streak never goes negative, a port
// reset only follows a streak above the model's limit and starts the streak again,
// a good frame ends the streak, and the no-data count never passes its reset point.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "core/FrameMarker.h"
#include "core/RecoveryRules.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace okc::core;
  static const uint8_t marker[4] = {0x11, 0xAA, 0x00, 0xBB};
  static const uint8_t trailer[4] = {0xBB, 0x00, 0xAA, 0x11};
  if (size >= 4) {
    if (StartsWithFrameMarker(data) != (std::memcmp(data, marker, 4) == 0)) std::abort();
  }
  if (EndsWithFrameTrailer(data, size) != (size >= 4 && std::memcmp(data + size - 4, trailer, 4) == 0)) std::abort();

  if (size < 1) return 0;
  // Two rule sets: a USB 2 model's and one that counts frames without data (USB 3).
  RecoveryRules rules;
  if (data[0] & 1) {
    rules.noDataFlushAt = 2 + data[0] % 4;
    rules.noDataResetAt = rules.noDataFlushAt + 1;
    rules.resetPortAbove = 0;
    rules.nudgeAtStreak = 0;
  }
  RecoveryState state;
  uint64_t nowMs = 0;
  for (size_t i = 1; i < size; ++i) {
    FrameContext frame;
    frame.outcome = static_cast<FrameOutcome>(data[i] & 3);
    frame.autoFps = (data[i] & 4) != 0;
    frame.waitTimeoutMs = (data[i] & 8) ? 100 : 2000;
    nowMs += (data[i] >> 4) * 700;
    frame.nowMs = nowMs;
    NoteAutoFps(state, frame.autoFps);
    const int before = state.streak;
    const RecoveryAction action = JudgeFrame(rules, state, frame);
    if (state.streak < 0 || state.noDataCount < 0) std::abort();
    if (frame.outcome == FrameOutcome::Good && state.streak != 0) std::abort();
    if (action.resetPort && rules.noDataResetAt == 0 && !(rules.resetPortAbove > 0 && before > rules.resetPortAbove))
      std::abort();
    if (action.resetPort && rules.noDataResetAt == 0 && state.streak != 0) std::abort();
    if (rules.noDataResetAt > 0 && state.noDataCount > rules.noDataResetAt) std::abort();
    if (frame.outcome == FrameOutcome::Good &&
        (action.resetPort || action.nudgeLineLength || action.flushPipe || action.reduceBandwidth))
      std::abort();
  }
  return 0;
}
