// The family's recovery rules over sequences of bad frames.
#include <gtest/gtest.h>

#include <vector>

#include "models/PimcCapture.h"

namespace okc::models {
namespace {

using core::FrameOutcome;

struct Judged {
  int resets = 0;
  int flushes = 0;
  core::StreamRestart lastRestart = core::StreamRestart::Start;
};

Judged Judge(const std::vector<FrameOutcome>& outcomes) {
  const core::RecoveryRules rules = PimcRecoveryRules();
  core::RecoveryState state;
  Judged judged;
  for (FrameOutcome outcome : outcomes) {
    core::FrameContext frame;
    frame.outcome = outcome;
    const core::RecoveryAction action = core::JudgeFrame(rules, state, frame);
    EXPECT_FALSE(action.nudgeLineLength);
    EXPECT_FALSE(action.reduceBandwidth);
    judged.resets += action.resetPort;
    judged.flushes += action.flushPipe;
    if (action.resetPort) judged.lastRestart = action.restart;
  }
  return judged;
}

std::vector<FrameOutcome> Repeat(FrameOutcome outcome, int n, std::vector<FrameOutcome> then = {}) {
  std::vector<FrameOutcome> v(static_cast<size_t>(n), outcome);
  v.insert(v.end(), then.begin(), then.end());
  return v;
}

TEST(PimcRecoveryRules, TheTwentySecondBadFrameInARowResetsOnce) {
  EXPECT_EQ(Judge(Repeat(FrameOutcome::Partial, 21)).resets, 0);
  EXPECT_EQ(Judge(Repeat(FrameOutcome::Partial, 22)).resets, 1);
  EXPECT_EQ(Judge(Repeat(FrameOutcome::Empty, 43)).resets, 1);
  EXPECT_EQ(Judge(Repeat(FrameOutcome::Empty, 44)).resets, 2);
  // A good frame starts the count again.
  EXPECT_EQ(Judge(Repeat(FrameOutcome::Partial, 21, {FrameOutcome::Good, FrameOutcome::Partial})).resets, 0);
  // The variant follows the 22nd frame.
  EXPECT_EQ(Judge(Repeat(FrameOutcome::Partial, 22)).lastRestart, core::StreamRestart::EndExposureAndStart);
  EXPECT_EQ(Judge(Repeat(FrameOutcome::Partial, 21, {FrameOutcome::Unmarked})).lastRestart, core::StreamRestart::Start);
}

TEST(PimcRecoveryRules, OnlyFramesWithoutTheirMarkerFlushThePipe) {
  EXPECT_EQ(Judge(Repeat(FrameOutcome::Partial, 5)).flushes, 0);
  EXPECT_EQ(Judge(Repeat(FrameOutcome::Empty, 5)).flushes, 0);
  EXPECT_EQ(Judge(Repeat(FrameOutcome::Unmarked, 5)).flushes, 5);
}

}  // namespace
}  // namespace okc::models
