// okccam hotpixels: the hot-pixel map kept in the camera's flash.
//   --save --dark FILE.bmp  the hot pixels of a full-sensor dark frame become the map
//   --load                  reads the map and reports its size
//   --clear                 stores an empty map
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "CameraSession.h"
#include "Commands.h"
#include "imaging/BmpFile.h"
#include "okccamera/okccamera.h"

namespace okccam {

int RunHotPixels(int argc, char** argv) {
  // The action is a flag without a value; the other options are parsed as usual.
  std::vector<char*> rest;
  std::string action;
  for (int i = 0; i < argc; ++i) {
    const char* a = argv[i];
    if (i >= 2 && (!std::strcmp(a, "--save") || !std::strcmp(a, "--load") || !std::strcmp(a, "--clear"))) {
      if (!action.empty()) return Fail("give only one of --save, --load and --clear");
      action = a + 2;
    } else {
      rest.push_back(argv[i]);
    }
  }
  if (action.empty()) return Fail("give one of --save, --load and --clear");
  Options options;
  std::string error;
  if (!options.Parse(static_cast<int>(rest.size()), rest.data(), {"sim", "camera", "dark", "firmware-dir"}, &error))
    return Fail(error);
  const auto dark = options.Get("dark");
  if (action == "save" && !dark) return Fail("--save needs --dark FILE.bmp, a dark frame of the whole sensor");
  if (action != "save" && dark) return Fail("--dark goes with --save only");
  if (!OpenSelectedCamera(options, &error)) return Fail(error);

  bool ok = false;
  if (action == "save") {
    // The dark frame's hot pixels are found for the region in force: the whole sensor.
    if (!setImageFormat(getMaxWidth(), getMaxHeight(), 1, IMGTYPE_RAW8)) {
      closeCamera();
      return Fail("cannot set the camera to its full sensor");
    }
    std::vector<uint8_t> pixels(static_cast<size_t>(getMaxWidth()) * static_cast<size_t>(getMaxHeight()));
    if (okc::imaging::ReadGreyBmp(dark->c_str(), getMaxWidth(), getMaxHeight(), pixels.data()) !=
        okc::imaging::BmpReadResult::Ok) {
      const std::string size = std::to_string(getMaxWidth()) + " x " + std::to_string(getMaxHeight());
      closeCamera();
      return Fail(*dark + " is not an 8-bit grey BMP of the whole " + size + " sensor");
    }
    std::vector<char> path(dark->begin(), dark->end());
    path.push_back('\0');
    EnableDarkSubtract(path.data());
    ok = okcSaveHotPixels();
    if (ok)
      std::printf("stored %d hot pixels from %s in the camera's flash\n", okcGetHotPixelMapCount(), dark->c_str());
  } else if (action == "load") {
    ok = okcLoadHotPixels();
    if (ok) std::printf("the camera's flash holds %d hot pixels; %d are corrected in every frame\n",
                        okcGetHotPixelMapCount(), okcGetHotPixelCount());
  } else {
    ok = okcClearHotPixels();
    if (ok) std::printf("the camera's hot-pixel map is now empty\n");
  }
  closeCamera();
  if (!ok) {
    if (action == "load") return Fail("the camera's flash holds no sound hot-pixel map");
    return Fail("cannot store the hot-pixel map in the camera's flash");
  }
  return 0;
}

}  // namespace okccam
