// The register arithmetic of the TAV sensor on inputs the camera object never
// produces itself (saturation, nonsense windows, implausible calibration), and
// the clock boundaries with their PLL rows.
#include <gtest/gtest.h>

#include <limits>

#include "models/TavcClock.h"
#include "models/TavcSensorMath.h"

namespace okc::models {
namespace {

TEST(TavcSensorMath, IntegrationLinesNeverZeroNorWrapped) {
  EXPECT_EQ(TavcIntegrationLines(64, 6, 1390), 1u);
  EXPECT_EQ(TavcIntegrationLines(0, 50, 1650), 1u);
  EXPECT_EQ(TavcIntegrationLines(33000, 0, 1650), 1u);  // clock not known yet
  EXPECT_EQ(TavcIntegrationLines(33000, -5, 1650), 1u);
  EXPECT_EQ(TavcIntegrationLines(33000, 50, 0), 33000u * 50 - 26);
  EXPECT_EQ(TavcIntegrationLines(std::numeric_limits<uint64_t>::max() / 100, 80, 1),
            std::numeric_limits<uint32_t>::max());
}

TEST(TavcSensorMath, LineLengthStaysInRangeForNonsense) {
  EXPECT_EQ(TavcLineLengthFor(false, 320, 240, 1, 80, 100), kTavcMinLineLength);
  EXPECT_EQ(TavcLineLengthFor(false, 1280, 960, 0, 50, 80), kTavcMinLineLength);
  EXPECT_EQ(TavcLineLengthFor(false, 1280, -26, 1, 50, 80), kTavcMinLineLength);
  EXPECT_EQ(TavcLineLengthFor(false, -1280, 960, 1, 50, 80), kTavcMinLineLength);
  EXPECT_EQ(TavcLineLengthFor(true, 1280, 960, 2, 100000, 40), kTavcLongLineLength);
}

TEST(TavcSensorMath, ImplausibleCalibrationUsesTheTypicalLine) {
  // Readings 447 at 55 degrees and 467 at 70 degrees: 0.75 degrees per count.
  EXPECT_FLOAT_EQ(TavcTemperature(467, 447, 467), 70.0f);
  // A slope outside 0.5..1, a reversed pair and missing words.
  EXPECT_FLOAT_EQ(TavcTemperature(500, 400, 400), 20.0f);
  EXPECT_FLOAT_EQ(TavcTemperature(447, 467, 400), 20.0f);
  EXPECT_FLOAT_EQ(TavcTemperature(0, 0, 0), -280.0f);
}

TEST(TavcSensorMath, ClockByColumnsAndSampleWidthHasAPllRow) {
  const struct {
    int columns, eightBit, sixteenBit;
  } cases[] = {{1280, 50, 25}, {1025, 50, 25}, {1024, 62, 31}, {961, 62, 31}, {960, 66, 33}, {801, 66, 33},
               {800, 80, 40},  {481, 80, 40},  {480, 80, 50},  {321, 80, 50}, {320, 80, 80}, {1, 80, 80}};
  for (const auto& c : cases) {
    EXPECT_EQ(ChooseTavcClock(c.columns, false), c.eightBit) << c.columns;
    EXPECT_EQ(ChooseTavcClock(c.columns, true), c.sixteenBit) << c.columns;
  }
  for (int mhz : {6, 25, 27, 31, 33, 40, 50, 55, 62, 66, 80}) {
    const TavcPllSetting* pll = FindTavcPll(mhz);
    ASSERT_NE(pll, nullptr) << mhz;
    EXPECT_NEAR(48.0 * pll->multiplier / (pll->preDivider * pll->pixDivider * pll->sysDivider), mhz, 1.0) << mhz;
  }
  EXPECT_EQ(FindTavcPll(24), nullptr);
  EXPECT_EQ(FindTavcPll(48), nullptr);
}

}  // namespace
}  // namespace okc::models
