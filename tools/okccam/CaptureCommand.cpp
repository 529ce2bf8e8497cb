// okccam capture: stream frames from a camera into FITS or PNG files.
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "CameraSession.h"
#include "Commands.h"
#include "ImageFiles.h"
#include "imaging/Demosaic.h"
#include "okccamera/okccamera.h"

namespace okccam {

namespace {

struct Format {
  const char* name;
  IMG_TYPE type;
  int bytesPerPixel;
};
constexpr Format kFormats[] = {
    {"raw8", IMGTYPE_RAW8, 1}, {"raw16", IMGTYPE_RAW16, 2}, {"rgb24", IMGTYPE_RGB24, 3}, {"y8", IMGTYPE_Y8, 1}};

// Creates the folder when missing and checks that files can be written in it.
bool PrepareFolder(const std::string& dir, std::string* error) {
  if (dir.empty()) {
    *error = "--out is required";
    return false;
  }
  struct stat st {};
  if (stat(dir.c_str(), &st) != 0 && mkdir(dir.c_str(), 0755) != 0) {
    *error = "cannot create output folder " + dir;
    return false;
  }
  if (stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || access(dir.c_str(), W_OK) != 0) {
    *error = "cannot write to output folder " + dir;
    return false;
  }
  return true;
}

// "W,H" or "W,H,X,Y".
bool ParseRoi(const std::string& text, int* w, int* h, int* x, int* y) {
  int n = std::sscanf(text.c_str(), "%d,%d,%d,%d", w, h, x, y);
  return n == 2 || n == 4 ? (n == 2 ? (*x = *y = -1, true) : true) : false;
}

std::string UtcNowIso() {
  using namespace std::chrono;
  const auto now = system_clock::now();
  const std::time_t t = system_clock::to_time_t(now);
  const int ms = static_cast<int>(duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000);
  std::tm tm{};
  gmtime_r(&t, &tm);
  char text[64];
  std::snprintf(text, sizeof(text), "%04d-%02d-%02dT%02d:%02d:%02d.%03d", tm.tm_year + 1900, tm.tm_mon + 1,
                tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, ms);
  return text;
}

// The colour filter layout of a delivered raw frame, after the camera's software mirrors.
std::string BayerName(int width, int height) {
  bool flipRow = false, flipColumn = false;
  GetMisc(&flipRow, &flipColumn);
  static const char* kNames[] = {"RGGB", "BGGR", "GRBG", "GBRG"};
  const int layout = okc::imaging::EffectiveBayerLayout(getColorBayer(), flipRow, flipColumn, width, height);
  return layout >= 0 ? kNames[layout] : "";
}

void ShowProgress(int done, int total) {
  if (!isatty(STDERR_FILENO)) return;
  const int width = 30, filled = total ? done * width / total : width;
  std::fprintf(stderr, "\r[%s%s] %d/%d", std::string(filled, '#').c_str(), std::string(width - filled, ' ').c_str(),
               done, total);
  if (done == total) std::fprintf(stderr, "\n");
}

}  // namespace

int RunCapture(int argc, char** argv) {
  Options options;
  std::string error;
  if (!options.Parse(argc, argv,
                     {"sim", "camera", "frames", "exposure-us", "gain", "bin", "format", "roi", "out", "file-format",
                      "firmware-dir"},
                     &error))
    return Fail(error);
  long long frames = 1, exposureUs = -1, gain = -1, bin = 1;
  if (!options.GetInt("frames", 1, 1000000, &frames, &error) ||
      !options.GetInt("exposure-us", 64, 1000000000, &exposureUs, &error) ||
      !options.GetInt("gain", 0, 100, &gain, &error) || !options.GetInt("bin", 1, 2, &bin, &error))
    return Fail(error);
  const Format* format = &kFormats[0];
  if (auto name = options.Get("format")) {
    format = nullptr;
    for (const Format& f : kFormats)
      if (*name == f.name) format = &f;
    if (!format) return Fail("--format must be raw8, raw16, rgb24 or y8");
  }
  const std::string fileFormat = options.Get("file-format").value_or("fits");
  if (fileFormat != "fits" && fileFormat != "png") return Fail("--file-format must be fits or png");
  int roiW = 0, roiH = 0, roiX = -1, roiY = -1;
  if (auto roi = options.Get("roi"); roi && !ParseRoi(*roi, &roiW, &roiH, &roiX, &roiY))
    return Fail("--roi must be W,H or W,H,X,Y");
  const std::string outDir = options.Get("out").value_or("");
  if (!PrepareFolder(outDir, &error)) return Fail(error);
  if (!OpenSelectedCamera(options, &error)) return Fail(error);

  if (!isImgTypeSupported(format->type)) {
    closeCamera();
    return Fail(std::string("this camera does not offer --format ") + format->name);
  }
  if (bin == 2 && !isBinSupported(2)) {
    closeCamera();
    return Fail("this camera does not offer --bin 2");
  }
  if (roiW == 0) {
    roiW = getMaxWidth() / static_cast<int>(bin);
    roiH = getMaxHeight() / static_cast<int>(bin);
  }
  if (!setImageFormat(roiW, roiH, static_cast<int>(bin), format->type)) {
    closeCamera();
    return Fail("the camera refuses region " + std::to_string(roiW) + "x" + std::to_string(roiH) + " at bin " +
                std::to_string(bin));
  }
  if (roiX >= 0 && !setStartPos(roiX, roiY)) {
    closeCamera();
    return Fail("the camera refuses start position " + std::to_string(roiX) + "," + std::to_string(roiY));
  }
  if (exposureUs >= 0) setValue(CTRL_EXPOSURE, static_cast<int>(exposureUs), false);
  if (gain >= 0) setValue(CTRL_GAIN, static_cast<int>(gain), false);

  const int width = getWidth(), height = getHeight();
  std::vector<uint8_t> frame(static_cast<size_t>(width) * height * format->bytesPerPixel);
  FrameInfo info;
  info.width = width;
  info.height = height;
  info.bytesPerPixel = format->bytesPerPixel;
  info.bin = getBin();
  info.instrument = getCameraModel(static_cast<int>(std::stoll(options.Get("camera").value_or("0"))));
  info.pixelSizeUm = getPixelSize();
  const bool rawColour = isColorCam() && (format->type == IMGTYPE_RAW8 || format->type == IMGTYPE_RAW16);
  if (rawColour && info.bin == 1) info.bayerPattern = BayerName(width, height);

  bool automatic = false;
  const unsigned long exposureNow = static_cast<unsigned int>(getValue(CTRL_EXPOSURE, &automatic));
  // Wait for a frame: twice the exposure plus a generous allowance for start-up and readout.
  const unsigned long timeoutMs = exposureNow / 1000 * 2 + 5000;

  startCapture();
  const auto start = std::chrono::steady_clock::now();
  int written = 0;
  for (int i = 0; i < frames; ++i) {
    const std::string date = UtcNowIso();
    if (!getImageData(frame.data(), static_cast<int>(frame.size()), timeoutMs)) {
      error = "no frame within " + std::to_string(timeoutMs) + " ms";
      break;
    }
    info.exposureSeconds = getValue(CTRL_EXPOSURE, &automatic) / 1e6;
    info.gain = getValue(CTRL_GAIN, &automatic);
    info.temperatureC = getSensorTemp();
    info.dateObs = date;
    char name[64];
    std::snprintf(name, sizeof(name), "/frame-%05d.%s", i + 1, fileFormat.c_str());
    const bool ok = fileFormat == "png" ? WritePng(outDir + name, frame.data(), info, &error)
                                        : WriteFits(outDir + name, frame.data(), info, &error);
    if (!ok) break;
    ++written;
    ShowProgress(written, static_cast<int>(frames));
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const unsigned dropped = getDroppedFrames();
  stopCapture();
  closeCamera();
  std::printf("%d frames written to %s, %.2f frames/s, %u dropped\n", written, outDir.c_str(),
              seconds > 0 ? written / seconds : 0.0, dropped);
  if (written < frames) return Fail(error);
  return 0;
}

}  // namespace okccam
