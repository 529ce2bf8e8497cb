// Opens a simulated TAVC through the exported functions, sets a gain, optionally starts
// capturing, and returns from main with the camera still open: the library's exit
// handlers then have to close it and save its settings.
//
//   okc_exit_while_capturing SETTINGS-FOLDER capture|open
#include <cstdio>
#include <cstring>
#include <vector>

#include "okccamera/okccamera.h"
#include "platform/SettingsStore.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s SETTINGS-FOLDER capture|open\n", argv[0]);
    return 2;
  }
  okc::platform::SetSettingsDirectory(argv[1]);
  if (okcUseSimulatedCameras("TAVC") != 1 || !openCamera(0) || !initCamera()) return 3;
  if (!setImageFormat(320, 240, 1, IMGTYPE_RAW8)) return 4;
  setValue(CTRL_EXPOSURE, 2000, false);
  setValue(CTRL_GAIN, 37, false);
  if (std::strcmp(argv[2], "capture") == 0) {
    startCapture();
    std::vector<unsigned char> frame(320 * 240);
    if (!getImageData(frame.data(), static_cast<int>(frame.size()), 20000)) return 5;
  }
  return 0;  // the camera stays open (and capturing)
}
