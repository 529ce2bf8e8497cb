#include "imaging/Flip.h"

#include <gtest/gtest.h>

#include <numeric>
#include <string>
#include <vector>

namespace okc::imaging {
namespace {

std::vector<uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }
std::string Text(const std::vector<uint8_t>& bytes) { return {bytes.begin(), bytes.end()}; }

std::string Flipped(const std::string& frame, int w, int h, int bytesPerSample, bool flipRow, bool flipColumn) {
  std::vector<uint8_t> bytes = Bytes(frame);
  EXPECT_TRUE(SoftMisc(bytes, w, h, bytesPerSample, flipRow, flipColumn));
  return Text(bytes);
}

TEST(SoftMisc8Bit, RowFlipMirrorsEachRow) {
  EXPECT_EQ(Flipped("ABCDE", 5, 1, 1, true, false), "EDCBA");
  EXPECT_EQ(Flipped("ABCD", 4, 1, 1, true, false), "DCBA");
  EXPECT_EQ(Flipped("ABCDEabcde", 5, 2, 1, true, false), "EDCBAedcba");
}

TEST(SoftMisc8Bit, ColumnFlipMirrorsRowOrder) {
  EXPECT_EQ(Flipped("ab" "cd" "ef", 2, 3, 1, false, true), "ef" "cd" "ab");  // middle row stays
  EXPECT_EQ(Flipped("ab" "cd" "ef" "gh", 2, 4, 1, false, true), "gh" "ef" "cd" "ab");
}

TEST(SoftMisc8Bit, BothFlagsTurnTheFrame) {
  EXPECT_EQ(Flipped("ab" "cd", 2, 2, 1, true, true), "dc" "ba");
  EXPECT_EQ(Flipped("abc" "def" "ghi", 3, 3, 1, true, true), "ihg" "fed" "cba");
}

TEST(SoftMisc8Bit, NoFlagsChangeNothing) { EXPECT_EQ(Flipped("abc" "def", 3, 2, 1, false, false), "abcdef"); }

TEST(SoftMiscWideSamples, SixteenBitSamplesMoveWhole) {
  // Samples "Aa" "Bb" "Cc": the two bytes of a sample keep their order.
  EXPECT_EQ(Flipped("AaBbCc", 3, 1, 2, true, false), "CcBbAa");
  EXPECT_EQ(Flipped("AaBb" "CcDd" "EeFf", 2, 3, 2, false, true), "EeFf" "CcDd" "AaBb");
  EXPECT_EQ(Flipped("AaBb" "CcDd", 2, 2, 2, true, true), "DdCc" "BbAa");
}

TEST(SoftMiscWideSamples, TwentyFourBitPixelsMoveWhole) {
  EXPECT_EQ(Flipped("bgrBGR123", 3, 1, 3, true, false), "123BGRbgr");
  EXPECT_EQ(Flipped("bgrBGR" "123456", 2, 2, 3, true, true), "456123" "BGRbgr");
}

// Each flip is its own inverse, on odd and even sizes alike, and stays inside the frame.
TEST(SoftMiscWideSamples, FlippingTwiceRestoresTheFrame) {
  for (int bytes : {1, 2, 3})
    for (auto [w, h] : {std::pair{5, 3}, std::pair{4, 6}, std::pair{1, 7}, std::pair{7, 1}})
      for (int mode = 1; mode < 4; ++mode) {
        SCOPED_TRACE(testing::Message() << bytes << " " << w << "x" << h << " mode " << mode);
        std::vector<uint8_t> frame(static_cast<size_t>(w * h * bytes) + 4);
        std::iota(frame.begin(), frame.end(), uint8_t{1});
        const std::vector<uint8_t> original = frame;
        ASSERT_TRUE(SoftMisc(frame, w, h, bytes, mode & 1, mode & 2));
        EXPECT_TRUE(std::equal(frame.end() - 4, frame.end(), original.end() - 4));  // bytes past the frame
        const int mirroredSamples = mode == 1 ? w : mode == 2 ? h : w * h;
        if (mirroredSamples > 1) {
          EXPECT_NE(frame, original);
        }
        ASSERT_TRUE(SoftMisc(frame, w, h, bytes, mode & 1, mode & 2));
        EXPECT_EQ(frame, original);
      }
}

TEST(SoftMiscBadInput, RefusedWithoutTouchingTheFrame) {
  std::vector<uint8_t> frame = Bytes("abcdef");
  EXPECT_FALSE(SoftMisc(frame, 4, 2, 1, true, true));  // 8 bytes needed
  EXPECT_FALSE(SoftMisc(frame, 2, 2, 2, true, false));
  EXPECT_FALSE(SoftMisc(frame, 0, 2, 1, true, false));
  EXPECT_FALSE(SoftMisc(frame, 3, -2, 1, false, true));
  EXPECT_FALSE(SoftMisc(frame, 3, 2, 0, true, false));
  EXPECT_FALSE(SoftMisc(frame, 1, 1, 5, true, false));
  EXPECT_FALSE(SoftMisc(frame, 1 << 30, 1 << 30, 2, true, false));
  EXPECT_FALSE(SoftMisc({}, 1, 1, 1, true, true));
  EXPECT_EQ(Text(frame), "abcdef");
}

}  // namespace
}  // namespace okc::imaging
