#include "imaging/ColourConvert.h"

#include <gtest/gtest.h>

#include <vector>

namespace okc::imaging {
namespace {

struct Tables : ColourTables {
  Tables() { BuildColourTables(*this); }
};

// 24-bit pixels are stored blue, green, red.
std::vector<uint8_t> Pixel(uint8_t red, uint8_t green, uint8_t blue) { return {blue, green, red}; }

std::vector<uint8_t> Row(std::initializer_list<std::vector<uint8_t>> pixels) {
  std::vector<uint8_t> bytes;
  for (const auto& p : pixels) bytes.insert(bytes.end(), p.begin(), p.end());
  return bytes;
}

TEST(RGB24ToY8, KnownColours) {
  const Tables tables;
  const auto src = Row({Pixel(255, 255, 255), Pixel(0, 0, 0), Pixel(255, 0, 0), Pixel(0, 255, 0), Pixel(0, 0, 255),
                        Pixel(128, 128, 128)});
  std::vector<uint8_t> y(6, 0xEE);
  ASSERT_TRUE(RGB24ToY8(src, y, 3, 2, tables));
  // White 219, black 0; red weighs 0.257, green 0.504, blue 0.098.
  EXPECT_EQ(y, (std::vector<uint8_t>{219, 0, 65, 128, 24, 109}));
}

TEST(RGB24ToY8, RefusesShortBuffers) {
  const Tables tables;
  std::vector<uint8_t> src(4 * 3, 255), y(3, 0xEE);
  EXPECT_FALSE(RGB24ToY8(src, y, 2, 2, tables));
  EXPECT_FALSE(RGB24ToY8(std::span<const uint8_t>(src).first(8), y, 3, 1, tables));
  EXPECT_FALSE(RGB24ToY8(src, y, 0, 1, tables));
  EXPECT_EQ(y, (std::vector<uint8_t>{0xEE, 0xEE, 0xEE}));
}

TEST(RGB24ToYUV, BlackAndWhite) {
  const Tables tables;
  std::vector<uint8_t> out(4);
  ASSERT_TRUE(RGB24ToYUV(Row({Pixel(0, 0, 0), Pixel(0, 0, 0)}), out, 2, 1, tables));
  EXPECT_EQ(out, (std::vector<uint8_t>{16, 128, 16, 128}));
  ASSERT_TRUE(RGB24ToYUV(Row({Pixel(255, 255, 255), Pixel(255, 255, 255)}), out, 2, 1, tables));
  EXPECT_EQ(out, (std::vector<uint8_t>{235, 128, 235, 128}));
}

TEST(RGB24ToYUV, FirstChromaIsRedDifferenceSecondIsBlueDifference) {
  const Tables tables;
  std::vector<uint8_t> out(4);
  ASSERT_TRUE(RGB24ToYUV(Row({Pixel(255, 0, 0), Pixel(255, 0, 0)}), out, 2, 1, tables));
  EXPECT_EQ(out, (std::vector<uint8_t>{81, 239, 81, 90}));
  ASSERT_TRUE(RGB24ToYUV(Row({Pixel(0, 0, 255), Pixel(0, 0, 255)}), out, 2, 1, tables));
  EXPECT_EQ(out, (std::vector<uint8_t>{40, 109, 40, 239}));
}

TEST(RGB24ToYUV, ChromaOfAPairComesFromItsEvenPixel) {
  const Tables tables;
  std::vector<uint8_t> out(4);
  ASSERT_TRUE(RGB24ToYUV(Row({Pixel(255, 0, 0), Pixel(0, 0, 255)}), out, 2, 1, tables));
  EXPECT_EQ(out, (std::vector<uint8_t>{81, 239, 40, 90}));
}

TEST(RGB24ToYUV, RowsAreTurnedUpsideDown) {
  const Tables tables;
  const auto src = Row({Pixel(0, 0, 0), Pixel(0, 0, 0), Pixel(255, 255, 255), Pixel(255, 255, 255)});
  std::vector<uint8_t> out(8);
  ASSERT_TRUE(RGB24ToYUV(src, out, 2, 2, tables));
  EXPECT_EQ(out, (std::vector<uint8_t>{235, 128, 235, 128, 16, 128, 16, 128}));
}

TEST(RGB24ToYUV, OddWidthEndsEachRowWithLumaAndFirstChroma) {
  const Tables tables;
  // 3 x 2: bottom row red, red, blue; top row black. Output starts with the bottom row.
  const auto src = Row({Pixel(0, 0, 0), Pixel(0, 0, 0), Pixel(0, 0, 0),  //
                        Pixel(255, 0, 0), Pixel(255, 0, 0), Pixel(0, 0, 255)});
  std::vector<uint8_t> out(3 * 2 * 2 + 2, 0xEE);
  ASSERT_TRUE(RGB24ToYUV(src, out, 3, 2, tables));
  EXPECT_EQ(out, (std::vector<uint8_t>{81, 239, 81, 90, 40, 109,  //
                                       16, 128, 16, 128, 16, 128,  //
                                       0xEE, 0xEE}));
}

TEST(RGB24ToYUV, RefusesShortBuffers) {
  const Tables tables;
  std::vector<uint8_t> src(2 * 3, 0), out(3, 0xEE);
  EXPECT_FALSE(RGB24ToYUV(src, out, 2, 1, tables));
  EXPECT_FALSE(RGB24ToYUV(src, out, 2, -1, tables));
  EXPECT_EQ(out, (std::vector<uint8_t>{0xEE, 0xEE, 0xEE}));
}

TEST(GreyToRGB24, EachSampleFillsAllThreeBytes) {
  std::vector<uint8_t> grey = {0, 9, 255, 128}, rgb(12 + 1, 0xEE);
  ASSERT_TRUE(GreyToRGB24(grey, rgb, 2, 2));
  EXPECT_EQ(rgb, (std::vector<uint8_t>{0, 0, 0, 9, 9, 9, 255, 255, 255, 128, 128, 128, 0xEE}));
  std::vector<uint8_t> small(11, 0xEE);
  EXPECT_FALSE(GreyToRGB24(grey, small, 2, 2));
  EXPECT_EQ(small, std::vector<uint8_t>(11, 0xEE));
}

}  // namespace
}  // namespace okc::imaging
