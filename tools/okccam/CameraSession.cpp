#include "CameraSession.h"

#include "Commands.h"
#include "okccamera/okccamera.h"

namespace okccam {

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
    *error = "cannot initialise " + name;
    closeCamera();
    return false;
  }
  return true;
}

}  // namespace okccam
