#include "imaging/Binning.h"

#include <gtest/gtest.h>

#include <vector>

#include "FrameData.h"

namespace okc::imaging {
namespace {

using testing_frames::Sample16;
using testing_frames::Samples16;

TEST(SoftBinRaw, EachOutputSumsItsOwnBlockInPlaceAndSaturates) {
  std::vector<uint8_t> frame = {1, 2, 10, 20,   //
                                3, 4, 30, 40,   //
                                5, 6, 50, 60,   //
                                7, 8, 70, 80};
  ASSERT_TRUE(SoftBinRaw(frame, 2, 2, 2, false));
  EXPECT_EQ(std::vector<uint8_t>(frame.begin(), frame.begin() + 5), (std::vector<uint8_t>{10, 100, 26, 255, 3}));
  // Bin 3 into 3 x 1: input 9 x 3 with columns of 1, 2 and 3.
  std::vector<uint8_t> odd(27);
  for (size_t i = 0; i < odd.size(); ++i) odd[i] = static_cast<uint8_t>(i % 9 / 3 + 1);
  ASSERT_TRUE(SoftBinRaw(odd, 1, 3, 3, false));
  EXPECT_EQ(std::vector<uint8_t>(odd.begin(), odd.begin() + 3), (std::vector<uint8_t>{9, 18, 27}));
}

TEST(SoftBinRaw, SixteenBitSumsSaturateAt65535WithoutWrapping) {
  std::vector<uint8_t> frame = Samples16({1000, 1000, 20000, 20000,  //
                                          1000, 1000, 20000, 20000});
  ASSERT_TRUE(SoftBinRaw(frame, 1, 2, 2, true));
  EXPECT_EQ(Sample16(frame, 0), 4000);
  EXPECT_EQ(Sample16(frame, 1), 65535);
  std::vector<uint8_t> large = Samples16(std::vector<uint16_t>(16 * 16, 65535));
  ASSERT_TRUE(SoftBinRaw(large, 1, 1, 16, true));
  EXPECT_EQ(Sample16(large, 0), 65535);
}

TEST(SoftBinRGB, SumsEachByteOfAPixelOnItsOwnForEveryRow) {
  // 4 x 2 pixels of (blue, green, red) -> 2 x 1 at bin 2.
  const std::vector<uint8_t> src = {1, 10, 100, 2, 20, 50, 5, 0, 0, 5, 0, 0,  //
                                    3, 30, 100, 4, 40, 50, 5, 0, 0, 5, 0, 0};
  std::vector<uint8_t> dst(6, 0xEE);
  ASSERT_TRUE(SoftBinRGB(src, dst, 2, 1, 2));
  EXPECT_EQ(dst, (std::vector<uint8_t>{10, 100, 255, 20, 0, 0}));
  // 3 x 5 output: every row is produced, nothing past the binned frame.
  const std::vector<uint8_t> ones(6 * 10 * 3, 1);
  std::vector<uint8_t> out(3 * 5 * 3 + 3, 0);
  ASSERT_TRUE(SoftBinRGB(ones, out, 3, 5, 2));
  std::vector<uint8_t> expected(3 * 5 * 3, 4);
  expected.resize(expected.size() + 3, 0);
  EXPECT_EQ(out, expected);
}

TEST(SoftBinBadInput, RefusedWithoutWriting) {
  std::vector<uint8_t> frame(15, 3);
  EXPECT_FALSE(SoftBinRaw(frame, 2, 2, 2, false));  // needs 16 bytes
  EXPECT_FALSE(SoftBinRaw(frame, 1, 2, 2, true));   // needs 16 bytes
  EXPECT_FALSE(SoftBinRaw(frame, 1, 1, 0, false));
  EXPECT_FALSE(SoftBinRaw(frame, 0, 1, 2, false));
  EXPECT_FALSE(SoftBinRaw(frame, 1 << 30, 1 << 30, 1 << 30, false));
  EXPECT_EQ(frame, std::vector<uint8_t>(15, 3));
  const std::vector<uint8_t> src(2 * 2 * 3, 1);
  std::vector<uint8_t> small(2, 0), dst(3, 0);
  EXPECT_FALSE(SoftBinRGB(src, small, 1, 1, 2));
  EXPECT_FALSE(SoftBinRGB(src, dst, 1, 2, 2));  // the source holds one block, not two
  EXPECT_FALSE(SoftBinRGB(src, dst, 1, 1, 0));
  EXPECT_EQ(small, std::vector<uint8_t>(2, 0));
  EXPECT_EQ(dst, std::vector<uint8_t>(3, 0));
}

}  // namespace
}  // namespace okc::imaging
