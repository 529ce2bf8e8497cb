// Correcting hot pixels of a frame buffer from their same-colour neighbours.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "imaging/HotPixels.h"

namespace okc::imaging {
namespace {

// A W x H frame of 8- or 16-bit samples with flags per pixel.
struct TestFrame {
  TestFrame(int w, int h, bool sixteen, uint32_t fill) : width(w), height(h), sixteenBit(sixteen) {
    bytes.resize(static_cast<size_t>(w * h) * (sixteen ? 2 : 1));
    flags.assign(static_cast<size_t>(w * h), 0);
    for (int i = 0; i < w * h; ++i) Set(i, fill);
  }
  int At(int x, int y) const { return y * width + x; }
  uint32_t Get(int i) const {
    if (!sixteenBit) return bytes[static_cast<size_t>(i)];
    uint16_t v;
    std::memcpy(&v, &bytes[2 * static_cast<size_t>(i)], 2);
    return v;
  }
  void Set(int i, uint32_t v) {
    if (!sixteenBit) {
      bytes[static_cast<size_t>(i)] = static_cast<uint8_t>(v);
    } else {
      const auto w = static_cast<uint16_t>(v);
      std::memcpy(&bytes[2 * static_cast<size_t>(i)], &w, 2);
    }
  }
  void Hot(int i, uint32_t v = 250) {
    Set(i, v);
    flags[static_cast<size_t>(i)] = 1;
    list.push_back(static_cast<uint32_t>(i));
  }
  size_t CorrectMap(bool isColor) {
    HotPixelSource map{list, flags};
    return CorrectHotPixels({bytes, width, height, sixteenBit}, isColor, &map, nullptr);
  }
  size_t CorrectDark(bool isColor) {
    HotPixelSource dark{list, flags};
    return CorrectHotPixels({bytes, width, height, sixteenBit}, isColor, nullptr, &dark);
  }

  int width, height;
  bool sixteenBit;
  std::vector<uint8_t> bytes;
  std::vector<uint32_t> flags;
  std::vector<uint32_t> list;
};

TEST(HotPixelCorrection, MonoInteriorPixelTakesTheMeanOfItsGoodNeighbours) {
  for (bool sixteen : {false, true}) {
    TestFrame f(8, 8, sixteen, 0);
    const int c = f.At(4, 4);
    f.Set(c - 1, 10);
    f.Set(c + 1, 20);
    f.Set(c - 8, 30);
    f.Set(c + 8, 41);
    f.Hot(c);
    EXPECT_EQ(f.CorrectMap(false), 1u);
    EXPECT_EQ(f.Get(c), 25u) << sixteen;  // (10 + 20 + 30 + 41) / 4

    // Only the left neighbour good.
    f.Hot(c + 1);
    f.Hot(c - 8);
    f.Hot(c + 8);
    f.list = {static_cast<uint32_t>(c)};
    f.Set(c, 250);
    f.CorrectMap(false);
    EXPECT_EQ(f.Get(c), 10u) << sixteen;
  }
}

TEST(HotPixelCorrection, PixelWithNoGoodNeighbourTakesTheDarkestInsteadOfGoingBlack) {
  TestFrame f(8, 8, true, 0);
  const int c = f.At(3, 3);
  f.Hot(c - 1, 3000);
  f.Hot(c + 1, 2000);
  f.Hot(c - 8, 4000);
  f.Hot(c + 8, 2500);
  f.Hot(c, 60000);
  f.list = {static_cast<uint32_t>(c)};
  f.CorrectMap(false);
  EXPECT_EQ(f.Get(c), 2000u);
}

TEST(HotPixelCorrection, ColourPixelsTakeSameColourNeighboursAndNeverWrapToAnotherRow) {
  TestFrame f(10, 6, false, 0);
  for (int i = 0; i < 60; ++i) f.Set(i, static_cast<uint32_t>(i + 100));
  struct Case {
    int x, y;
    int from;  // the pixel whose value it takes
  };
  const Case cases[] = {
      {1, 3, f.At(3, 3)},  // column 1: two to the right
      {9, 0, f.At(7, 0)},  // top row, last column: two to the left, in its own row
      {8, 5, f.At(6, 5)},  // bottom row: two to the left
      {0, 2, f.At(2, 2)},
  };
  for (const Case& c : cases) {
    TestFrame g = f;
    g.Hot(g.At(c.x, c.y));
    g.CorrectMap(true);
    EXPECT_EQ(g.Get(g.At(c.x, c.y)), f.Get(c.from)) << c.x << "," << c.y;
  }
  // Interior colour pixel: the four neighbours two away.
  TestFrame g = f;
  const int c = g.At(4, 2);
  g.Hot(c);
  g.CorrectMap(true);
  EXPECT_EQ(g.Get(c), (f.Get(c - 2) + f.Get(c + 2) + f.Get(c - 20) + f.Get(c + 20)) / 4);
}

TEST(HotPixelCorrection, DarkFramePixelsOnColourSensorsTakeTheirRowNeighbours) {
  TestFrame f(10, 4, false, 0);
  for (int i = 0; i < 40; ++i) f.Set(i, static_cast<uint32_t>(2 * i));
  TestFrame g = f;
  g.Hot(g.At(5, 2));
  g.Hot(g.At(1, 1));  // second column: the right neighbour, not the previous row's end
  g.Hot(g.At(8, 1));  // next to last column: the left neighbour
  EXPECT_EQ(g.CorrectDark(true), 3u);
  EXPECT_EQ(g.Get(g.At(5, 2)), (f.Get(g.At(3, 2)) + f.Get(g.At(7, 2))) / 2);
  EXPECT_EQ(g.Get(g.At(1, 1)), f.Get(g.At(3, 1)));
  EXPECT_EQ(g.Get(g.At(8, 1)), f.Get(g.At(6, 1)));
}

TEST(HotPixelCorrection, CorrectedPixelServesAsNeighbourAndBadListsAreHarmless) {
  TestFrame f(6, 1, false, 40);
  f.Hot(0, 200);
  f.Hot(1, 220);
  f.CorrectMap(false);  // pixel 0 takes pixel 1 (still hot), then pixel 1 takes pixel 2
  EXPECT_EQ(f.Get(0), 220u);
  EXPECT_EQ(f.Get(1), 40u);

  TestFrame g(4, 4, false, 7);
  g.list = {16, 1000000, 0xFFFFFFFF};  // outside the frame: skipped
  EXPECT_EQ(g.CorrectMap(false), 0u);
  std::vector<uint32_t> shortFlags(3, 0);
  HotPixelSource map{g.list, shortFlags};
  EXPECT_EQ(CorrectHotPixels({g.bytes, 4, 4, false}, false, &map, nullptr), 0u);
  EXPECT_EQ(CorrectHotPixels({{g.bytes.data(), 15}, 4, 4, false}, false, &map, nullptr), 0u);  // short frame
  EXPECT_EQ(g.bytes, std::vector<uint8_t>(16, 7));
}

}  // namespace
}  // namespace okc::imaging
