#include "tools/common/BayerPattern.h"

#include "imaging/Demosaic.h"
#include "okccamera/okccamera.h"

namespace okccam {

namespace {
// Names in the order of the camera's pattern numbers.
constexpr const char* kPatternNames[] = {"RGGB", "BGGR", "GRBG", "GBRG"};
}  // namespace

std::string DeliveredBayerPattern(int width, int height) {
  if (!isColorCam()) return "";
  bool flipRow = false, flipColumn = false;
  GetMisc(&flipRow, &flipColumn);
  const int layout = okc::imaging::EffectiveBayerLayout(getColorBayer(), flipRow, flipColumn, width, height);
  return layout >= 0 && layout < 4 ? kPatternNames[layout] : "";
}

std::string SensorBayerPattern() {
  const int pattern = getColorBayer();
  return isColorCam() && pattern >= 0 && pattern < 4 ? kPatternNames[pattern] : "";
}

}  // namespace okccam
