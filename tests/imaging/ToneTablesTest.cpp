#include "imaging/ToneTables.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "FrameData.h"

namespace okc::imaging {
namespace {

struct Tables {
  uint8_t t8[kToneTable8Entries] = {};
  std::unique_ptr<uint16_t[]> t16 = std::make_unique<uint16_t[]>(kToneTable16Entries);
  void Build(int gamma) { ASSERT_TRUE(BuildToneTables(gamma, t8, t16.get())); }
};

using testing_frames::Sample16;
using testing_frames::Samples16;

TEST(ToneCurve, KnownEntriesReachTheFrame) {
  Tables t;
  t.Build(1);
  EXPECT_EQ(t.t8[128], 91);
  t.Build(100);
  std::vector<uint8_t> frame = {0, 1, 128, 255, 1};
  EXPECT_TRUE(ApplyTone8(frame, 100, t.t8));
  EXPECT_EQ(frame, (std::vector<uint8_t>{0, 15, 180, 255, 15}));
  // Out-of-range gammas are limited, never a negative exponent.
  EXPECT_EQ(ClampGamma(-7), 1);
  EXPECT_FLOAT_EQ(ToneExponent(500), 0.5f);
}

TEST(ToneCurve, EndsAreFixedAndTablesRiseForEveryGamma) {
  Tables t;
  for (int gamma : {1, 20, 49, 51, 80, 100}) {
    SCOPED_TRACE(gamma);
    t.Build(gamma);
    EXPECT_EQ(t.t8[0], 0);
    EXPECT_EQ(t.t8[255], 255);
    EXPECT_EQ(t.t16[0], 0);
    EXPECT_EQ(t.t16[65535], 65535);
    for (size_t i = 1; i < kToneTable8Entries; ++i) ASSERT_GE(t.t8[i], t.t8[i - 1]) << i;
    for (size_t i = 1; i < kToneTable16Entries; ++i) ASSERT_GE(t.t16[i], t.t16[i - 1]) << i;
    // Well above neutral the curve lifts the shadows, well below it darkens them.
    if (gamma < 40 || gamma > 60) {
      EXPECT_EQ(t.t8[64] > 64, gamma > 50);
    }
  }
}

// The float curve at exponent 1 is not an identity, so neutral gamma must skip the tables.
TEST(ToneStage, NeutralGammaLeavesFramesUntouched) {
  Tables t;
  t.Build(50);
  t.t8[200] = 0;  // tables that would show if they were used
  t.t16[0x1003] = 0;
  std::vector<uint8_t> frame8 = {0, 100, 200, 255};
  const std::vector<uint8_t> before8 = frame8;
  EXPECT_TRUE(ApplyTone8(frame8, 50, t.t8));
  EXPECT_EQ(frame8, before8);
  std::vector<uint8_t> frame16 = Samples16({0x1003, 0xFFFF, 7});
  const std::vector<uint8_t> before16 = frame16;
  EXPECT_TRUE(ApplyTone16(frame16, 50, t.t16.get()));
  EXPECT_EQ(frame16, before16);
}

TEST(ToneStage, MapsWhole16BitSamplesAndLeavesAnOddTrailingByte) {
  Tables t;
  t.Build(100);
  std::vector<uint8_t> frame = Samples16({0xABD0, 0x0100});
  frame.push_back(0x5A);
  EXPECT_TRUE(ApplyTone16(frame, 100, t.t16.get()));
  EXPECT_EQ(Sample16(frame, 0), t.t16[0xABD0]);
  EXPECT_EQ(Sample16(frame, 1), t.t16[0x0100]);
  EXPECT_GT(Sample16(frame, 1), 0x0100);  // exponent 0.5 brightens
  EXPECT_EQ(frame[4], 0x5A);
}

TEST(ToneStage, NullTablesAreRefused) {
  uint8_t t8[kToneTable8Entries] = {};
  EXPECT_FALSE(BuildToneTables(60, t8, nullptr));
  std::vector<uint8_t> frame(8, 7);
  EXPECT_FALSE(ApplyTone16(frame, 60, nullptr));
  EXPECT_EQ(frame, std::vector<uint8_t>(8, 7));
}

}  // namespace
}  // namespace okc::imaging
