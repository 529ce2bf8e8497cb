#include "imaging/BmpFile.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include "platform/RegularFile.h"

namespace okc::imaging {

namespace {

constexpr uint16_t kSignature = 0x4D42;  // "BM"
constexpr uint32_t kPaletteEntries = 256;
// Information header sizes of the BMP versions whose first 40 bytes read the same.
constexpr uint32_t kInfoHeaderV4Size = 108;
constexpr uint32_t kInfoHeaderV5Size = 124;

void Put16(uint8_t* at, uint16_t value) {
  at[0] = static_cast<uint8_t>(value);
  at[1] = static_cast<uint8_t>(value >> 8);
}

void Put32(uint8_t* at, uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}

uint16_t Get16(const uint8_t* at) { return static_cast<uint16_t>(at[0] | (at[1] << 8)); }

uint32_t Get32(const uint8_t* at) {
  return static_cast<uint32_t>(at[0]) | (static_cast<uint32_t>(at[1]) << 8) | (static_cast<uint32_t>(at[2]) << 16) |
         (static_cast<uint32_t>(at[3]) << 24);
}

// Size of the pixel data, or 0 when the image is empty or too big for the 32-bit size fields.
uint64_t PixelBytes(int width, int height) {
  if (width < 1 || height < 1) return 0;
  const uint64_t bytes = static_cast<uint64_t>(GreyBmpRowBytes(width)) * static_cast<uint64_t>(height);
  if (bytes > std::numeric_limits<uint32_t>::max() - kBmpPixelOffset) return 0;
  return bytes;
}

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

}  // namespace

size_t GreyBmpRowBytes(int width) {
  if (width < 1) return 0;
  // ((8W + 31) / 8) rounded down to a multiple of 4, which is W rounded up to a multiple of 4.
  return ((static_cast<size_t>(width) * 8 + 31) / 8) & ~size_t{3};
}

bool WriteGreyBmp(const char* path, int width, int height, const uint8_t* pixels) {
  const uint64_t pixelBytes = PixelBytes(width, height);
  if (!path || !pixels || pixelBytes == 0) return false;
  const size_t rowBytes = GreyBmpRowBytes(width);

  uint8_t header[kBmpPixelOffset] = {};
  Put16(header + 0, kSignature);
  Put32(header + 2, static_cast<uint32_t>(pixelBytes + kBmpPixelOffset));
  Put32(header + 10, kBmpPixelOffset);
  uint8_t* info = header + kBmpFileHeaderSize;
  Put32(info + 0, kBmpInfoHeaderSize);
  Put32(info + 4, static_cast<uint32_t>(width));
  Put32(info + 8, static_cast<uint32_t>(height));
  Put16(info + 12, 1);  // planes
  Put16(info + 14, 8);  // bits per pixel
  Put32(info + 20, static_cast<uint32_t>(pixelBytes));
  Put32(info + 32, kPaletteEntries);
  uint8_t* palette = info + kBmpInfoHeaderSize;
  for (uint32_t i = 0; i < kPaletteEntries; ++i) {
    palette[4 * i + 0] = palette[4 * i + 1] = palette[4 * i + 2] = static_cast<uint8_t>(i);
  }

  // Only regular files are written: a FIFO, device or folder is refused before anything is written.
  std::FILE* file = platform::OpenRegularStream(path, platform::FileAccess::Write, "dark frame");
  if (!file) return false;
  bool ok = std::fwrite(header, 1, sizeof header, file) == sizeof header;
  // Each row is written from the caller's width bytes; the fill up to a multiple of 4 is zero.
  const uint8_t fill[3] = {};
  const size_t fillBytes = rowBytes - static_cast<size_t>(width);
  for (int row = 0; ok && row < height; ++row) {
    ok = std::fwrite(pixels + static_cast<size_t>(row) * width, 1, width, file) == static_cast<size_t>(width) &&
         std::fwrite(fill, 1, fillBytes, file) == fillBytes;
  }
  ok = (std::fclose(file) == 0) && ok;
  if (!ok) std::remove(path);
  return ok;
}

BmpReadResult ReadGreyBmp(const char* path, int expectedWidth, int expectedHeight, uint8_t* out) {
  if (!path) return BmpReadResult::CannotOpen;
  // A FIFO, folder or device is no file to read a dark frame from, and opening one must not block.
  std::unique_ptr<std::FILE, FileCloser> file(platform::OpenRegularStream(path, platform::FileAccess::Read, "dark frame"));
  if (!file) return BmpReadResult::CannotOpen;
  struct stat info{};
  if (fstat(fileno(file.get()), &info) != 0) return BmpReadResult::CannotOpen;
  const uint64_t pixelBytes = PixelBytes(expectedWidth, expectedHeight);
  if (!out || pixelBytes == 0) return BmpReadResult::Refused;
  const uint64_t fileSize = static_cast<uint64_t>(info.st_size);

  uint8_t headers[kBmpFileHeaderSize + kBmpInfoHeaderSize];
  if (std::fread(headers, 1, sizeof headers, file.get()) != sizeof headers) return BmpReadResult::Refused;
  const uint8_t* infoHeader = headers + kBmpFileHeaderSize;
  const uint32_t declaredSize = Get32(headers + 2);
  const uint32_t pixelOffset = Get32(headers + 10);
  const uint32_t infoSize = Get32(infoHeader + 0);
  const auto width = static_cast<int32_t>(Get32(infoHeader + 4));
  const auto height = static_cast<int32_t>(Get32(infoHeader + 8));
  const uint16_t bitsPerPixel = Get16(infoHeader + 14);
  const uint32_t compression = Get32(infoHeader + 16);

  if (Get16(headers) != kSignature) return BmpReadResult::Refused;
  if (infoSize != kBmpInfoHeaderSize && infoSize != kInfoHeaderV4Size && infoSize != kInfoHeaderV5Size)
    return BmpReadResult::Refused;
  // A negative height would mean rows stored top-down; dark frames are never written so.
  if (width != expectedWidth || height != expectedHeight) return BmpReadResult::Refused;
  if (bitsPerPixel != 8 || compression != 0) return BmpReadResult::Refused;
  // The pixels must lie behind the headers and inside the file as it really is.
  if (pixelOffset < kBmpFileHeaderSize + infoSize) return BmpReadResult::Refused;
  const uint64_t pixelEnd = static_cast<uint64_t>(pixelOffset) + pixelBytes;
  if (pixelEnd > fileSize) return BmpReadResult::Refused;
  // Some writers leave the size field 0; a filled-in one must not contradict the file.
  if (declaredSize != 0 && (declaredSize < pixelEnd || declaredSize > fileSize)) return BmpReadResult::Refused;

  if (std::fseek(file.get(), static_cast<long>(pixelOffset), SEEK_SET) != 0) return BmpReadResult::Refused;
  const size_t rowBytes = GreyBmpRowBytes(expectedWidth);
  const auto rowPixels = static_cast<size_t>(expectedWidth);
  std::vector<uint8_t> pixels(rowPixels * static_cast<size_t>(expectedHeight));
  std::vector<uint8_t> row(rowBytes);
  for (int r = 0; r < expectedHeight; ++r) {
    if (std::fread(row.data(), 1, rowBytes, file.get()) != rowBytes) return BmpReadResult::Refused;
    std::memcpy(pixels.data() + static_cast<size_t>(r) * rowPixels, row.data(), rowPixels);
  }
  std::memcpy(out, pixels.data(), pixels.size());
  return BmpReadResult::Ok;
}

}  // namespace okc::imaging
