// What the capture worker does after each frame: the error streak and the
// recovery steps it triggers, as a pure function of the rules of a camera
// model, the state so far and what the frame turned out to be.
//
// Every frame that fails counts once in the streak. The steps, in the order
// the worker performs them:
//   - port reset: a failure while the streak already stands above
//     `resetPortAbove` resets the USB port, restarts the stream and starts the
//     streak again from 0;
//   - nudge and flush: an incomplete frame that brings the streak to
//     `nudgeAtStreak` or beyond (once per streak) stretches the sensor's line a
//     little and flushes the bulk pipe;
//   - automatic bandwidth: a partial or unmarked frame with automatic
//     bandwidth on, within its window after being switched on, with short frame
//     waits and a streak above `autoBandwidthAbove`, starts the streak again;
//     when the previous such event was recent, the output rate is lowered;
//   - pipe flush: a partial or unmarked frame may have left pieces of itself
//     in the transfers queued for the next one, so those are cancelled.
// Models whose controller announces the frame size (the USB 3 ones) count
// frames that brought no data at all apart: a few in a row flush the pipe,
// one more resets the port; there is no nudge and no reset after long streaks.
#pragma once

#include <cstdint>

namespace okc::core {

enum class FrameOutcome {
  Good,      // complete and marked
  Unmarked,  // complete, but not a frame start (or without its trailer)
  Partial,   // some of its bytes arrived, not all (or the last transfer failed)
  Empty,     // nothing arrived in time
};

// How a stream is restarted after a port reset.
enum class StreamRestart {
  EndExposureAndStart,  // end any host-timed exposure, start the stream, let it settle
  Start,                // start the stream
  StopAndStart,         // let the port settle, stop the stream, start it again
};

struct RecoveryRules {
  // A failure while the streak stands above this resets the port (0: never).
  int resetPortAbove = 50;
  // The same for an incomplete frame, where it differs (0: `resetPortAbove`).
  int resetPortAboveIncomplete = 0;
  // After a port reset caused by an incomplete frame / by a partial or unmarked one.
  StreamRestart restartAfterIncomplete = StreamRestart::EndExposureAndStart;
  StreamRestart restartAfterPartial = StreamRestart::Start;
  // The line is nudged on a port reset caused by a partial or unmarked frame.
  bool nudgeOnPartialReset = true;
  // An incomplete frame reaching this streak nudges the line and flushes the pipe (0: never).
  int nudgeAtStreak = 3;
  // Partial / unmarked frames cancel the transfers queued for the next frame.
  bool flushAfterPartial = true;
  bool flushAfterUnmarked = true;
  // Automatic bandwidth (0 for `autoBandwidthAbove`: the model has none).
  int autoBandwidthAbove = 5;
  uint64_t autoBandwidthWindowMs = 50000;
  uint32_t autoBandwidthMaxWaitMs = 500;
  uint64_t autoBandwidthRepeatMs = 5000;
  // Frames with no data at all, counted apart (0: not counted): reaching
  // `noDataFlushAt` flushes the pipe and lets it settle, reaching
  // `noDataResetAt` resets the port.
  int noDataFlushAt = 0;
  int noDataResetAt = 0;
  uint64_t noDataSettleMs = 100;
};

// The worker's recovery bookkeeping, kept across frames of a capture run.
struct RecoveryState {
  int streak = 0;
  bool nudgedThisStreak = false;
  int noDataCount = 0;
  uint64_t autoBandwidthStartMs = 0;
  uint64_t lastReductionMs = 0;
  // Whether automatic bandwidth was on at the previous look (-1: not known yet).
  int previousAutoFps = -1;
};

// What the worker knows at the moment it judges a frame.
struct FrameContext {
  FrameOutcome outcome = FrameOutcome::Good;
  bool autoFps = false;
  uint64_t nowMs = 0;
  uint32_t waitTimeoutMs = 0;  // the wait timeout the frame was read with
};

struct RecoveryAction {
  bool resetPort = false;
  StreamRestart restart = StreamRestart::Start;  // after a port reset
  bool nudgeLineLength = false;
  bool flushPipe = false;
  bool reduceBandwidth = false;
  // Sleep after the flush (ms).
  uint64_t settleMs = 0;
};

// Once per pass: the first look takes the control's state; while it is off
// that is remembered, so switching it on later opens a new window.
void NoteAutoFps(RecoveryState& state, bool autoFps);

// Updates `state` for one frame and says what to do about it.
RecoveryAction JudgeFrame(const RecoveryRules& rules, RecoveryState& state, const FrameContext& frame);

}  // namespace okc::core
