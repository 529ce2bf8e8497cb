#include "CameraSession.h"

#include "Commands.h"
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

bool ModelStreams(const std::string& model) {
  for (const char* family : {"OKCTAV", "OKCPIMC", "OKCSEL"})
    if (model.find(family) != std::string::npos) return true;
  if (model.find("OKCDORC") != std::string::npos) return true;
  return false;
}

bool OpenSelectedCamera(const Options& options, std::string* error, bool* initialised) {
  if (!SelectCameras(options, error)) return false;
  const int count = getNumberOfConnectedCameras();
  if (count == 0) {
    *error = "no camera found (for simulated cameras use --sim TAVC)";
    return false;
  }
  long long index = 0;
  if (!options.GetInt("camera", 0, count - 1, &index, error)) return false;
  const std::string model = getCameraModel(static_cast<int>(index));
  const std::string name = "camera " + std::to_string(index) + " (" + model + ")";
  if (!openCamera(static_cast<int>(index))) {
    *error = "cannot open " + name + ": is it still attached, and may this user open it (udev rules)?";
    return false;
  }
  const bool ok = initCamera();
  if (initialised) {
    *initialised = ok;
    return true;
  }
  if (!ok) {
    *error = ModelStreams(model) ? "cannot initialise " + name
                                 : name + " cannot capture yet: this version of the library does not stream from it";
    closeCamera();
    return false;
  }
  return true;
}

}  // namespace okccam
