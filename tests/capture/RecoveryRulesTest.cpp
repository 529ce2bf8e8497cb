// The capture worker's error streak and recovery steps, frame by frame.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/RecoveryRules.h"

namespace {

using okc::core::FrameContext;
using okc::core::FrameOutcome;
using okc::core::JudgeFrame;
using okc::core::RecoveryAction;
using okc::core::RecoveryRules;
using okc::core::RecoveryState;
using okc::core::StreamRestart;

constexpr auto G = FrameOutcome::Good;
constexpr auto U = FrameOutcome::Unmarked;
constexpr auto P = FrameOutcome::Partial;
constexpr auto E = FrameOutcome::Empty;

// What the steps of one frame were, in a form a table can state.
struct Steps {
  bool reset = false;
  StreamRestart restart = StreamRestart::Start;
  bool nudge = false;
  bool flush = false;
  bool operator==(const Steps&) const = default;
};

Steps StepsOf(const RecoveryAction& a) { return {a.resetPort, a.resetPort ? a.restart : StreamRestart::Start, a.nudgeLineLength, a.flushPipe}; }

struct Case {
  std::string name;
  int streakBefore;
  std::vector<FrameOutcome> frames;  // the last one is judged against `last`
  Steps last;
  int streakAfter;
};

class TavRecovery : public ::testing::TestWithParam<Case> {};

TEST_P(TavRecovery, EachSequenceEndsInItsSteps) {
  const Case& c = GetParam();
  const RecoveryRules rules;  // the TAV family's
  RecoveryState state;
  state.streak = c.streakBefore;
  state.nudgedThisStreak = c.streakBefore >= rules.nudgeAtStreak;  // as a streak that got there frame by frame
  RecoveryAction action;
  for (FrameOutcome outcome : c.frames) {
    FrameContext frame;
    frame.outcome = outcome;
    frame.waitTimeoutMs = 46;
    action = JudgeFrame(rules, state, frame);
  }
  EXPECT_EQ(StepsOf(action), c.last);
  EXPECT_EQ(state.streak, c.streakAfter);
}

constexpr auto kEndAndStart = StreamRestart::EndExposureAndStart;

INSTANTIATE_TEST_SUITE_P(
    Sequences, TavRecovery,
    ::testing::Values(
        Case{"GoodFrameEndsTheStreak", 7, {G}, {}, 0},
        Case{"TwoEmptyFramesDoNothing", 0, {E, E}, {}, 2},
        Case{"ThirdEmptyFrameNudgesAndFlushes", 0, {E, E, E}, {false, StreamRestart::Start, true, true}, 3},
        Case{"FourthEmptyFrameDoesNotNudgeAgain", 0, {E, E, E, E}, {}, 4},
        // Each partial frame counts once: the third one reaches the nudge.
        Case{"PartialFramesFlushAndCountOnce", 0, {P, P}, {false, StreamRestart::Start, false, true}, 2},
        Case{"ThirdPartialFrameNudges", 0, {P, P, P}, {false, StreamRestart::Start, true, true}, 3},
        Case{"MixedIncompleteFramesReachTheNudge", 0, {U, U, E}, {false, StreamRestart::Start, true, true}, 3},
        Case{"UnmarkedFramesFlushButNeverNudge", 0, {U, U, U}, {false, StreamRestart::Start, false, true}, 3},
        Case{"StreakOfFiftyIsNotYetReset", 50, {E}, {}, 51},
        Case{"EmptyFrameAboveFiftyResetsEndingTheExposure", 51, {E}, {true, kEndAndStart, false, false}, 0},
        Case{"PartialFrameAboveFiftyResetsAndFlushes", 51, {P}, {true, kEndAndStart, false, true}, 0},
        Case{"UnmarkedFrameAboveFiftyNudgesAndResets", 51, {U}, {true, StreamRestart::Start, true, true}, 0},
        Case{"NudgeComesAgainAfterAGoodFrame", 0, {E, E, E, G, E, E, E}, {false, StreamRestart::Start, true, true}, 3}),
    [](const ::testing::TestParamInfo<Case>& info) { return info.param.name; });

// ---- automatic bandwidth ----

struct BandwidthRun {
  RecoveryRules rules;
  RecoveryState state;
  // A partial frame at `nowMs`; returns whether the rate was lowered.
  bool Partial(uint64_t nowMs, bool autoFps = true, uint32_t waitMs = 46) {
    FrameContext frame;
    frame.outcome = FrameOutcome::Partial;
    frame.autoFps = autoFps;
    frame.nowMs = nowMs;
    frame.waitTimeoutMs = waitMs;
    return JudgeFrame(rules, state, frame).reduceBandwidth;
  }
};

TEST(AutoBandwidth, RepeatedRunsOfFailuresSoonAfterSwitchingOnLowerTheRate) {
  BandwidthRun run;
  okc::core::NoteAutoFps(run.state, false);  // off when the run started
  run.state.autoBandwidthStartMs = run.state.lastReductionMs = 0;
  // Switched on at 6000 ms; the sixth failure in a row (streak above 5) is an event.
  for (int i = 0; i < 5; ++i) EXPECT_FALSE(run.Partial(6000 + i));
  EXPECT_FALSE(run.Partial(6005)) << "an event, but the last reduction (the run's start) was over 5 s ago";
  EXPECT_EQ(run.state.streak, 0);
  for (int i = 0; i < 5; ++i) EXPECT_FALSE(run.Partial(7000 + i));
  EXPECT_TRUE(run.Partial(7005)) << "second event within 5 s";
  EXPECT_EQ(run.state.lastReductionMs, 7005u);
}

TEST(AutoBandwidth, NothingWithLongWaitsOutsideTheWindowOrWhenOff) {
  for (int variant = 0; variant < 3; ++variant) {
    BandwidthRun run;
    okc::core::NoteAutoFps(run.state, true);
    const uint64_t now = variant == 1 ? 60000 : 100;  // past the 50 s window
    const uint32_t wait = variant == 0 ? 500 : 46;    // a wait of 500 ms is no bandwidth problem
    const bool on = variant != 2;
    bool lowered = false;
    for (int i = 0; i < 20; ++i) lowered |= run.Partial(now + i, on && variant != 2, wait);
    EXPECT_FALSE(lowered) << "variant " << variant;
  }
}

TEST(AutoBandwidth, ModelWithoutItNeverLowersTheRate) {
  BandwidthRun run;
  run.rules.autoBandwidthAbove = 0;
  okc::core::NoteAutoFps(run.state, true);
  bool lowered = false;
  for (int i = 0; i < 30; ++i) lowered |= run.Partial(10 + i);
  EXPECT_FALSE(lowered);
}

// ---- another family's rules: a port reset on the 22nd bad frame in a row ----

TEST(OtherFamilyRecovery, TwentySecondBadFrameResetsThePortOnce) {
  RecoveryRules rules;
  rules.resetPortAbove = 20;
  rules.nudgeAtStreak = 0;
  rules.autoBandwidthAbove = 0;
  rules.flushAfterPartial = false;
  RecoveryState state;
  int resets = 0, nudges = 0, resetAt = 0;
  for (int frame = 1; frame <= 40; ++frame) {
    FrameContext context;
    context.outcome = FrameOutcome::Partial;
    const RecoveryAction action = JudgeFrame(rules, state, context);
    nudges += action.nudgeLineLength;
    if (action.resetPort && resets++ == 0) resetAt = frame;
  }
  EXPECT_EQ(resetAt, 22);
  EXPECT_EQ(resets, 1) << "the streak starts again after a reset";
  EXPECT_EQ(nudges, 0);
}

}  // namespace
