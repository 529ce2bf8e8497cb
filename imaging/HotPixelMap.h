// The hot-pixel map as the camera's flash keeps it.
//
// The full-sensor map (one entry per sensor pixel, non-zero = hot) is packed 8
// pixels a byte (bit j of byte k is pixel 8k + j, row-major) and run-length
// coded into a stream: "OKCD", the stream length n (header included, big-endian),
// then per non-zero bitmap byte at index i an entry (s, v) with v the byte and
// s the low 8 bits of i with their nibbles exchanged; after every 256 bitmap
// bytes but the last block a marker (0, 0). v is never 0, so (0, 0) is always a marker.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace okc::imaging {

constexpr uint8_t kHotMapMagic[4] = {'O', 'K', 'C', 'D'};
constexpr size_t kHotMapHeaderBytes = 8;

// Bitmap bytes for a map of `pixels` entries.
inline size_t HotBitmapBytes(size_t pixels) { return (pixels + 7) / 8; }

// Packs the map into the bitmap (HotBitmapBytes(map.size()) bytes); false, writing nothing, when it is shorter.
bool PackHotBitmap(std::span<const uint32_t> map, std::span<uint8_t> bitmap);
// Sets every entry of the map to its bit, 1 or 0; false, writing nothing, when the bitmap is too short.
bool UnpackHotBitmap(std::span<const uint8_t> bitmap, std::span<uint32_t> map);

// The stream of a bitmap. Its header states its true length.
std::vector<uint8_t> CompressHotBitmap(std::span<const uint8_t> bitmap);

// The length a stream header states; 0 when the header is shorter than 8 bytes or lacks the magic.
uint32_t HotMapStreamLength(std::span<const uint8_t> header);

enum class HotMapDecode {
  Ok,
  BadMagic,   // not "OKCD"
  BadLength,  // the stated length is below 8, odd, beyond the bytes given or longer than the bitmap
  BadEntry,   // an entry names a byte outside the bitmap, or there are more block markers than blocks
};

// Decodes a stream into `bitmap` (its length is the map's bitmap length). The
// bitmap is written only when the whole stream is sound; else it stays as it was.
HotMapDecode UncompressHotBitmap(std::span<const uint8_t> stream, std::span<uint8_t> bitmap);

// Mirrors a width x height map into `dst` (rows reversed for flipRow, columns
// for flipColumn), for a sensor that reads its pixels out mirrored: the map is
// kept in sensor order, the frame arrives in readout order. False, writing
// nothing, when a buffer is short or dst overlaps src.
bool FlipHotPixelMap(std::span<const uint32_t> src, int width, int height, bool flipRow, bool flipColumn,
                     std::span<uint32_t> dst);

// Rebuilds the list of hot pixels of a region map: the indices of its non-zero
// entries, ascending. Returns their number; the list must hold map.size() entries.
uint32_t ListHotPixels(std::span<const uint32_t> map, std::span<uint32_t> list);

}  // namespace okc::imaging
