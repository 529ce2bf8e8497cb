#include "core/RecoveryRules.h"

namespace okc::core {

namespace {

bool IsIncomplete(FrameOutcome outcome) { return outcome == FrameOutcome::Partial || outcome == FrameOutcome::Empty; }

// Automatic bandwidth: a repeated run of failures soon after the control was
// switched on lowers the output rate. Returns whether to lower it now.
bool JudgeAutoBandwidth(const RecoveryRules& rules, RecoveryState& state, const FrameContext& frame) {
  if (rules.autoBandwidthAbove <= 0) return false;
  if (frame.autoFps && state.previousAutoFps == 0) state.autoBandwidthStartMs = frame.nowMs;
  state.previousAutoFps = frame.autoFps ? 1 : 0;
  const bool inWindow = frame.nowMs - state.autoBandwidthStartMs < rules.autoBandwidthWindowMs;
  if (!inWindow || frame.waitTimeoutMs >= rules.autoBandwidthMaxWaitMs || !frame.autoFps ||
      state.streak <= rules.autoBandwidthAbove)
    return false;
  state.streak = 0;
  state.nudgedThisStreak = false;
  const uint64_t sinceLastMs = frame.nowMs - state.lastReductionMs;
  state.lastReductionMs = frame.nowMs;
  return sinceLastMs < rules.autoBandwidthRepeatMs;
}

// The ladder of controllers that announce the frame size: frames without
// any data are counted apart from the others.
RecoveryAction JudgeByNoData(const RecoveryRules& rules, RecoveryState& state, const FrameContext& frame) {
  RecoveryAction action;
  ++state.streak;
  if (frame.outcome == FrameOutcome::Empty) {
    ++state.noDataCount;
    if (state.noDataCount >= rules.noDataResetAt) {
      action.resetPort = true;
      action.restart = StreamRestart::StopAndStart;
      state.noDataCount = 0;
      state.streak = 0;
    } else if (state.noDataCount == rules.noDataFlushAt) {
      action.flushPipe = true;
      action.settleMs = rules.noDataSettleMs;
    }
    return action;
  }
  state.noDataCount = 0;
  action.reduceBandwidth = JudgeAutoBandwidth(rules, state, frame);
  action.flushPipe = true;
  return action;
}

}  // namespace

RecoveryAction JudgeFrame(const RecoveryRules& rules, RecoveryState& state, const FrameContext& frame) {
  RecoveryAction action;
  if (frame.outcome == FrameOutcome::Good) {
    state.streak = 0;
    state.nudgedThisStreak = false;
    state.noDataCount = 0;
    return action;
  }
  if (rules.noDataResetAt > 0) return JudgeByNoData(rules, state, frame);

  const int previous = state.streak++;
  const int resetAbove = IsIncomplete(frame.outcome) && rules.resetPortAboveIncomplete > 0
                             ? rules.resetPortAboveIncomplete
                             : rules.resetPortAbove;
  if (resetAbove > 0 && previous > resetAbove) {
    action.resetPort = true;
    action.restart = IsIncomplete(frame.outcome) ? rules.restartAfterIncomplete : rules.restartAfterPartial;
    action.nudgeLineLength = frame.outcome == FrameOutcome::Unmarked && rules.nudgeOnPartialReset;
    state.streak = 0;
    state.nudgedThisStreak = false;
  } else if (IsIncomplete(frame.outcome) && rules.nudgeAtStreak > 0 && state.streak >= rules.nudgeAtStreak &&
             !state.nudgedThisStreak) {
    action.nudgeLineLength = true;
    action.flushPipe = true;
    state.nudgedThisStreak = true;
  }

  if (frame.outcome == FrameOutcome::Empty) return action;
  action.reduceBandwidth = JudgeAutoBandwidth(rules, state, frame);
  if (frame.outcome == FrameOutcome::Unmarked ? rules.flushAfterUnmarked : rules.flushAfterPartial)
    action.flushPipe = true;
  return action;
}

void NoteAutoFps(RecoveryState& state, bool autoFps) {
  if (state.previousAutoFps < 0) state.previousAutoFps = autoFps ? 1 : 0;
  if (!autoFps) state.previousAutoFps = 0;
}

}  // namespace okc::core
