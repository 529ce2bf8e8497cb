// The two reset thresholds of one error streak: unmarked frames reset the
// port on the 22nd in a row, incomplete ones on the 32nd.
#include <gtest/gtest.h>

#include "core/RecoveryRules.h"

namespace okc::core {
namespace {

RecoveryRules TwoThresholds() {
  RecoveryRules rules;
  rules.resetPortAbove = 20;
  rules.resetPortAboveIncomplete = 30;
  rules.nudgeAtStreak = 0;
  rules.autoBandwidthAbove = 0;
  return rules;
}

// The frame number (from 1) of a run of `outcome` frames that resets the port, or 0.
int ResetAt(FrameOutcome outcome, int frames) {
  const RecoveryRules rules = TwoThresholds();
  RecoveryState state;
  FrameContext frame;
  frame.outcome = outcome;
  for (int i = 1; i <= frames; ++i)
    if (JudgeFrame(rules, state, frame).resetPort) return i;
  return 0;
}

TEST(RenmRecoveryRules, UnmarkedResetOnThe22ndIncompleteOnThe32nd) {
  EXPECT_EQ(ResetAt(FrameOutcome::Unmarked, 40), 22);
  EXPECT_EQ(ResetAt(FrameOutcome::Partial, 40), 32);
  EXPECT_EQ(ResetAt(FrameOutcome::Empty, 40), 32);
}

TEST(RenmRecoveryRules, OneStreakServesBoth) {
  const RecoveryRules rules = TwoThresholds();
  RecoveryState state;
  FrameContext frame;
  // 25 incomplete frames, then an unmarked one: the streak is past 21 already.
  frame.outcome = FrameOutcome::Partial;
  for (int i = 0; i < 25; ++i) ASSERT_FALSE(JudgeFrame(rules, state, frame).resetPort) << i;
  frame.outcome = FrameOutcome::Unmarked;
  const RecoveryAction action = JudgeFrame(rules, state, frame);
  EXPECT_TRUE(action.resetPort);
  EXPECT_EQ(action.restart, rules.restartAfterPartial);
  EXPECT_EQ(state.streak, 0);
  // A good frame ends the streak.
  frame.outcome = FrameOutcome::Partial;
  for (int i = 0; i < 31; ++i) JudgeFrame(rules, state, frame);
  frame.outcome = FrameOutcome::Good;
  JudgeFrame(rules, state, frame);
  frame.outcome = FrameOutcome::Partial;
  EXPECT_FALSE(JudgeFrame(rules, state, frame).resetPort);
}

}  // namespace
}  // namespace okc::core
