// The decoder of the hot-pixel map stream kept in the camera's flash. The first two
// input bytes give the bitmap length (0 to 8191 bytes); the rest is the stream.
// Properties: the decoder agrees with a reference decoder (same verdict, same
// bitmap), leaves the bitmap untouched when it refuses, and never writes outside
// it; and the rest of the input read as a bitmap survives compress, decode and
// pack/unpack unchanged whenever its stream fits the bitmap's length.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <vector>

#include "imaging/HotPixelMap.h"

namespace {

using okc::imaging::HotMapDecode;

// The bitmap a stream describes, or nothing when it is not sound.
std::optional<std::vector<uint8_t>> ReferenceDecode(const uint8_t* stream, size_t size, size_t bitmapBytes) {
  if (size < 8 || stream[0] != 'O' || stream[1] != 'K' || stream[2] != 'C' || stream[3] != 'D') return std::nullopt;
  const size_t n = size_t{stream[4]} << 24 | size_t{stream[5]} << 16 | size_t{stream[6]} << 8 | stream[7];
  if (n < 8 || n % 2 != 0 || n > size || n > (bitmapBytes > 8 ? bitmapBytes : 8)) return std::nullopt;
  std::vector<uint8_t> bitmap(bitmapBytes, 0);
  size_t block = 0;
  for (size_t p = 8; p < n; p += 2) {
    if (stream[p] == 0 && stream[p + 1] == 0) {
      ++block;
      if (block * 256 >= bitmapBytes) return std::nullopt;  // a marker after the last block
      continue;
    }
    const size_t low = (stream[p] >> 4) | (stream[p] & 0x0F) << 4;
    const size_t index = block * 256 + low;
    if (index >= bitmapBytes) return std::nullopt;
    bitmap[index] = stream[p + 1];
  }
  return bitmap;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const size_t bitmapBytes = (size_t{data[0]} << 8 | data[1]) & 0x1FFF;
  const uint8_t* stream = data + 2;
  const size_t streamBytes = size - 2;

  // Guard bytes around the bitmap catch a write past either end.
  constexpr size_t kGuard = 16;
  constexpr uint8_t kUntouched = 0xA5;
  std::vector<uint8_t> buffer(bitmapBytes + 2 * kGuard, kUntouched);
  std::span<uint8_t> bitmap(buffer.data() + kGuard, bitmapBytes);
  const HotMapDecode got = okc::imaging::UncompressHotBitmap({stream, streamBytes}, bitmap);
  const auto expected = ReferenceDecode(stream, streamBytes, bitmapBytes);
  if ((got == HotMapDecode::Ok) != expected.has_value()) std::abort();
  for (size_t i = 0; i < kGuard; ++i)
    if (buffer[i] != kUntouched || buffer[kGuard + bitmapBytes + i] != kUntouched) std::abort();
  if (expected) {
    if (!std::equal(bitmap.begin(), bitmap.end(), expected->begin())) std::abort();
  } else {
    for (uint8_t b : bitmap)
      if (b != kUntouched) std::abort();
  }

  // The stream bytes as a bitmap: compress, check the header, decode, unpack and pack.
  const std::span<const uint8_t> original(stream, streamBytes);
  const std::vector<uint8_t> coded = okc::imaging::CompressHotBitmap(original);
  if (okc::imaging::HotMapStreamLength(coded) != coded.size()) std::abort();
  std::vector<uint8_t> decoded(streamBytes, 0);
  const HotMapDecode back = okc::imaging::UncompressHotBitmap(coded, decoded);
  const bool fits = coded.size() <= (streamBytes > 8 ? streamBytes : 8);
  if (back != (fits ? HotMapDecode::Ok : HotMapDecode::BadLength)) std::abort();
  if (fits && !std::equal(decoded.begin(), decoded.end(), original.begin())) std::abort();

  std::vector<uint32_t> map(streamBytes * 8);
  std::vector<uint8_t> packed(streamBytes);
  if (!okc::imaging::UnpackHotBitmap(original, map) || !okc::imaging::PackHotBitmap(map, packed)) std::abort();
  for (uint32_t v : map)
    if (v > 1) std::abort();  // an entry is a flag, nothing else
  if (!std::equal(packed.begin(), packed.end(), original.begin())) std::abort();
  return 0;
}
