// The register arithmetic of the TAV sensor: integration lines, gain steps,
// output pacing, temperature, clock choice and the initialisation table.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "models/TavcClock.h"
#include "models/TavcRegisterTable.h"
#include "models/TavcSensorMath.h"

namespace okc::models {
namespace {

TEST(TavcIntegrationLines, FollowsExposureClockAndLineLength) {
  EXPECT_EQ(TavcIntegrationLines(1000000, 50, 12287), 4069u);
  EXPECT_EQ(TavcIntegrationLines(20000000, 50, 12287), 81386u);
  EXPECT_EQ(TavcIntegrationLines(33000, 50, 1650), 999u);
}

TEST(TavcIntegrationLines, NeverZeroNorWrapped) {
  EXPECT_EQ(TavcIntegrationLines(64, 6, 1390), 1u);
  // A clock not known yet (0 or garbage from a stored setting) must not wrap below zero.
  EXPECT_EQ(TavcIntegrationLines(0, 50, 1650), 1u);
  EXPECT_EQ(TavcIntegrationLines(33000, 0, 1650), 1u);
  EXPECT_EQ(TavcIntegrationLines(33000, -5, 1650), 1u);
  EXPECT_EQ(TavcIntegrationLines(33000, 50, 0), 33000u * 50 - 26);
  EXPECT_EQ(TavcIntegrationLines(std::numeric_limits<uint64_t>::max() / 100, 80, 1),
            std::numeric_limits<uint32_t>::max());
}

TEST(TavcGainFor, BandsOfTheCoarseStep) {
  EXPECT_EQ(TavcGainFor(1, false).coarse, 0x1300);
  EXPECT_EQ(TavcGainFor(1, false).digital, 34);
  EXPECT_EQ(TavcGainFor(16, false).coarse, 0x1300);
  EXPECT_EQ(TavcGainFor(16, false).digital, 64);
  EXPECT_EQ(TavcGainFor(17, false).coarse, 0x1310);
  EXPECT_EQ(TavcGainFor(17, false).digital, 34);
  EXPECT_EQ(TavcGainFor(32, false).digital, 64);
  EXPECT_EQ(TavcGainFor(33, false).coarse, 0x1320);
  EXPECT_EQ(TavcGainFor(48, false).digital, 64);
  EXPECT_EQ(TavcGainFor(49, false).coarse, 0x1330);
  EXPECT_EQ(TavcGainFor(100, false).coarse, 0x1330);
  EXPECT_EQ(TavcGainFor(100, false).digital, 136);
}

TEST(TavcGainFor, TwentyFourMegahertzBaseAndOutOfRangeGains) {
  EXPECT_EQ(TavcGainFor(50, true).coarse, 0x5330);
  EXPECT_EQ(TavcGainFor(5, true).coarse, 0x5300);
  EXPECT_EQ(TavcGainFor(0, false).digital, TavcGainFor(1, false).digital);
  EXPECT_EQ(TavcGainFor(1000, false).digital, TavcGainFor(100, false).digital);
}

TEST(TavcBalanceGain, ScalesTheGreenGain) {
  EXPECT_EQ(TavcBalanceGain(52, 136), 128);
  EXPECT_EQ(TavcBalanceGain(95, 136), 234);
  EXPECT_EQ(TavcBalanceGain(55, 64), 64);
}

TEST(TavcLineLengthFor, PacesTheOutput) {
  EXPECT_EQ(TavcLineLengthFor(false, 1280, 960, 1, 50, 80), 1854);
  // Twice the bytes at half the clock: the same pacing.
  EXPECT_EQ(TavcLineLengthFor(true, 1280, 960, 1, 25, 80), 1854);
  // Small windows hit the shortest line the sensor allows.
  EXPECT_EQ(TavcLineLengthFor(false, 320, 240, 1, 80, 100), kTavcMinLineLength);
}

TEST(TavcLineLengthFor, StaysInRangeForNonsense) {
  EXPECT_EQ(TavcLineLengthFor(false, 1280, 960, 0, 50, 80), kTavcMinLineLength);
  EXPECT_EQ(TavcLineLengthFor(false, 1280, 0, 1, 50, 80), kTavcMinLineLength);
  EXPECT_EQ(TavcLineLengthFor(true, 1280, 960, 2, 100000, 40), kTavcLongLineLength);
  EXPECT_EQ(TavcLineLengthFor(false, 1280, -26, 1, 50, 80), kTavcMinLineLength);
  EXPECT_EQ(TavcLineLengthFor(false, -1280, 960, 1, 50, 80), kTavcMinLineLength);
}

TEST(TavcTemperature, CalibratedAndFallback) {
  // Readings 447 at 55 degrees and 467 at 70 degrees: 0.75 degrees per count.
  EXPECT_FLOAT_EQ(TavcTemperature(467, 447, 407), 25.0f);
  EXPECT_FLOAT_EQ(TavcTemperature(467, 447, 467), 70.0f);
  // Equal words, a slope outside 0.5..1 and a reversed pair all use the typical line.
  EXPECT_FLOAT_EQ(TavcTemperature(400, 400, 400), 20.0f);
  EXPECT_FLOAT_EQ(TavcTemperature(500, 400, 400), 20.0f);
  EXPECT_FLOAT_EQ(TavcTemperature(447, 467, 400), 20.0f);
  EXPECT_FLOAT_EQ(TavcTemperature(0, 0, 0), -280.0f);
}

TEST(TavcClockChoice, ByColumnsAndSampleWidth) {
  const struct {
    int columns;
    int eightBit;
    int sixteenBit;
  } cases[] = {{1280, 50, 25}, {1025, 50, 25}, {1024, 62, 31}, {961, 62, 31}, {960, 66, 33},
               {801, 66, 33},  {800, 80, 40},  {481, 80, 40},  {480, 80, 50}, {321, 80, 50},
               {320, 80, 80},  {1, 80, 80}};
  for (const auto& c : cases) {
    EXPECT_EQ(ChooseTavcClock(c.columns, false), c.eightBit) << c.columns;
    EXPECT_EQ(ChooseTavcClock(c.columns, true), c.sixteenBit) << c.columns;
    // Every clock the choice can make has PLL settings.
    EXPECT_NE(FindTavcPll(c.eightBit), nullptr);
    EXPECT_NE(FindTavcPll(c.sixteenBit), nullptr);
  }
}

TEST(TavcPll, RowsProduceTheirClockFrom48Mhz) {
  for (int mhz : {6, 25, 27, 31, 33, 40, 50, 55, 62, 66, 80}) {
    const TavcPllSetting* pll = FindTavcPll(mhz);
    ASSERT_NE(pll, nullptr) << mhz;
    const double produced =
        48.0 * pll->multiplier / (pll->preDivider * pll->pixDivider * pll->sysDivider);
    EXPECT_NEAR(produced, mhz, 1.0) << mhz;
  }
  EXPECT_EQ(FindTavcPll(24), nullptr);
  EXPECT_EQ(FindTavcPll(48), nullptr);
}

TEST(TavcInitTable, ShapeOfTheSequence) {
  const auto table = TavcInitTable();
  ASSERT_EQ(table.size(), 115u);
  EXPECT_EQ(table.front().address, 0x301A);
  EXPECT_EQ(table.front().value, 0x0001);
  EXPECT_EQ(table.back().address, 0x3100);
  int sequencerWords = 0;
  int sleepMs = 0;
  for (const auto& row : table) {
    if (row.address == 0x3086) ++sequencerWords;
    if (row.address == kTavcSleepRow) sleepMs += row.value;
  }
  EXPECT_EQ(sequencerWords, 79);
  EXPECT_EQ(sleepMs, 450);
  EXPECT_EQ(table[3].value, 0x0225);
  EXPECT_EQ(table[81].value, 0x2C2C);
  EXPECT_EQ(table[82].address, 0x309E);
}

}  // namespace
}  // namespace okc::models
