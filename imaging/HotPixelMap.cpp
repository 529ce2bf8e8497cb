#include "imaging/HotPixelMap.h"

#include <algorithm>

namespace okc::imaging {

namespace {

constexpr size_t kBlockBytes = 256;

uint8_t SwapNibbles(size_t index) { return static_cast<uint8_t>(((index & 0x0F) << 4) | ((index >> 4) & 0x0F)); }

}  // namespace

bool PackHotBitmap(std::span<const uint32_t> map, std::span<uint8_t> bitmap) {
  if (bitmap.size() < HotBitmapBytes(map.size())) return false;
  std::fill(bitmap.begin(), bitmap.begin() + static_cast<ptrdiff_t>(HotBitmapBytes(map.size())), uint8_t{0});
  for (size_t i = 0; i < map.size(); ++i)
    if (map[i] != 0) bitmap[i / 8] = static_cast<uint8_t>(bitmap[i / 8] | (1u << (i % 8)));
  return true;
}

bool UnpackHotBitmap(std::span<const uint8_t> bitmap, std::span<uint32_t> map) {
  if (bitmap.size() < HotBitmapBytes(map.size())) return false;
  for (size_t i = 0; i < map.size(); ++i) map[i] = (bitmap[i / 8] >> (i % 8)) & 1u;
  return true;
}

std::vector<uint8_t> CompressHotBitmap(std::span<const uint8_t> bitmap) {
  std::vector<uint8_t> stream(std::begin(kHotMapMagic), std::end(kHotMapMagic));
  stream.resize(kHotMapHeaderBytes);
  for (size_t i = 0; i < bitmap.size(); ++i) {
    if (bitmap[i] != 0) {
      stream.push_back(SwapNibbles(i));
      stream.push_back(bitmap[i]);
    }
    if (i % kBlockBytes == kBlockBytes - 1 && i + 1 < bitmap.size()) {
      stream.push_back(0);
      stream.push_back(0);
    }
  }
  const auto n = static_cast<uint32_t>(stream.size());
  stream[4] = static_cast<uint8_t>(n >> 24);
  stream[5] = static_cast<uint8_t>(n >> 16);
  stream[6] = static_cast<uint8_t>(n >> 8);
  stream[7] = static_cast<uint8_t>(n);
  return stream;
}

uint32_t HotMapStreamLength(std::span<const uint8_t> header) {
  if (header.size() < kHotMapHeaderBytes ||
      !std::equal(std::begin(kHotMapMagic), std::end(kHotMapMagic), header.begin()))
    return 0;
  return static_cast<uint32_t>(header[4]) << 24 | static_cast<uint32_t>(header[5]) << 16 |
         static_cast<uint32_t>(header[6]) << 8 | header[7];
}

HotMapDecode UncompressHotBitmap(std::span<const uint8_t> stream, std::span<uint8_t> bitmap) {
  if (stream.size() < 4 || !std::equal(std::begin(kHotMapMagic), std::end(kHotMapMagic), stream.begin()))
    return HotMapDecode::BadMagic;
  const uint32_t n = HotMapStreamLength(stream);
  if (n < kHotMapHeaderBytes || n % 2 != 0 || n > stream.size() || n > std::max(bitmap.size(), kHotMapHeaderBytes))
    return HotMapDecode::BadLength;
  const size_t blocks = (bitmap.size() + kBlockBytes - 1) / kBlockBytes;
  std::vector<uint8_t> out(bitmap.size(), 0);
  size_t block = 0;
  for (size_t p = kHotMapHeaderBytes; p < n; p += 2) {
    const uint8_t s = stream[p];
    const uint8_t v = stream[p + 1];
    if (s == 0 && v == 0) {
      if (++block >= blocks) return HotMapDecode::BadEntry;
      continue;
    }
    const size_t index = kBlockBytes * block + (s & 0x0F) * 16u + (s >> 4);
    if (index >= out.size()) return HotMapDecode::BadEntry;
    out[index] = v;
  }
  std::copy(out.begin(), out.end(), bitmap.begin());
  return HotMapDecode::Ok;
}

bool FlipHotPixelMap(std::span<const uint32_t> src, int width, int height, bool flipRow, bool flipColumn,
                     std::span<uint32_t> dst) {
  if (width <= 0 || height <= 0) return false;
  const size_t w = static_cast<size_t>(width);
  const size_t h = static_cast<size_t>(height);
  if (src.size() / w < h || dst.size() / w < h) return false;
  const uint32_t* s = src.data();
  const uint32_t* d = dst.data();
  if (s < d + w * h && d < s + w * h) return false;
  for (size_t r = 0; r < h; ++r) {
    const size_t fromRow = flipRow ? h - 1 - r : r;
    for (size_t c = 0; c < w; ++c) dst[r * w + c] = src[fromRow * w + (flipColumn ? w - 1 - c : c)];
  }
  return true;
}

uint32_t ListHotPixels(std::span<const uint32_t> map, std::span<uint32_t> list) {
  if (list.size() < map.size()) return 0;
  uint32_t count = 0;
  for (size_t i = 0; i < map.size(); ++i)
    if (map[i] != 0) list[count++] = static_cast<uint32_t>(i);
  return count;
}

}  // namespace okc::imaging
