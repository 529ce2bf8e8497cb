#include "imaging/ToneTables.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

namespace okc::imaging {
namespace {

std::span<uint16_t, kToneTable16Entries> Table16Of(uint16_t* entries) {
  return std::span<uint16_t, kToneTable16Entries>(entries, kToneTable16Entries);
}

struct Tables {
  uint8_t t8[kToneTable8Entries] = {};
  std::unique_ptr<uint16_t[]> t16 = std::make_unique<uint16_t[]>(kToneTable16Entries);
  std::span<uint16_t, kToneTable16Entries> Table16() { return Table16Of(t16.get()); }
  void Build(int gamma) { ASSERT_TRUE(BuildToneTables(gamma, t8, Table16())); }
};

TEST(ToneCurve, GammaIsClampedToItsRange) {
  EXPECT_EQ(ClampGamma(0), 1);
  EXPECT_EQ(ClampGamma(-7), 1);
  EXPECT_EQ(ClampGamma(250), 100);
  EXPECT_EQ(ClampGamma(73), 73);
  EXPECT_FLOAT_EQ(ToneExponent(50), 1.0f);
  EXPECT_FLOAT_EQ(ToneExponent(1), 1.49f);
  EXPECT_FLOAT_EQ(ToneExponent(100), 0.5f);
  EXPECT_FLOAT_EQ(ToneExponent(500), 0.5f);  // out-of-range values never give a negative exponent
}

TEST(ToneCurve, KnownEntriesOfThe8BitTable) {
  Tables t;
  t.Build(100);
  EXPECT_EQ(t.t8[1], 15);
  EXPECT_EQ(t.t8[128], 180);
  t.Build(1);
  EXPECT_EQ(t.t8[128], 91);
}

TEST(ToneCurve, EndsAreFixedAndTablesRiseForEveryGamma) {
  Tables t;
  for (int gamma : {1, 20, 49, 50, 51, 80, 100}) {
    SCOPED_TRACE(gamma);
    t.Build(gamma);
    EXPECT_EQ(t.t8[0], 0);
    EXPECT_EQ(t.t8[255], 255);
    EXPECT_EQ(t.t16[0], 0);
    EXPECT_EQ(t.t16[65535], 65535);
    for (size_t i = 1; i < kToneTable8Entries; ++i) ASSERT_GE(t.t8[i], t.t8[i - 1]) << i;
    for (size_t i = 1; i < kToneTable16Entries; ++i) ASSERT_GE(t.t16[i], t.t16[i - 1]) << i;
  }
  // Below neutral the curve lifts the shadows, above it darkens them.
  t.Build(80);
  EXPECT_GT(t.t8[64], 64);
  t.Build(20);
  EXPECT_LT(t.t8[64], 64);
}

TEST(ToneCurve, RebuildReplacesEveryEntry) {
  Tables fresh, rebuilt;
  fresh.Build(30);
  rebuilt.Build(100);
  rebuilt.Build(30);
  EXPECT_EQ(std::memcmp(fresh.t8, rebuilt.t8, sizeof fresh.t8), 0);
  EXPECT_EQ(std::memcmp(fresh.t16.get(), rebuilt.t16.get(), kToneTable16Entries * 2), 0);
}

TEST(ToneCurve, NullTablesAreRefused) {
  uint8_t t8[kToneTable8Entries] = {};
  EXPECT_FALSE(BuildToneTables(60, t8, Table16Of(nullptr)));
  EXPECT_FALSE(BuildToneTables(60, t8, nullptr));
  std::vector<uint8_t> frame(8, 7);
  EXPECT_FALSE(ApplyTone16(frame, 60, Table16Of(nullptr)));
  EXPECT_FALSE(ApplyTone16(frame, 60, nullptr));
  EXPECT_EQ(frame, std::vector<uint8_t>(8, 7));
}

// The float curve at exponent 1 is not an identity, so neutral gamma must skip the tables.
TEST(ToneStage, NeutralGammaLeavesFramesUntouched) {
  Tables t;
  t.Build(50);
  size_t lowered = 0;
  for (size_t i = 0; i < kToneTable16Entries; ++i) {
    ASSERT_LE(i - t.t16[i], 1u) << i;
    lowered += t.t16[i] != i;
  }
  EXPECT_GT(lowered, 0u);

  std::vector<uint8_t> frame16(2 * 4096);
  for (size_t k = 0; k < 4096; ++k) {
    const uint16_t v = static_cast<uint16_t>(k * 16 + 3);
    std::memcpy(&frame16[2 * k], &v, 2);
  }
  const std::vector<uint8_t> before16 = frame16;
  EXPECT_TRUE(ApplyTone16(frame16, 50, t.Table16()));
  EXPECT_EQ(frame16, before16);

  std::vector<uint8_t> frame8(256);
  for (size_t i = 0; i < frame8.size(); ++i) frame8[i] = static_cast<uint8_t>(i);
  const std::vector<uint8_t> before8 = frame8;
  t.t8[200] = 0;  // a table that would show if it were used
  EXPECT_TRUE(ApplyTone8(frame8, 50, t.t8));
  EXPECT_EQ(frame8, before8);
}

TEST(ToneStage, MapsEveryByteOf8BitFrames) {
  Tables t;
  t.Build(100);
  std::vector<uint8_t> frame = {0, 1, 128, 255, 1};
  EXPECT_TRUE(ApplyTone8(frame, 100, t.t8));
  EXPECT_EQ(frame, (std::vector<uint8_t>{0, 15, 180, 255, 15}));
}

TEST(ToneStage, MapsWhole16BitSamplesAndLeavesAnOddTrailingByte) {
  Tables t;
  t.Build(100);
  const uint16_t samples[2] = {0xABD0, 0x0100};
  std::vector<uint8_t> frame(5, 0);
  std::memcpy(frame.data(), samples, 4);
  frame[4] = 0x5A;
  EXPECT_TRUE(ApplyTone16(frame, 100, t.Table16()));
  uint16_t mapped[2];
  std::memcpy(mapped, frame.data(), 4);
  EXPECT_EQ(mapped[0], t.t16[0xABD0]);
  EXPECT_EQ(mapped[1], t.t16[0x0100]);
  EXPECT_GT(mapped[1], 0x0100);  // exponent 0.5 brightens
  EXPECT_EQ(frame[4], 0x5A);
}

}  // namespace
}  // namespace okc::imaging
