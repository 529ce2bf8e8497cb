// Dark frames of the camera object: the BMP file form, the crop to the current
// region with its statistics, and the bookkeeping of a dark capture.
#include <cstring>
#include <vector>

#include "imaging/BmpFile.h"
#include "imaging/DarkFrame.h"
#include "okccamera/CCameraBase.h"

namespace {

void CopyPath(char (&dst)[256], const char* src) {
  if (dst == src) return;
  std::strncpy(dst, src, sizeof(dst) - 1);
  dst[sizeof(dst) - 1] = '\0';
}

}  // namespace

void CCameraBase::GettingDark(int frames) {
  std::lock_guard lock(SensorLock());
  if (!EnsureDarkTables()) return;
  darkFramesWanted = frames;
  darkCapturing = true;
}

void CCameraBase::GetDarkCount(int* taken, int* wanted) const {
  std::lock_guard lock(SensorLock());
  if (taken) *taken = darkFramesTaken;
  if (wanted) *wanted = darkFramesWanted;
}

void CCameraBase::GetHPSum(int* darkHot, int* hotPixels) const {
  std::lock_guard lock(SensorLock());
  if (darkHot) *darkHot = static_cast<int>(darkHotCount);
  if (hotPixels) *hotPixels = static_cast<int>(hotPixelCount);
}

void CCameraBase::AdjustDarkBuff(const uint32_t* src, uint32_t* dst) {
  using namespace okc::imaging;
  std::lock_guard lock(SensorLock());
  if (!darkWorking) return;  // no dark frame yet
  DarkRegion region;
  region.sensorWidth = maxWidth;
  region.sensorHeight = maxHeight;
  region.startX = startX;
  region.startY = startY;
  region.width = width * bin;
  region.height = height * bin;
  const size_t n = static_cast<size_t>(maxWidth) * static_cast<size_t>(maxHeight);
  const size_t pixels = RegionPixels(region);
  if (!src || !dst || pixels == 0) return;  // no region yet, or one off the sensor: keep what we have
  if (!CropDarkFrame({src, n}, region, {dst, n})) return;
  DarkStats stats;
  if (UpdateDarkStats({darkWorking.get(), pixels}, {darkHotList.get(), n}, {darkHotFlags.get(), n}, stats)) {
    darkMean = stats.mean;
    darkHotCount = stats.hotCount;
  }
}

int CCameraBase::LoadBMPFromFile(const char* path) {
  using namespace okc::imaging;
  std::lock_guard lock(SensorLock());
  if (!path) {
    useDark = false;
    return 0;
  }
  const size_t n = static_cast<size_t>(maxWidth) * static_cast<size_t>(maxHeight);
  std::vector<uint8_t> pixels(n);
  switch (ReadGreyBmp(path, maxWidth, maxHeight, pixels.data())) {
    case BmpReadResult::CannotOpen:
      useDark = false;
      return 0;
    case BmpReadResult::Refused:
      return 0;  // the dark frame in force stays
    case BmpReadResult::Ok:
      break;
  }
  if (!EnsureDarkTables()) return 0;
  WidenDarkFrame(pixels, {darkFull.get(), n});
  AdjustDarkBuff(darkFull.get(), darkWorking.get());
  useDark = true;
  CopyPath(bmpPath, path);
  return 1;
}

int CCameraBase::SaveBMPToFile(const char* path) {
  std::lock_guard lock(SensorLock());
  if (!path) return 1;
  if (!EnsureDarkTables()) return 0;
  const size_t n = static_cast<size_t>(maxWidth) * static_cast<size_t>(maxHeight);
  std::vector<uint8_t> pixels(n);
  okc::imaging::NarrowDarkFrame({darkFull.get(), n}, pixels);
  CreateBMP(maxWidth, maxHeight, pixels.data(), path);
  CopyPath(bmpPath, path);
  return 1;
}

int CCameraBase::CreateBMP(int w, int h, const unsigned char* pixels, const char* path) {
  return okc::imaging::WriteGreyBmp(path, w, h, pixels) ? 1 : 0;
}
