#include "imaging/ColourTables.h"

#include <gtest/gtest.h>

#include <memory>

namespace okc::imaging {
namespace {

std::unique_ptr<ColourTables> Built() {
  auto tables = std::make_unique<ColourTables>();
  BuildColourTables(*tables);
  return tables;
}

TEST(ColourMatrix, EntriesAreExactFixedPointProducts) {
  const auto t = Built();
  EXPECT_EQ(t->yRed[0], 0);
  EXPECT_EQ(t->yRed[1], 16842);
  EXPECT_EQ(t->yRed[125], 2105344);  // exactly 125 x 16842.752: no float rounding down
  EXPECT_EQ(t->yRed[255], 4294901);
  EXPECT_EQ(t->yGreen[255], 8422686);
  EXPECT_EQ(t->yBlue[255], 1637744);
  EXPECT_EQ(t->c439[100], 2877030);
  EXPECT_EQ(t->c368[255], 6149898);
  EXPECT_EQ(t->c071[255], 1186529);
  EXPECT_EQ(t->c291[255], 4863098);
  EXPECT_EQ(t->c148[255], 2473328);
}

TEST(BalanceTables, NeutralIsIdentity) {
  const auto t = Built();
  for (size_t i = 0; i < 256; ++i) {
    ASSERT_EQ(t->red[i], i);
    ASSERT_EQ(t->blue[i], i);
  }
  BuildBalanceTables(*t, 90, 10);
  BuildBalanceTables(*t, 50, 50);
  for (size_t i = 0; i < 256; ++i) ASSERT_EQ(t->red[i], i);
}

TEST(BalanceTables, FullScaleDoublesAndSaturates) {
  const auto t = Built();
  BuildBalanceTables(*t, 100, 100);
  EXPECT_EQ(t->red[100], 200);
  EXPECT_EQ(t->red[127], 254);
  EXPECT_EQ(t->red[128], 255);
  EXPECT_EQ(t->red[200], 255);
  EXPECT_EQ(t->blue[255], 255);
}

TEST(BalanceTables, RedAndBlueAreIndependentAndDivisionTruncates) {
  const auto t = Built();
  BuildBalanceTables(*t, 25, 75);
  EXPECT_EQ(t->red[200], 100);
  EXPECT_EQ(t->red[3], 1);  // 75 / 50
  EXPECT_EQ(t->blue[100], 150);
  EXPECT_EQ(t->blue[3], 4);  // 225 / 50
}

TEST(BalanceTables, ZeroBlacksOutAndOutOfRangeValuesAreLimited) {
  const auto t = Built();
  BuildBalanceTables(*t, 0, 0);
  for (size_t i = 0; i < 256; ++i) ASSERT_EQ(t->red[i], 0);
  BuildBalanceTables(*t, -40, 100000000);
  EXPECT_EQ(t->red[255], 0);
  EXPECT_EQ(t->blue[100], 200);  // as 100, with no overflow of i x k
  EXPECT_EQ(t->blue[1], 2);
}

TEST(ProcessColourTables, OneInstanceBuiltBeforeFirstUse) {
  ColourTables& shared = ProcessColourTables();
  EXPECT_EQ(&shared, &ProcessColourTables());
  EXPECT_EQ(shared.yGreen[255], 8422686);
  EXPECT_EQ(shared.red[77], 77);
}

}  // namespace
}  // namespace okc::imaging
