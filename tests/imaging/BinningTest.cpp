#include "imaging/Binning.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace okc::imaging {
namespace {

std::vector<uint8_t> Samples16(const std::vector<uint16_t>& values) {
  std::vector<uint8_t> bytes(values.size() * 2);
  std::memcpy(bytes.data(), values.data(), bytes.size());
  return bytes;
}

uint16_t Sample16(const std::vector<uint8_t>& bytes, size_t index) {
  uint16_t v;
  std::memcpy(&v, &bytes[index * 2], 2);
  return v;
}

TEST(SoftBinRaw8, SumsAndSaturatesAt255) {
  std::vector<uint8_t> hundred(4, 100), ten(4, 10);
  ASSERT_TRUE(SoftBinRaw(hundred, 1, 1, 2, false));
  EXPECT_EQ(hundred[0], 255);
  ASSERT_TRUE(SoftBinRaw(ten, 1, 1, 2, false));
  EXPECT_EQ(ten[0], 40);
}

TEST(SoftBinRaw8, EachOutputSumsItsOwnBlockInPlace) {
  // 4 x 4 input, blocks:  1 2 | 3 4
  //                       5 6 | 7 8   ...
  std::vector<uint8_t> frame = {1, 2, 10, 20,   //
                                3, 4, 30, 40,   //
                                5, 6, 50, 60,   //
                                7, 8, 70, 80};
  ASSERT_TRUE(SoftBinRaw(frame, 2, 2, 2, false));
  EXPECT_EQ(frame[0], 10);
  EXPECT_EQ(frame[1], 100);
  EXPECT_EQ(frame[2], 26);
  EXPECT_EQ(frame[3], 255);  // 260 saturates
  // Bytes past the binned frame are leftovers of the input, not new output.
  EXPECT_EQ(frame[4], 3);
}

TEST(SoftBinRaw8, OddBinAndOddSizes) {
  // Bin 3, output 3 wide x 1 row: input 9 x 3.
  std::vector<uint8_t> frame(27);
  for (size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<uint8_t>(i % 9 < 3 ? 1 : i % 9 < 6 ? 2 : 3);
  ASSERT_TRUE(SoftBinRaw(frame, 1, 3, 3, false));
  EXPECT_EQ(frame[0], 9);
  EXPECT_EQ(frame[1], 18);
  EXPECT_EQ(frame[2], 27);
}

TEST(SoftBinRaw16, SumsAndSaturatesAt65535) {
  std::vector<uint8_t> frame = Samples16({1000, 1000, 20000, 20000,  //
                                          1000, 1000, 20000, 20000});
  ASSERT_TRUE(SoftBinRaw(frame, 1, 2, 2, true));
  EXPECT_EQ(Sample16(frame, 0), 4000);
  EXPECT_EQ(Sample16(frame, 1), 65535);
}

TEST(SoftBinRaw16, LargeBinDoesNotWrapTheSum) {
  std::vector<uint16_t> values(16 * 16, 65535);
  std::vector<uint8_t> frame = Samples16(values);
  ASSERT_TRUE(SoftBinRaw(frame, 1, 1, 16, true));
  EXPECT_EQ(Sample16(frame, 0), 65535);
}

TEST(SoftBinRawBadInput, RefusedWithoutTouchingTheFrame) {
  std::vector<uint8_t> frame(15, 3);
  const auto before = frame;
  EXPECT_FALSE(SoftBinRaw(frame, 2, 2, 2, false));  // needs 16 bytes
  EXPECT_FALSE(SoftBinRaw(frame, 1, 2, 2, true));   // needs 16 bytes
  EXPECT_FALSE(SoftBinRaw(frame, 1, 1, 0, false));
  EXPECT_FALSE(SoftBinRaw(frame, 1, 1, -2, false));
  EXPECT_FALSE(SoftBinRaw(frame, 0, 1, 2, false));
  EXPECT_FALSE(SoftBinRaw(frame, 1 << 30, 1 << 30, 1 << 30, false));
  EXPECT_EQ(frame, before);
}

TEST(SoftBinRGB, SumsEachByteOfAPixelOnItsOwn) {
  // 4 x 2 pixels of (blue, green, red) -> 2 x 1 at bin 2.
  std::vector<uint8_t> src = {
      1, 10, 100,  2, 20, 50,   5, 0, 0,  5, 0, 0,  //
      3, 30, 100,  4, 40, 50,   5, 0, 0,  5, 0, 0,  //
  };
  std::vector<uint8_t> dst(6, 0xEE);
  ASSERT_TRUE(SoftBinRGB(src, dst, 2, 1, 2));
  EXPECT_EQ(dst, (std::vector<uint8_t>{10, 100, 255, 20, 0, 0}));
}

TEST(SoftBinRGB, EveryOutputRowIsProduced) {
  const int w = 3, h = 5, bin = 2;
  std::vector<uint8_t> src(static_cast<size_t>(w * bin * h * bin * 3), 1);
  std::vector<uint8_t> dst(static_cast<size_t>(w * h * 3) + 3, 0);
  ASSERT_TRUE(SoftBinRGB(src, dst, w, h, bin));
  for (size_t i = 0; i < static_cast<size_t>(w * h * 3); ++i) ASSERT_EQ(dst[i], 4) << i;
  EXPECT_EQ(dst[w * h * 3], 0);  // nothing beyond the binned frame
}

TEST(SoftBinRGB, TooSmallBuffersAreRefused) {
  std::vector<uint8_t> src(2 * 2 * 3, 1), dst(2, 0);
  EXPECT_FALSE(SoftBinRGB(src, dst, 1, 1, 2));
  std::vector<uint8_t> bigDst(3, 0);
  EXPECT_FALSE(SoftBinRGB(src, bigDst, 1, 2, 2));  // source holds one block, not two
  EXPECT_FALSE(SoftBinRGB(src, bigDst, 1, 1, 0));
  EXPECT_EQ(bigDst, (std::vector<uint8_t>{0, 0, 0}));
  EXPECT_EQ(dst, (std::vector<uint8_t>{0, 0}));
}

}  // namespace
}  // namespace okc::imaging
