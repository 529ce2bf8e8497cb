// The camera's hot-pixel map: kept in its SPI flash from 0x40000, cropped to
// the current region, and used with the dark frame's hot pixels to correct
// every delivered frame.
#include <mutex>
#include <algorithm>
#include <cstring>
#include <vector>

#include "core/ControllerRequests.h"
#include "imaging/DarkFrame.h"
#include "imaging/HotPixelMap.h"
#include "imaging/HotPixels.h"
#include "okccamera/CCameraBase.h"

namespace {

constexpr unsigned int kMapAddress = 0x40000;
constexpr unsigned int kMapFirstSector = kMapAddress / (64 * 1024);
constexpr unsigned int kSectorBytes = 64 * 1024;
constexpr unsigned int kPageBytes = 2048;
constexpr unsigned int kFlashUnit = 256;
constexpr int kTries = 3;
namespace controller = okc::core::controller;

size_t SensorPixels(const CCameraBase& c) {
  if (c.maxWidth <= 0 || c.maxHeight <= 0) return 0;
  return static_cast<size_t>(c.maxWidth) * static_cast<size_t>(c.maxHeight);
}

// Every use of the camera's hot-pixel and dark tables goes through these two,
// so how the tables are allocated is decided in one place. `Table` allocates a
// zeroed table when there is none yet; `Existing` never allocates (for the
// delivery thread) and is empty when the table is missing.
std::span<uint32_t> Table(std::unique_ptr<uint32_t[]>& table, size_t n) {
  if (!table && n > 0) table = std::make_unique<uint32_t[]>(n);
  return {table.get(), table ? n : 0};
}

std::span<const uint32_t> Existing(const std::unique_ptr<uint32_t[]>& table, size_t n) {
  return {table.get(), table ? n : 0};
}

okc::imaging::DarkRegion CurrentRegion(const CCameraBase& c) {
  okc::imaging::DarkRegion region;
  region.sensorWidth = c.maxWidth;
  region.sensorHeight = c.maxHeight;
  region.startX = c.startX;
  region.startY = c.startY;
  region.width = c.width * c.bin;
  region.height = c.height * c.bin;
  return region;
}

unsigned int RoundUp(unsigned int n, unsigned int unit) { return (n + unit - 1) / unit * unit; }

}  // namespace

void CCameraBase::AdjustHPCTable(const uint32_t* src, uint32_t* dst) {
  std::lock_guard lock(SensorLock());
  const size_t n = SensorPixels(*this);
  const okc::imaging::DarkRegion region = CurrentRegion(*this);
  const size_t pixels = okc::imaging::RegionPixels(region);
  if (!src || !dst || pixels == 0) return;  // no region yet, or one off the sensor: keep what we have
  if (!okc::imaging::CropDarkFrame({src, n}, region, {dst, n})) return;
  std::span<uint32_t> list = Table(hotPixelList, n);
  std::span<uint32_t> regionMap = Table(hotPixelMapRegion, n);
  std::fill(list.begin(), list.end(), 0u);
  hotPixelCount = okc::imaging::ListHotPixels(regionMap.first(pixels), list);
}

bool CCameraBase::SaveHPCTable() {
  std::lock_guard lock(SensorLock());
  if (!opened) return false;
  const size_t n = SensorPixels(*this);
  const okc::imaging::DarkRegion region = CurrentRegion(*this);
  const size_t pixels = okc::imaging::RegionPixels(region);
  std::span<uint32_t> full = Table(hotPixelMapFull, n);
  std::span<uint32_t> flags = Table(darkHotFlags, n);
  if (pixels == 0 || full.empty()) return false;
  // The dark frame's hot pixels cover the current region: they go to their place on the sensor.
  okc::imaging::PlaceDarkRegion(flags.first(pixels), region, full);
  AdjustHPCTable(full.data(), Table(hotPixelMapRegion, n).data());

  std::vector<uint8_t> bitmap(okc::imaging::HotBitmapBytes(n));
  okc::imaging::PackHotBitmap(full, bitmap);
  std::vector<uint8_t> stream = okc::imaging::CompressHotBitmap(bitmap);
  // A map this dense (about every other bitmap byte in use) would not load again: it is not stored.
  if (stream.size() > bitmap.size()) return false;
  const auto length = static_cast<unsigned int>(stream.size());
  const unsigned int sectors = (length + kSectorBytes - 1) / kSectorBytes;
  for (unsigned int s = 0; s < sectors; ++s)
    if (EraseSectorOfSPIFlash(kMapFirstSector + s, controller::kFlashErase) != FX3_FW_SUCCESS) return false;

  // Past the stream the flash keeps its erased state.
  stream.resize(RoundUp(length, kFlashUnit), 0xFF);
  std::vector<unsigned char> readBack(kPageBytes);
  for (unsigned int offset = 0; offset < stream.size(); offset += kPageBytes) {
    const unsigned int piece = std::min<unsigned int>(kPageBytes, static_cast<unsigned int>(stream.size()) - offset);
    bool verified = false;
    for (int t = 0; t < kTries && !verified; ++t) {
      if (!WriteToSPIFlash(stream.data() + offset, piece, kMapAddress + offset, controller::kFlashProgram)) continue;
      std::fill(readBack.begin(), readBack.end(), 0);
      verified = ReadFromSPIFlash(readBack.data(), piece, kMapAddress + offset, controller::kFlashRead) &&
                 std::memcmp(readBack.data(), stream.data() + offset, piece) == 0;
    }
    if (!verified) return false;
  }
  return true;
}

