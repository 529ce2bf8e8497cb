// okccam firmware: writes an FX3 boot image file to a camera's RAM, I2C EEPROM
// or SPI flash, with a progress bar. A file that is not a sound image for the
// chosen medium is refused before the camera is even opened.
#include <cstdio>
#include <string>

#include "Commands.h"
#include "okccamera/okccamera.h"

namespace okccam {

namespace {

void DrawProgress(unsigned int done, unsigned int total, void*) {
  constexpr int kWidth = 40;
  const int filled = total > 0 ? static_cast<int>(static_cast<unsigned long long>(done) * kWidth / total) : kWidth;
  std::fprintf(stderr, "\r[%-*s] %3u%%", kWidth, std::string(static_cast<size_t>(filled), '#').c_str(),
               total > 0 ? static_cast<unsigned>(static_cast<unsigned long long>(done) * 100 / total) : 100u);
  if (done >= total) std::fprintf(stderr, "\n");
}

int MediaOf(const std::string& name) {
  if (name == "ram") return 1;
  if (name == "eeprom") return 2;
  if (name == "flash") return 3;
  return 0;
}

}  // namespace

int RunFirmware(int argc, char** argv) {
  Options options;
  std::string error;
  bool helped = false;
  if (!HelpOrParse(options, argc, argv, {"sim", "camera", "file", "media", "firmware-dir"}, {}, &error, &helped))
    return Fail(error);
  if (helped) return 0;
  const auto file = options.Get("file");
  if (!file) return Fail("--file is required");
  const std::string mediaName = options.Get("media").value_or("ram");
  const int media = MediaOf(mediaName);
  if (media == 0) return Fail("--media must be ram, eeprom or flash");
  const int check = okcCheckFirmwareFile(file->c_str(), media);
  if (check != 0)
    return Fail(*file + ": " + okcFirmwareResultText(check) + "; nothing was sent to the camera");

  if (!SelectCameras(options, &error)) return Fail(error);
  const int count = getNumberOfConnectedCameras();
  if (count == 0) return Fail("no camera found (for simulated cameras use --sim TAVC-U)");
  long long index = 0;
  if (!options.GetInt("camera", 0, count - 1, &index, &error)) return Fail(error);
  const std::string model = getCameraModel(static_cast<int>(index));
  // No initCamera: a controller that runs only its boot loader has no sensor to set up.
  if (!openCamera(static_cast<int>(index))) {
    closeCamera();
    return Fail("cannot open camera " + std::to_string(index) + " (" + model + ")");
  }
  const int result = okcDownloadFirmware(file->c_str(), media, DrawProgress, nullptr);
  closeCamera();
  if (result != 0) {
    std::fprintf(stderr, "\n");
    return Fail("writing " + *file + " to the " + mediaName + " of camera " + std::to_string(index) + " (" + model +
                ") failed: " + okcFirmwareResultText(result));
  }
  std::printf("wrote %s to the %s of camera %lld (%s)%s\n", file->c_str(), mediaName.c_str(), index, model.c_str(),
              media == 1 ? "; it now runs the new firmware" : "; it boots it at its next power-on");
  return 0;
}

}  // namespace okccam
