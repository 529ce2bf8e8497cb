// okccam capture: stream frames from a camera into FITS, PNG or SER files.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "CameraSession.h"
#include "Commands.h"
#include "ImageFiles.h"
#include "OutputFiles.h"
#include "tools/common/Region.h"
#include "SerWriter.h"
#include "okccamera/okccamera.h"
#include "tools/common/ImageFormats.h"

namespace okccam {

namespace {

using Format = ImageFormat;

struct FrameType {
  const char* option;
  const char* imageType;  // IMAGETYP as astronomy programs write it
};
constexpr FrameType kFrameTypes[] = {
    {"light", "Light Frame"}, {"dark", "Dark Frame"}, {"flat", "Flat Field"}, {"bias", "Bias Frame"}};

// The capture loop looks at this between waits; set by Ctrl-C (SIGINT) and SIGTERM.
volatile std::sig_atomic_t stopRequested = 0;
void OnStopSignal(int) { stopRequested = 1; }

// Ctrl-C and SIGTERM end the capture after the current frame instead of the program.
void CatchStopSignals() {
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

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

// One line on a terminal, rewritten in place.
void ShowStatus(const std::string& text) {
  if (isatty(STDERR_FILENO)) std::fprintf(stderr, "\r%-60s", text.c_str());
}
void EndStatus() {
  if (isatty(STDERR_FILENO)) std::fprintf(stderr, "\r%-60s\r", "");
}

// Exposures from this long on show the time left while the tool waits.
constexpr uint64_t kStatusFromUs = 1000000;
// Frame waits are cut into slices to notice Ctrl-C and update the status line.
constexpr unsigned long kWaitSliceMs = 200;

// Waits up to timeoutMs for the next frame. False on timeout or when a stop was requested.
bool WaitForFrame(std::vector<uint8_t>& frame, unsigned long timeoutMs, uint64_t exposureUs, int number) {
  const auto start = std::chrono::steady_clock::now();
  for (;;) {
    if (stopRequested) return false;
    if (getImageData(frame.data(), static_cast<int>(frame.size()), kWaitSliceMs)) return true;
    const double waited = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (waited * 1000 >= static_cast<double>(timeoutMs)) return false;
    if (exposureUs >= kStatusFromUs) {
      char text[96];
      const double left = std::max(0.0, static_cast<double>(exposureUs) / 1e6 - waited);
      std::snprintf(text, sizeof(text), "frame %d: exposing, %.0f s left", number, left);
      ShowStatus(text);
    }
  }
}

// The command's settings once parsed and checked.
struct CaptureSettings {
  long long frames = 1, exposureUs = -1, gain = -1, bin = 1, target = -1;
  bool autoExposure = false, autoGain = false, autoBalance = false;
  const Format* format = &kImageFormats[0];
  std::string fileFormat = "fits";
  const FrameType* frameType = &kFrameTypes[0];
  std::optional<Region> roi;
  std::string outDir, prefix;
  bool overwrite = false;
};

bool ParseSettings(const Options& options, CaptureSettings* s, std::string* error) {
  if (!options.GetInt("frames", 0, 1000000, &s->frames, error) ||
      !options.GetInt("exposure-us", 64, 1000000000, &s->exposureUs, error) ||
      !options.GetInt("gain", 0, 100, &s->gain, error) || !options.GetInt("bin", 1, 2, &s->bin, error) ||
      !options.GetInt("target-brightness", 0, 255, &s->target, error))
    return false;
  s->autoExposure = options.Has("auto-exposure");
  s->autoGain = options.Has("auto-gain");
  s->autoBalance = options.Has("auto-wb");
  s->overwrite = options.Has("overwrite");
  if (auto name = options.Get("format")) {
    s->format = ImageFormatNamed(*name);
    if (!s->format) {
      *error = "--format must be raw8, raw16, rgb24 or y8";
      return false;
    }
  }
  s->fileFormat = options.Get("file-format").value_or("fits");
  if (s->fileFormat != "fits" && s->fileFormat != "png" && s->fileFormat != "ser") {
    *error = "--file-format must be fits, png or ser";
    return false;
  }
  if (auto type = options.Get("frame-type")) {
    s->frameType = nullptr;
    for (const FrameType& t : kFrameTypes)
      if (*type == t.option) s->frameType = &t;
    if (!s->frameType) {
      *error = "--frame-type must be light, dark, flat or bias";
      return false;
    }
  }
  if (auto roi = options.Get("roi")) {
    s->roi = ParseRegion(*roi, error);
    if (!s->roi) return false;
  }
  s->prefix = options.Get("prefix").value_or(s->fileFormat == "ser" ? "video" : "frame");
  if (s->prefix.empty() || s->prefix.find('/') != std::string::npos || s->prefix[0] == '.') {
    *error = "--prefix must be a file name without '/' that does not start with '.'";
    return false;
  }
  s->outDir = options.Get("out").value_or("");
  return PrepareFolder(s->outDir, error);
}

// Sets format, region, exposure and gain on the open camera. False with a message.
bool ConfigureCamera(CaptureSettings& s, std::string* error) {
  if (!isImgTypeSupported(s.format->type)) {
    *error = std::string("this camera does not offer --format ") + s.format->name;
    return false;
  }
  if (s.bin == 2 && !isBinSupported(2)) {
    *error = "this camera does not offer --bin 2";
    return false;
  }
  bool flipRow = false, flipColumn = false;
  GetMisc(&flipRow, &flipColumn);
  const SensorGeometry geometry{getMaxWidth(), getMaxHeight(), static_cast<int>(s.bin), flipRow, flipColumn};
  Region region{geometry.FullWidth(), geometry.FullHeight(), 0, 0, false};
  if (s.roi) region = *s.roi;
  int sensorX = 0, sensorY = 0;
  if (!SensorStartOf(region, geometry, &sensorX, &sensorY, error)) return false;
  if (!setImageFormat(region.width, region.height, static_cast<int>(s.bin), s.format->type)) {
    *error = "the camera refuses region " + std::to_string(region.width) + " x " + std::to_string(region.height) +
             " at bin " + std::to_string(s.bin) +
             " (it must fit the sensor; USB 2 models also need W x H x bin x bin to be a multiple of 1024)";
    return false;
  }
  const bool fullFrame = region.width == geometry.FullWidth() && region.height == geometry.FullHeight();
  if (region.placed && !fullFrame) {
    if (!setStartPos(sensorX, sensorY) || getStartX() != sensorX || getStartY() != sensorY) {
      *error = "the camera refuses region " + std::to_string(region.width) + "," + std::to_string(region.height) +
               "," + std::to_string(region.x) + "," + std::to_string(region.y);
      return false;
    }
  }
  if (s.autoBalance && !isColorCam()) {
    *error = "this camera has no white balance for --auto-wb";
    return false;
  }
  bool wasAutomatic = false;
  // The given values are where the automatic modes start from.
  if (s.exposureUs < 0) s.exposureUs = static_cast<unsigned int>(getValue(CTRL_EXPOSURE, &wasAutomatic));
  if (s.gain < 0) s.gain = getValue(CTRL_GAIN, &wasAutomatic);
  setValue(CTRL_EXPOSURE, static_cast<int>(s.exposureUs), s.autoExposure);
  setValue(CTRL_GAIN, static_cast<int>(s.gain), s.autoGain);
  if (isColorCam()) setValue(CTRL_WB_RED, getValue(CTRL_WB_RED, &wasAutomatic), s.autoBalance);
  if (s.target >= 0) {
    int maxGain = 0, maxExposureS = 0, ignored = 0;
    getAutoPara(&maxGain, &maxExposureS, &ignored);
    setAutoPara(maxGain, maxExposureS, static_cast<int>(s.target));
  }
  return true;
}

// How long to wait for a frame: twice the exposure plus a generous allowance
// for start-up and readout; under automatic exposure, twice the longest it may choose.
unsigned long FrameTimeoutMs(const CaptureSettings& s) {
  int maxGain = 0, maxExposureS = 0, targetNow = 0;
  getAutoPara(&maxGain, &maxExposureS, &targetNow);
  const uint64_t automaticLongestUs = static_cast<uint64_t>(std::max(maxExposureS, 0)) * 1000000u;
  const uint64_t longestUs = s.autoExposure ? std::max(static_cast<uint64_t>(s.exposureUs), automaticLongestUs)
                                            : static_cast<uint64_t>(s.exposureUs);
  return static_cast<unsigned long>(std::min<uint64_t>(longestUs / 1000 * 2 + 5000, 0xFFFFFFFEu));
}

// Where the frames go: numbered image files, or one SER video.
class FrameSink {
 public:
  explicit FrameSink(const CaptureSettings& s) : settings_(s), files_(s.outDir, s.prefix, s.fileFormat, s.overwrite) {}
  ~FrameSink() {
    if (serOpen_) {
      ser_.Abandon();
      files_.Discard();
    }
  }

  bool Write(const std::vector<uint8_t>& frame, const FrameInfo& info, int64_t startUtcUs, std::string* error) {
    if (settings_.fileFormat == "ser") {
      if (!serOpen_) {
        SerFormat format;
        format.width = info.width;
        format.height = info.height;
        format.bitsPerSample = info.bytesPerPixel == 2 ? 16 : 8;
        format.colour = info.bytesPerPixel == 3 ? SerColour::BGR : SerColourOfPattern(info.bayerPattern);
        format.instrument = info.instrument;
        if (!ser_.Open(files_.TemporaryPath(), format, error)) {
          files_.Discard();
          return false;
        }
        serOpen_ = true;
      }
      if (ser_.AddFrame(frame.data(), startUtcUs, error)) return true;
      ser_.Abandon();
      files_.Discard();
      serOpen_ = false;
      return false;
    }
    const std::string temporary = files_.TemporaryPath();
    const bool ok = settings_.fileFormat == "png" ? WritePng(temporary, frame.data(), info, error)
                                                  : WriteFits(temporary, frame.data(), info, error);
    if (!ok) {
      files_.Discard();
      return false;
    }
    std::string path;
    if (!files_.Publish(&path, error)) return false;
    written_.push_back(path);
    return true;
  }

  // Finishes a SER video. False with a message (the partial video is then removed).
  bool Finish(std::string* error) {
    if (!serOpen_) return true;
    serOpen_ = false;
    std::string path;
    if (!ser_.Finish(error)) {
      files_.Discard();
      return false;
    }
    if (!files_.Publish(&path, error)) return false;
    written_.push_back(path);
    return true;
  }

  const std::vector<std::string>& Written() const { return written_; }

 private:
  const CaptureSettings& settings_;
  OutputFiles files_;
  SerWriter ser_;
  bool serOpen_ = false;
  std::vector<std::string> written_;
};

}  // namespace

int RunCapture(int argc, char** argv) {
  Options options;
  std::string error;
  bool helped = false;
  if (!HelpOrParse(options, argc, argv,
                   {"sim", "camera", "frames", "exposure-us", "gain", "bin", "format", "roi", "out", "file-format",
                    "target-brightness", "prefix", "frame-type", "firmware-dir"},
                   {"auto-exposure", "auto-gain", "auto-wb", "timestamp", "overwrite"}, &error, &helped))
    return Fail(error);
  if (helped) return 0;
  CaptureSettings s;
  if (!ParseSettings(options, &s, &error)) return Fail(error);
  if (!OpenSelectedCamera(options, &error)) return Fail(error);
  if (!ConfigureCamera(s, &error)) {
    closeCamera();
    return Fail(error);
  }
  addTimestamp(options.Has("timestamp"));
  const bool reportEachFrame = s.autoExposure || s.autoGain || s.autoBalance;

  const int width = getWidth(), height = getHeight();
  std::vector<uint8_t> frame(static_cast<size_t>(width) * height * s.format->bytesPerPixel);
  FrameInfo info;
  info.width = width;
  info.height = height;
  info.bytesPerPixel = s.format->bytesPerPixel;
  info.bin = getBin();
  info.instrument = getCameraModel(static_cast<int>(std::stoll(options.Get("camera").value_or("0"))));
  info.pixelSizeUm = getPixelSize();
  info.imageType = s.frameType->imageType;
  info.software = std::string("okccam ") + OKCCAM_VERSION;
  const bool rawColour = isColorCam() && (s.format->type == IMGTYPE_RAW8 || s.format->type == IMGTYPE_RAW16);
  if (rawColour && info.bin == 1) info.bayerPattern = DeliveredBayerPattern(width, height);
  bool automatic = false;
  if (isAvailable(CTRL_BRIGHTNESS)) info.offset = getValue(CTRL_BRIGHTNESS, &automatic);
  bool flipRow = false, flipColumn = false;
  GetMisc(&flipRow, &flipColumn);
  const SensorGeometry geometry{getMaxWidth(), getMaxHeight(), info.bin, flipRow, flipColumn};
  const Region used = DeliveredRegionOf(width, height, getStartX(), getStartY(), geometry);
  info.xOrigin = used.x;
  info.yOrigin = used.y;
  std::printf("region %d,%d,%d,%d of the delivered %d x %d image (bin %d); exposure %lld us%s; gain %lld%s\n",
              used.width, used.height, used.x, used.y, geometry.FullWidth(), geometry.FullHeight(), info.bin,
              s.exposureUs, s.autoExposure ? " (automatic)" : "", s.gain, s.autoGain ? " (automatic)" : "");
  std::fflush(stdout);

  const unsigned long timeoutMs = FrameTimeoutMs(s);
  FrameSink sink(s);
  stopRequested = 0;
  CatchStopSignals();
  startCapture();
  int delivered = 0;
  unsigned lostByCamera = 0, notCollected = 0;
  int64_t firstStartUs = 0, lastEndUs = 0;
  bool failed = false;
  for (int i = 0; s.frames == 0 || i < s.frames; ++i) {
    if (!WaitForFrame(frame, timeoutMs, static_cast<uint64_t>(s.exposureUs), i + 1)) {
      EndStatus();
      if (!stopRequested) {
        error = "no frame within " + std::to_string(timeoutMs) + " ms";
        failed = true;
      }
      break;
    }
    EndStatus();
    // Drops up to this frame: later ones happen while the tool writes files.
    okcGetDropCounts(&lostByCamera, &notCollected);
    OKCFrameInfo meta{};
    const bool haveMeta = okcGetFrameInfo(&meta);
    if (haveMeta) {
      info.exposureSeconds = meta.exposureUs / 1e6;
      info.gain = meta.gain;
    } else {
      info.exposureSeconds = static_cast<unsigned int>(getValue(CTRL_EXPOSURE, &automatic)) / 1e6;
      info.gain = getValue(CTRL_GAIN, &automatic);
    }
    getValue(CTRL_EXPOSURE, &info.autoExposure);
    getValue(CTRL_GAIN, &info.autoGain);
    const int64_t nowUs = std::chrono::duration_cast<std::chrono::microseconds>(
                              std::chrono::system_clock::now().time_since_epoch()).count();
    const int64_t startUs = haveMeta ? meta.startUtcUs : nowUs - static_cast<int64_t>(s.exposureUs);
    const int64_t endUs = haveMeta ? meta.endUtcUs : nowUs;
    if (delivered == 0) firstStartUs = haveMeta ? meta.startMonotonicUs : startUs;
    lastEndUs = haveMeta ? meta.endMonotonicUs : endUs;
    ++delivered;
    if (reportEachFrame) {
      bool balanceAuto = false;
      const int red = getValue(CTRL_WB_RED, &balanceAuto), blue = getValue(CTRL_WB_BLUE, &balanceAuto);
      std::printf("frame %d: exposure %.0f us, gain %d, balance %d/%d, mean %.1f\n", i + 1,
                  info.exposureSeconds * 1e6, info.gain, red, blue, FrameMean(frame, s.format->bytesPerPixel));
    }
    info.temperatureC = getSensorTemp();
    info.dateObs = IsoUtc(startUs);
    info.dateEnd = IsoUtc(endUs);
    if (!sink.Write(frame, info, startUs, &error)) {
      failed = true;
      break;
    }
    if (isatty(STDERR_FILENO) && s.frames > 0)
      std::fprintf(stderr, "\r%d/%lld frames", i + 1, s.frames);
  }
  if (isatty(STDERR_FILENO)) std::fprintf(stderr, "\n");
  stopCapture();
  closeCamera();
  std::string finishError;
  if (!failed && !sink.Finish(&finishError)) {
    error = finishError;
    failed = true;
  }
  const int written = s.fileFormat == "ser" ? (sink.Written().empty() ? 0 : delivered)
                                            : static_cast<int>(sink.Written().size());
  const double seconds = static_cast<double>(lastEndUs - firstStartUs) / 1e6;
  std::string rate = "-";
  if (delivered > 0 && seconds > 0) {
    char text[32];
    std::snprintf(text, sizeof(text), "%.2f", delivered / seconds);
    rate = text;
  }
  const std::string where = s.fileFormat == "ser" && !sink.Written().empty() ? sink.Written().front() : s.outDir;
  std::printf("%d frames written to %s, %s frames/s, %u dropped (%u lost by the camera or USB, %u not collected in "
              "time)%s\n",
              written, where.c_str(), rate.c_str(), lostByCamera + notCollected, lostByCamera, notCollected,
              stopRequested ? ", stopped by Ctrl-C" : "");
  if (failed) return Fail(error);
  if (stopRequested && s.frames != 0) return 130;
  return 0;
}

}  // namespace okccam
