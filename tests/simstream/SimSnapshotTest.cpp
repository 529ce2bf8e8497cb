// How the sensor's register state becomes the settings and timing of its next frame.
#include <gtest/gtest.h>

#include <array>

#include "sim/SimStreamer.h"

namespace okc::sim {
namespace {

// A 320 x 240 window at 80 MHz, 1650 clocks a line, 266 lines a frame, 100 lines of integration,
// analog x4 and digital gains of 1, 1.25, 1.5 and 2.
SimSensorState Programmed() {
  return {.x = 480, .y = 362, .width = 320, .height = 240, .lineLength = 1650, .frameLength = 266,
          .integrationLines = 100, .inputClockMhz = 48, .pixelClockMhz = 80, .sixteenBit = true, .analogGain = 4,
          .greenGain1 = 32, .greenGain2 = 40, .redGain = 48, .blueGain = 64, .blackLevel = 48,
          .integrationUs = 100 * 1650 / 80.0, .framePeriodUs = 266 * 1650 / 80.0};
}

TEST(SimSnapshot, FrameTakesExposureBlackLevelAndTheGainOfEachCellPlace) {
  const auto snap = SnapshotOf(Programmed(), false, 0);
  ASSERT_TRUE(snap);
  const FrameSettings& f = snap->frame;
  EXPECT_DOUBLE_EQ(f.exposureUs, 2062.5);
  EXPECT_DOUBLE_EQ(f.blackLevel, 48);
  // Even sensor rows G R, odd rows B G; analog x4 times the channel's digital gain.
  EXPECT_DOUBLE_EQ(f.cellGain[0][0], 4.0);         // green 1
  EXPECT_DOUBLE_EQ(f.cellGain[0][1], 4.0 * 1.5);   // red
  EXPECT_DOUBLE_EQ(f.cellGain[1][0], 4.0 * 2.0);   // blue
  EXPECT_DOUBLE_EQ(f.cellGain[1][1], 4.0 * 1.25);  // green 2

  // The mono sensor uses its one global digital gain everywhere.
  const auto monoSnap = SnapshotOf(Programmed(), true, 96);
  ASSERT_TRUE(monoSnap);
  for (const auto& row : monoSnap->frame.cellGain) EXPECT_EQ(row, (std::array<double, 2>{12.0, 12.0}));
}

TEST(SimSnapshot, ReadoutTakesTheFrameLinesAndPeriodsHaveAFloor) {
  SimSensorState s = Programmed();
  s.framePeriodUs = 0.5;
  const auto snap = SnapshotOf(s, false, 0);
  ASSERT_TRUE(snap);
  EXPECT_DOUBLE_EQ(snap->periodUs, kMinFramePeriodUs);
  EXPECT_DOUBLE_EQ(snap->readoutUs, 266 * 1650 / 80.0);
}

TEST(SimSnapshot, SensorThatCannotStreamGivesNothing) {
  SimSensorState noClock = Programmed(), noLine = Programmed(), outside = Programmed(), huge = Programmed();
  noClock.pixelClockMhz = noClock.framePeriodUs = 0;
  noLine.lineLength = 0;
  outside.x = 1200;  // 320 columns from 1200 leave the array
  huge.x = huge.y = 0;
  huge.width = huge.height = 65535;
  int i = 0;  // power-on (nothing programmed) first
  for (const SimSensorState& s : {SimSensorState{}, noClock, noLine, outside, huge}) {
    EXPECT_FALSE(SnapshotOf(s, false, 0)) << "case " << i++;
  }
}

}  // namespace
}  // namespace okc::sim
