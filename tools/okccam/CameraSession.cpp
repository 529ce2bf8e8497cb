#include "CameraSession.h"

#include "Commands.h"
#include "okccamera/okccamera.h"

namespace okccam {

bool OpenSelectedCamera(const Options& options, std::string* error) {
  if (!SelectCameras(options, error)) return false;
  const int count = getNumberOfConnectedCameras();
  if (count == 0) {
    *error = "no camera found (for simulated cameras use --sim TAVC)";
    return false;
  }
  long long index = 0;
  if (!options.GetInt("camera", 0, count - 1, &index, error)) return false;
  if (!openCamera(static_cast<int>(index))) {
    *error = "cannot open camera " + std::to_string(index) + " (" + getCameraModel(static_cast<int>(index)) +
             "): is it still attached, and may this user open it (udev rules)?";
    return false;
  }
  if (!initCamera()) {
    *error = std::string("cannot initialise camera ") + std::to_string(index) + " (" +
             getCameraModel(static_cast<int>(index)) + ")";
    closeCamera();
    return false;
  }
  return true;
}

}  // namespace okccam
