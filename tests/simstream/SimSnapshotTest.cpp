// How the sensor's register state becomes the settings and timing of its next frame.
#include <gtest/gtest.h>

#include "sim/SimStreamer.h"

namespace okc::sim {
namespace {

SimSensorState Programmed() {
  SimSensorState s;
  s.x = 480;
  s.y = 362;
  s.width = 320;
  s.height = 240;
  s.lineLength = 1650;
  s.frameLength = 266;
  s.integrationLines = 100;
  s.inputClockMhz = 48;
  s.pixelClockMhz = 80;
  s.sixteenBit = true;
  s.analogGain = 4;
  s.greenGain1 = 32;
  s.greenGain2 = 40;
  s.redGain = 48;
  s.blueGain = 64;
  s.blackLevel = 48;
  s.integrationUs = 100 * 1650 / 80.0;
  s.framePeriodUs = 266 * 1650 / 80.0;
  return s;
}

TEST(SimSnapshot, FrameFollowsWindowExposureAndBlackLevel) {
  const auto snap = SnapshotOf(Programmed(), false, 0);
  ASSERT_TRUE(snap);
  const FrameSettings& f = snap->frame;
  EXPECT_EQ(f.x, 480);
  EXPECT_EQ(f.y, 362);
  EXPECT_EQ(f.width, 320);
  EXPECT_EQ(f.height, 240);
  EXPECT_TRUE(f.sixteenBit);
  EXPECT_DOUBLE_EQ(f.exposureUs, 2062.5);
  EXPECT_DOUBLE_EQ(f.blackLevel, 48);
  EXPECT_DOUBLE_EQ(snap->periodUs, 266 * 1650 / 80.0);
  EXPECT_DOUBLE_EQ(snap->readoutUs, 266 * 1650 / 80.0);
}

TEST(SimSnapshot, ColourCellTakesItsChannelGainTimesTheAnalogStep) {
  const auto snap = SnapshotOf(Programmed(), false, 0);
  ASSERT_TRUE(snap);
  // Even sensor rows G R, odd rows B G.
  EXPECT_DOUBLE_EQ(snap->frame.cellGain[0][0], 4.0);        // green 1
  EXPECT_DOUBLE_EQ(snap->frame.cellGain[0][1], 4.0 * 1.5);  // red
  EXPECT_DOUBLE_EQ(snap->frame.cellGain[1][0], 4.0 * 2.0);  // blue
  EXPECT_DOUBLE_EQ(snap->frame.cellGain[1][1], 4.0 * 1.25); // green 2
}

TEST(SimSnapshot, MonoSensorUsesItsOneDigitalGainEverywhere) {
  const auto snap = SnapshotOf(Programmed(), true, 96);
  ASSERT_TRUE(snap);
  for (const auto& row : snap->frame.cellGain) {
    for (double g : row) EXPECT_DOUBLE_EQ(g, 4.0 * 3.0);
  }
}

TEST(SimSnapshot, LongIntegrationStretchesThePeriodNotTheReadout) {
  SimSensorState s = Programmed();
  s.integrationLines = 4095;
  s.framePeriodUs = 4096 * 1650 / 80.0;
  const auto snap = SnapshotOf(s, false, 0);
  ASSERT_TRUE(snap);
  EXPECT_DOUBLE_EQ(snap->periodUs, 4096 * 1650 / 80.0);
  EXPECT_DOUBLE_EQ(snap->readoutUs, 266 * 1650 / 80.0);
}

TEST(SimSnapshot, SensorThatCannotStreamGivesNothing) {
  EXPECT_FALSE(SnapshotOf(SimSensorState{}, false, 0));  // power-on: nothing programmed
  SimSensorState noClock = Programmed();
  noClock.pixelClockMhz = 0;
  noClock.framePeriodUs = 0;
  EXPECT_FALSE(SnapshotOf(noClock, false, 0));
  SimSensorState noLine = Programmed();
  noLine.lineLength = 0;
  EXPECT_FALSE(SnapshotOf(noLine, false, 0));
  SimSensorState outside = Programmed();
  outside.x = 1200;  // 320 columns from 1200 leave the array
  EXPECT_FALSE(SnapshotOf(outside, false, 0));
  SimSensorState huge = Programmed();
  huge.width = 65535;
  huge.height = 65535;
  huge.x = huge.y = 0;
  EXPECT_FALSE(SnapshotOf(huge, false, 0));
}

TEST(SimSnapshot, FramesAreNeverCloserThanTheMinimumPeriod) {
  SimSensorState s = Programmed();
  s.framePeriodUs = 0.5;
  const auto snap = SnapshotOf(s, false, 0);
  ASSERT_TRUE(snap);
  EXPECT_DOUBLE_EQ(snap->periodUs, kMinFramePeriodUs);
}

}  // namespace
}  // namespace okc::sim
