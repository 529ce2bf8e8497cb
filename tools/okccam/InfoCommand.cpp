// okccam info: properties, controls, formats and temperature of one camera.
#include <cstdio>

#include "CameraSession.h"
#include "Commands.h"
#include "tools/common/Region.h"
#include "okccamera/okccamera.h"

namespace okccam {

namespace {

void PrintFixedProperties(long long index) {
  std::printf("camera %lld: %s\n", index, getCameraModel(static_cast<int>(index)));
  std::printf("sensor       %d x %d, %.2f um pixels, %s\n", getMaxWidth(), getMaxHeight(), getPixelSize(),
              isColorCam() ? "colour" : "monochrome");
  if (isColorCam()) std::printf("bayer        %s on the sensor\n", SensorBayerPattern().c_str());
  std::printf("binning      1%s\n", isBinSupported(2) ? ", 2" : "");
}

}  // namespace

int RunInfo(int argc, char** argv) {
  Options options;
  std::string error;
  bool helped = false, initialised = false;
  if (!HelpOrParse(options, argc, argv, {"sim", "camera", "firmware-dir"}, {}, &error, &helped)) return Fail(error);
  if (helped) return 0;
  if (!OpenSelectedCamera(options, &error, &initialised)) return Fail(error);
  long long index = 0;
  options.GetInt("camera", 0, 1 << 20, &index, &error);
  PrintFixedProperties(index);
  if (!initialised) {
    std::printf("capture      the camera could not be initialised\n");
    closeCamera();
    return 0;
  }
  bool flipRow = false, flipColumn = false;
  GetMisc(&flipRow, &flipColumn);
  SensorGeometry geometry{getMaxWidth(), getMaxHeight(), getBin() > 0 ? getBin() : 1, flipRow, flipColumn};
  if (getBin() > 0 && getWidth() > 0) {
    const Region region = DeliveredRegionOf(getWidth(), getHeight(), getStartX(), getStartY(), geometry);
    std::printf("region       %d x %d at (%d, %d) of the delivered %d x %d image, bin %d%s%s\n", region.width,
                region.height, region.x, region.y, geometry.FullWidth(), geometry.FullHeight(), geometry.bin,
                flipRow ? ", mirrored left-right" : "", flipColumn ? ", mirrored top-bottom" : "");
    if (isColorCam())
      std::printf("bayer        %s in delivered raw frames\n", DeliveredBayerPattern(getWidth(), getHeight()).c_str());
  } else {
    std::printf("region       none set yet (the first capture sets it)\n");
  }
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
