// okccam info: properties, controls, formats and temperature of one camera.
#include <cstdio>

#include "CameraSession.h"
#include "Commands.h"
#include "okccamera/okccamera.h"

namespace okccam {

int RunInfo(int argc, char** argv) {
  Options options;
  std::string error;
  if (!options.Parse(argc, argv, {"sim", "camera", "firmware-dir"}, &error) || !OpenSelectedCamera(options, &error))
    return Fail(error);
  long long index = 0;
  options.GetInt("camera", 0, 1 << 20, &index, &error);
  std::printf("camera %lld: %s\n", index, getCameraModel(static_cast<int>(index)));
  std::printf("sensor       %d x %d, %.2f um pixels, %s\n", getMaxWidth(), getMaxHeight(), getPixelSize(),
              isColorCam() ? "colour" : "monochrome");
  if (isColorCam()) std::printf("bayer        %d\n", getColorBayer());
  std::printf("binning      1%s\n", isBinSupported(2) ? ", 2" : "");
  std::printf("region       %d x %d at (%d, %d), bin %d\n", getWidth(), getHeight(), getStartX(), getStartY(),
              getBin());
  static const char* kFormats[] = {"raw8", "rgb24", "raw16", "y8"};
  std::printf("formats     ");
  for (int t = 0; t < 4; ++t)
    if (isImgTypeSupported(static_cast<IMG_TYPE>(t))) std::printf(" %s", kFormats[t]);
  std::printf("\n");
  static const char* kControls[] = {"gain", "exposure-us", "gamma", "wb-red", "wb-blue", "brightness", "fps-percent"};
  std::printf("%-12s %10s %10s %10s  %s\n", "control", "min", "max", "current", "auto");
  for (int c = 0; c < 7; ++c) {
    const auto control = static_cast<Control_TYPE>(c);
    if (!isAvailable(control)) continue;
    bool automatic = false;
    const int value = getValue(control, &automatic);
    std::printf("%-12s %10d %10d %10d  %s\n", kControls[c], getMin(control), getMax(control), value,
                !isAutoSupported(control) ? "-" : automatic ? "on" : "off");
  }
  std::printf("temperature  %.1f C\n", getSensorTemp());
  std::printf("firmware     version %d\n", okcGetFirmwareVersion());
  std::printf("host link    USB %d\n", okcIsUsb3Host() ? 3 : 2);
  std::printf("hot-pixel map correction %s\n", okcIsHotPixelCorrectionOn() ? "on" : "off");
  std::printf("hot pixels   %d corrected in every frame (%d in the camera's map)\n", okcGetHotPixelCount(),
              okcGetHotPixelMapCount());
  closeCamera();
  return 0;
}

}  // namespace okccam
