// okccam capture: stream frames from a camera into FITS or PNG files.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
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

// Mean sample of a delivered frame on the 8-bit scale, to watch the automatic exposure settle.
double FrameMean(const std::vector<uint8_t>& frame, int bytesPerPixel) {
  if (frame.empty()) return 0;
  double sum = 0;
  if (bytesPerPixel == 2) {
    for (size_t i = 0; i + 1 < frame.size(); i += 2)
      sum += static_cast<uint16_t>(frame[i] | frame[i + 1] << 8) / 256.0;
    return sum / static_cast<double>(frame.size() / 2);
  }
  for (uint8_t v : frame) sum += v;
  return sum / static_cast<double>(frame.size());
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
                      "target-brightness", "firmware-dir"},
                     &error, {"auto-exposure", "auto-gain", "auto-wb", "timestamp"}))
    return Fail(error);
  long long frames = 1, exposureUs = -1, gain = -1, bin = 1, target = -1;
  if (!options.GetInt("frames", 1, 1000000, &frames, &error) ||
      !options.GetInt("exposure-us", 64, 1000000000, &exposureUs, &error) ||
      !options.GetInt("gain", 0, 100, &gain, &error) || !options.GetInt("bin", 1, 2, &bin, &error) ||
      !options.GetInt("target-brightness", 0, 255, &target, &error))
    return Fail(error);
  const bool autoExposure = options.Has("auto-exposure"), autoGain = options.Has("auto-gain");
  const bool autoBalance = options.Has("auto-wb");
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
  if (autoBalance && !isColorCam()) {
    closeCamera();
    return Fail("this camera has no white balance for --auto-wb");
  }
  bool wasAutomatic = false;
  // The given values are where the automatic modes start from.
  if (exposureUs < 0) exposureUs = static_cast<unsigned int>(getValue(CTRL_EXPOSURE, &wasAutomatic));
  if (gain < 0) gain = getValue(CTRL_GAIN, &wasAutomatic);
  setValue(CTRL_EXPOSURE, static_cast<int>(exposureUs), autoExposure);
  setValue(CTRL_GAIN, static_cast<int>(gain), autoGain);
  if (isColorCam()) setValue(CTRL_WB_RED, getValue(CTRL_WB_RED, &wasAutomatic), autoBalance);
  if (target >= 0) {
    int maxGain = 0, maxExposureS = 0, ignored = 0;
    getAutoPara(&maxGain, &maxExposureS, &ignored);
    setAutoPara(maxGain, maxExposureS, static_cast<int>(target));
  }
  addTimestamp(options.Has("timestamp"));
  const bool reportEachFrame = autoExposure || autoGain || autoBalance;

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

  // Wait for a frame: twice the exposure plus a generous allowance for start-up and
  // readout; under automatic exposure, twice the longest it may choose.
  int maxGain = 0, maxExposureS = 0, targetNow = 0;
  getAutoPara(&maxGain, &maxExposureS, &targetNow);
  const uint64_t automaticLongestUs = static_cast<uint64_t>(std::max(maxExposureS, 0)) * 1000000u;
  const uint64_t longestUs = autoExposure ? std::max(static_cast<uint64_t>(exposureUs), automaticLongestUs)
                                          : static_cast<uint64_t>(exposureUs);
  // Below the value that means "no limit".
  const unsigned long timeoutMs =
      static_cast<unsigned long>(std::min<uint64_t>(longestUs / 1000 * 2 + 5000, 0xFFFFFFFEu));

  startCapture();
  const auto start = std::chrono::steady_clock::now();
  int written = 0;
  for (int i = 0; i < frames; ++i) {
    const std::string date = UtcNowIso();
    if (!getImageData(frame.data(), static_cast<int>(frame.size()), timeoutMs)) {
      error = "no frame within " + std::to_string(timeoutMs) + " ms";
      break;
    }
    // What the frame was taken with: the values in force when it arrived.
    info.exposureSeconds = static_cast<unsigned int>(getValue(CTRL_EXPOSURE, &info.autoExposure)) / 1e6;
    info.gain = getValue(CTRL_GAIN, &info.autoGain);
    if (reportEachFrame) {
      bool balanceAuto = false;
      const int red = getValue(CTRL_WB_RED, &balanceAuto), blue = getValue(CTRL_WB_BLUE, &balanceAuto);
      std::printf("frame %d: exposure %.0f us, gain %d, balance %d/%d, mean %.1f\n", i + 1,
                  info.exposureSeconds * 1e6, info.gain, red, blue, FrameMean(frame, format->bytesPerPixel));
    }
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
