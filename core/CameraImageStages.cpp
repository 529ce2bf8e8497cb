// The image stages as members of the camera object: thin calls into imaging/
// with the camera's fields as arguments.
#include "imaging/ColourTables.h"
#include "imaging/Demosaic.h"
#include "imaging/Flip.h"
#include "imaging/ToneTables.h"
#include "okccamera/CCameraBase.h"

bool CCameraBase::SetGamma(int value) {
  std::lock_guard lock(SensorLock());
  gamma = okc::imaging::ClampGamma(value);
  okc::imaging::BuildToneTables(gamma, std::span<uint8_t, 256>(toneTable8, 256),
                                toneTable16.get());
  return true;
}

void CCameraBase::SoftMisc(unsigned char* frame) {
  if (!frame) return;
  std::lock_guard lock(SensorLock());
  const int samplesPerRow = width * bin;
  const int rows = height * bin;
  const size_t bytes = static_cast<size_t>(maxWidth) * static_cast<size_t>(maxHeight) * 2;  // the working frame
  okc::imaging::SoftMisc({frame, bytes}, samplesPerRow, rows, output16Bits ? 2 : 1, flipRow, flipColumn);
}

void CCameraBase::Bayer2RGB24(const unsigned char* src, unsigned char* dst, int w, int h) {
  if (!src || !dst || w <= 0 || h <= 0) return;
  std::lock_guard lock(SensorLock());
  const size_t pixels = static_cast<size_t>(w) * static_cast<size_t>(h);
  okc::imaging::Bayer2RGB24({src, pixels}, {dst, pixels * 3}, w, h, bayerPattern, flipRow, flipColumn,
                            *colourTables);
}
