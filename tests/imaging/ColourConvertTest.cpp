#include "imaging/ColourConvert.h"

#include <gtest/gtest.h>

#include <vector>

#include "FrameData.h"

namespace okc::imaging {
namespace {

using testing_frames::BuiltTables;
using Bytes = std::vector<uint8_t>;

// 24-bit pixels are stored blue, green, red.
const Bytes kBlack = {0, 0, 0}, kWhite = {255, 255, 255}, kRed = {0, 0, 255}, kGreen = {0, 255, 0},
            kBlue = {255, 0, 0}, kGrey = {128, 128, 128};

Bytes Pixels(std::initializer_list<Bytes> pixels) {
  Bytes bytes;
  for (const auto& p : pixels) bytes.insert(bytes.end(), p.begin(), p.end());
  return bytes;
}

TEST(RGB24ToY8, KnownColours) {
  const BuiltTables tables;
  Bytes y(6, 0xEE);
  ASSERT_TRUE(RGB24ToY8(Pixels({kWhite, kBlack, kRed, kGreen, kBlue, kGrey}), y, 3, 2, tables));
  // White 219, black 0; red weighs 0.257, green 0.504, blue 0.098.
  EXPECT_EQ(y, (Bytes{219, 0, 65, 128, 24, 109}));
}

// Y0, C1 (red difference), Y1, C2 (blue difference) per pair, chroma from the even
// pixel, rows turned upside down; an odd width ends a row with Y and C1.
TEST(RGB24ToYUV, KnownColoursPairsAndRowOrder) {
  const BuiltTables tables;
  const struct {
    Bytes src;
    int w, h;
    Bytes expected;
  } cases[] = {
      {Pixels({kBlue, kBlue}), 2, 1, {40, 109, 40, 239}},
      {Pixels({kRed, kBlue}), 2, 1, {81, 239, 40, 90}},
      {Pixels({kBlack, kBlack, kWhite, kWhite}), 2, 2, {235, 128, 235, 128, 16, 128, 16, 128}},
      {Pixels({kBlack, kBlack, kBlack, kRed, kRed, kBlue}), 3, 2,
       {81, 239, 81, 90, 40, 109, 16, 128, 16, 128, 16, 128, 0xEE, 0xEE}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.w << "x" << c.h);
    Bytes out(c.expected.size(), 0xEE);
    ASSERT_TRUE(RGB24ToYUV(c.src, out, c.w, c.h, tables));
    EXPECT_EQ(out, c.expected);
  }
}

TEST(GreyToRGB24, EachSampleFillsAllThreeBytes) {
  Bytes rgb(12 + 1, 0xEE);
  ASSERT_TRUE(GreyToRGB24(Bytes{0, 9, 255, 128}, rgb, 2, 2));
  EXPECT_EQ(rgb, (Bytes{0, 0, 0, 9, 9, 9, 255, 255, 255, 128, 128, 128, 0xEE}));
}

TEST(ColourConvertBadInput, RefusedWithoutWriting) {
  const BuiltTables tables;
  const Bytes src(4 * 3, 255);
  Bytes out(3, 0xEE);
  EXPECT_FALSE(RGB24ToY8(src, out, 2, 2, tables));  // 4 bytes needed
  EXPECT_FALSE(RGB24ToY8(std::span<const uint8_t>(src).first(8), out, 3, 1, tables));
  EXPECT_FALSE(RGB24ToY8(src, out, 0, 1, tables));
  EXPECT_FALSE(RGB24ToYUV(src, out, 2, 1, tables));  // 4 bytes needed
  EXPECT_FALSE(RGB24ToYUV(src, out, 2, -1, tables));
  EXPECT_FALSE(GreyToRGB24(src, out, 2, 2));
  EXPECT_EQ(out, Bytes(3, 0xEE));
}

TEST(ColourTables, ExactProductsAndSaturatingBalance) {
  BuiltTables t;
  EXPECT_EQ(t.yRed[125], 2105344);  // exactly 125 x 16842.752: no float rounding down
  EXPECT_EQ(t.red[77], 77);         // identity balance after the build
  BuildBalanceTables(t, 25, 75);
  EXPECT_EQ(t.red[3], 1);  // 75 / 50 truncates
  EXPECT_EQ(t.blue[3], 4);
  EXPECT_EQ(t.blue[200], 255);
  BuildBalanceTables(t, -40, 100000000);  // limited to 0 and 100, no overflow of i x k
  EXPECT_EQ(t.red[255], 0);
  EXPECT_EQ(t.blue[100], 200);
  EXPECT_EQ(&ProcessColourTables(), &ProcessColourTables());
  EXPECT_EQ(ProcessColourTables().blue[77], 77);
}

}  // namespace
}  // namespace okc::imaging
