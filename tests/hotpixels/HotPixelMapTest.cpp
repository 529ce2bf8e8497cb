// The hot-pixel map's flash form: packing, the run-length stream, and refusing corrupt streams.
#include <gtest/gtest.h>

#include <vector>

#include "imaging/HotPixelMap.h"

namespace okc::imaging {
namespace {

using Bytes = std::vector<uint8_t>;

TEST(HotPixelStream, SingleByteBehindTheFirstBlockCodesAsMarkerThenEntry) {
  Bytes bitmap(512, 0);
  bitmap[300] = 0x81;
  const Bytes stream = CompressHotBitmap(bitmap);
  EXPECT_EQ(stream, (Bytes{'O', 'K', 'C', 'D', 0, 0, 0, 12, 0, 0, 0xC2, 0x81}));
  Bytes decoded(512, 0xEE);
  ASSERT_EQ(UncompressHotBitmap(stream, decoded), HotMapDecode::Ok);
  EXPECT_EQ(decoded, bitmap);
}

TEST(HotPixelStream, EmptyMapIsTheBareHeaderAndDecodesToNothing) {
  const Bytes stream = CompressHotBitmap(Bytes(153600, 0));
  ASSERT_EQ(stream.size(), 8u + 2 * 599);  // a marker after every block but the last
  EXPECT_EQ(HotMapStreamLength(stream), stream.size());
  Bytes bare = {'O', 'K', 'C', 'D', 0, 0, 0, 8};
  Bytes decoded(153600, 0x55);
  ASSERT_EQ(UncompressHotBitmap(bare, decoded), HotMapDecode::Ok);
  EXPECT_EQ(decoded, Bytes(153600, 0));
}

TEST(HotPixelStream, StatedLengthIsTheTrueOneForEveryBitmapLength) {
  for (size_t length : {64u, 255u, 256u, 257u, 300u, 1000u, 153600u}) {
    Bytes bitmap(length, 0);
    for (size_t i = 0; i < length; i += 37) bitmap[i] = static_cast<uint8_t>(i | 1);
    const Bytes stream = CompressHotBitmap(bitmap);
    EXPECT_EQ(HotMapStreamLength(stream), stream.size()) << length;
    Bytes decoded(length, 0);
    ASSERT_EQ(UncompressHotBitmap(stream, decoded), HotMapDecode::Ok) << length;
    EXPECT_EQ(decoded, bitmap) << length;
  }
}

TEST(HotPixelStream, CorruptStreamsAreRefusedAndLeaveTheBitmapAlone) {
  Bytes bitmap(512, 0);
  bitmap[300] = 0x81;
  const Bytes sound = CompressHotBitmap(bitmap);
  auto with = [&](auto change) {
    Bytes b = sound;
    change(b);
    return b;
  };
  struct Case {
    const char* what;
    Bytes stream;
    size_t bitmapBytes;
    HotMapDecode result;
  };
  const Case cases[] = {
      {"wrong magic", with([](Bytes& b) { b[3] = 'X'; }), 512, HotMapDecode::BadMagic},
      {"empty", {}, 512, HotMapDecode::BadMagic},
      {"length below the header", with([](Bytes& b) { b[7] = 6; }), 512, HotMapDecode::BadLength},
      {"odd length", with([](Bytes& b) { b[7] = 11; }), 512, HotMapDecode::BadLength},
      {"length beyond the bytes", with([](Bytes& b) { b[7] = 14; }), 512, HotMapDecode::BadLength},
      {"length beyond the bitmap", with([](Bytes& b) { b[5] = 1; }), 512, HotMapDecode::BadLength},
      {"too many markers", with([](Bytes& b) { b[10] = 0, b[11] = 0; }), 512, HotMapDecode::BadEntry},
      {"entry outside the bitmap", sound, 290, HotMapDecode::BadEntry},  // byte 300 of 290
  };
  for (const Case& c : cases) {
    Bytes decoded(c.bitmapBytes, 0x5A);
    EXPECT_EQ(UncompressHotBitmap(c.stream, decoded), c.result) << c.what;
    EXPECT_EQ(decoded, Bytes(c.bitmapBytes, 0x5A)) << c.what;
  }
}

TEST(HotPixelBitmap, PacksEightPixelsAByteLowBitFirstAndUnpacksToOnesAndZeros) {
  std::vector<uint32_t> map(24, 0);
  map[0] = 1;
  map[9] = 7;  // any non-zero entry is hot
  map[23] = 1;
  Bytes bitmap(3, 0xFF);
  ASSERT_TRUE(PackHotBitmap(map, bitmap));
  EXPECT_EQ(bitmap, (Bytes{0x01, 0x02, 0x80}));
  std::vector<uint32_t> back(24, 9);
  ASSERT_TRUE(UnpackHotBitmap(bitmap, back));
  map[9] = 1;
  EXPECT_EQ(back, map);
  Bytes tooShort(2);
  EXPECT_FALSE(PackHotBitmap(map, tooShort));
  EXPECT_FALSE(UnpackHotBitmap(tooShort, back));

  std::vector<uint32_t> list(24, 0);
  EXPECT_EQ(ListHotPixels(map, list), 3u);
  EXPECT_EQ(std::vector<uint32_t>(list.begin(), list.begin() + 3), (std::vector<uint32_t>{0, 9, 23}));
}

TEST(HotPixelBitmap, MirroredReadoutMirrorsTheMap) {
  // 3 x 2: hot pixels at (0, 0) and (2, 1).
  const std::vector<uint32_t> map = {1, 0, 0, 0, 0, 1};
  std::vector<uint32_t> out(6, 9);
  ASSERT_TRUE(FlipHotPixelMap(map, 3, 2, false, true, out));
  EXPECT_EQ(out, (std::vector<uint32_t>{0, 0, 1, 1, 0, 0}));
  ASSERT_TRUE(FlipHotPixelMap(map, 3, 2, true, false, out));
  EXPECT_EQ(out, (std::vector<uint32_t>{0, 0, 1, 1, 0, 0}));
  ASSERT_TRUE(FlipHotPixelMap(map, 3, 2, true, true, out));
  EXPECT_EQ(out, map);
  std::vector<uint32_t> shortOut(5, 9);
  EXPECT_FALSE(FlipHotPixelMap(map, 3, 2, true, true, shortOut));
  EXPECT_EQ(shortOut, std::vector<uint32_t>(5, 9));
  std::vector<uint32_t> same = map;
  EXPECT_FALSE(FlipHotPixelMap(same, 3, 2, true, false, same));
}

}  // namespace
}  // namespace okc::imaging