bool CCameraBase::LoadHPCTable() {
  std::lock_guard lock(SensorLock());
  if (!opened) return false;
  const size_t n = SensorPixels(*this);
  const size_t bitmapBytes = okc::imaging::HotBitmapBytes(n);
  auto readPage = [this](unsigned char* out, unsigned int length, unsigned int offset) {
    for (int t = 0; t < kTries; ++t)
      if (ReadFromSPIFlash(out, length, kMapAddress + offset, controller::kFlashRead)) return true;
    return false;
  };
  std::vector<uint8_t> stream(kPageBytes);
  if (!readPage(stream.data(), kPageBytes, 0)) return false;
  const uint32_t length = okc::imaging::HotMapStreamLength(stream);
  if (length < okc::imaging::kHotMapHeaderBytes || length > std::max(bitmapBytes, okc::imaging::kHotMapHeaderBytes))
    return false;  // no map, or one that cannot be this sensor's
  stream.resize(std::max<size_t>(kPageBytes, RoundUp(length, kFlashUnit)));
  for (unsigned int offset = kPageBytes; offset < length; offset += kPageBytes) {
    const unsigned int piece = std::min(kPageBytes, RoundUp(length, kFlashUnit) - offset);
    if (!readPage(stream.data() + offset, piece, offset)) return false;
  }
  std::vector<uint8_t> bitmap(bitmapBytes);
  if (okc::imaging::UncompressHotBitmap({stream.data(), length}, bitmap) != okc::imaging::HotMapDecode::Ok)
    return false;
  std::span<uint32_t> full = Table(hotPixelMapFull, n);
  okc::imaging::UnpackHotBitmap(bitmap, full);
  AdjustHPCTable(full.data(), Table(hotPixelMapRegion, n).data());
  return true;
}

bool CCameraBase::ClearHPCTable() {
  std::lock_guard lock(SensorLock());
  const size_t n = SensorPixels(*this);
  for (auto* table : {&hotPixelMapFull, &hotPixelMapRegion, &hotPixelList}) {
    std::span<uint32_t> t = Table(*table, n);
    std::fill(t.begin(), t.end(), 0u);
  }
  hotPixelCount = 0;
  if (!opened) return false;
  if (EraseSectorOfSPIFlash(kMapFirstSector, controller::kFlashErase) != FX3_FW_SUCCESS) return false;
  std::vector<uint8_t> empty = okc::imaging::CompressHotBitmap({});
  empty.resize(kFlashUnit, 0xFF);
  std::vector<unsigned char> readBack(kFlashUnit);
  return WriteToSPIFlash(empty.data(), kFlashUnit, kMapAddress, controller::kFlashProgram) &&
         ReadFromSPIFlash(readBack.data(), kFlashUnit, kMapAddress, controller::kFlashRead) &&
         std::equal(readBack.begin(), readBack.end(), empty.begin());
}

void CCameraBase::HandleHotPixels(uint8_t* frame, int sensorWidth, int sensorHeight, bool sixteenBit) {
  std::lock_guard lock(SensorLock());
  const size_t n = SensorPixels(*this);
  if (!frame || sensorWidth <= 0 || sensorHeight <= 0) return;
  const size_t pixels = static_cast<size_t>(sensorWidth) * static_cast<size_t>(sensorHeight);
  if (pixels > n) return;
  okc::imaging::HotPixelFrame f;
  f.samples = {frame, pixels * (sixteenBit ? 2 : 1)};
  f.width = sensorWidth;
  f.height = sensorHeight;
  f.sixteenBit = sixteenBit;
  okc::imaging::HotPixelSource map, dark;
  const bool useMap = hpcEnabled && hotPixelList && hotPixelMapRegion;
  if (useMap) {
    map.list = Existing(hotPixelList, n).first(std::min<size_t>(hotPixelCount, n));
    map.flags = Existing(hotPixelMapRegion, n);
  }
  const bool useDarkList = useDark && darkHotList && darkHotFlags;
  if (useDarkList) {
    dark.list = Existing(darkHotList, n).first(std::min<size_t>(darkHotCount, n));
    dark.flags = Existing(darkHotFlags, n);
  }
  if (!useMap && !useDarkList) return;
  okc::imaging::CorrectHotPixels(f, isColor, useMap ? &map : nullptr, useDarkList ? &dark : nullptr);
}

int CCameraBase::HotPixelsCorrectedPerFrame() const {
  std::lock_guard lock(SensorLock());
  return static_cast<int>((hpcEnabled ? hotPixelCount : 0) + (useDark ? darkHotCount : 0));
}

int CCameraBase::HotPixelsInMap() const {
  std::lock_guard lock(SensorLock());
  const std::span<const uint32_t> full = Existing(hotPixelMapFull, SensorPixels(*this));
  return static_cast<int>(std::count_if(full.begin(), full.end(), [](uint32_t v) { return v != 0; }));
}
