#include "indi/OkcCcd.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>

#include "tools/common/BayerPattern.h"
#include "tools/common/Region.h"

namespace okc::indi {

namespace {

// The device whose camera is open: the library drives one camera at a time.
OkcCcd* g_connectedDevice = nullptr;

// The main loop polls the capture thread and the guide pulses this often
// while something runs, and otherwise reads the temperature now and then.
constexpr uint32_t kBusyPollMs = 50;
constexpr uint32_t kIdlePollMs = 500;
constexpr auto kTemperatureEvery = std::chrono::seconds(5);

struct CameraControl {
  Control_TYPE id;
  const char* name;
  const char* label;
  bool colourOnly;
};
// CCD_CONTROLS, with the element names clients look for (Gain, Offset).
constexpr CameraControl kControls[] = {
    {CTRL_GAIN, "Gain", "Gain", false},
    {CTRL_BRIGHTNESS, "Offset", "Offset", false},
    {CTRL_GAMMA, "Gamma", "Gamma", false},
    {CTRL_WB_RED, "WB_R", "White balance red", true},
    {CTRL_WB_BLUE, "WB_B", "White balance blue", true},
};

// What IMAGETYP says for each INDI frame type, as okccam writes it.
const char* ImageTypeOf(INDI::CCDChip::CCD_FRAME type) {
  switch (type) {
    case INDI::CCDChip::DARK_FRAME: return "Dark Frame";
    case INDI::CCDChip::FLAT_FRAME: return "Flat Field";
    case INDI::CCDChip::BIAS_FRAME: return "Bias Frame";
    default: return "Light Frame";
  }
}

INDI_PIXEL_FORMAT PixelFormatOf(const std::string& pattern) {
  if (pattern == "RGGB") return INDI_BAYER_RGGB;
  if (pattern == "GRBG") return INDI_BAYER_GRBG;
  if (pattern == "GBRG") return INDI_BAYER_GBRG;
  if (pattern == "BGGR") return INDI_BAYER_BGGR;
  return INDI_MONO;
}

constexpr uint32_t kCapabilities =
    INDI::CCD::CCD_CAN_ABORT | INDI::CCD::CCD_CAN_BIN | INDI::CCD::CCD_CAN_SUBFRAME | INDI::CCD::CCD_HAS_ST4_PORT |
    INDI::CCD::CCD_HAS_STREAMING;

}  // namespace

OkcCcd::OkcCcd(int cameraIndex, const std::string& deviceName)
    : cameraIndex_(cameraIndex), deviceName_(deviceName) {
  setVersion(0, 1);
  setDeviceName(deviceName_.c_str());
}

OkcCcd::~OkcCcd() {
  if (g_connectedDevice == this) Disconnect();
}

const char* OkcCcd::getDefaultName() { return "OKC Camera"; }

bool OkcCcd::initProperties() {
  INDI::CCD::initProperties();
  SetCCDCapability(kCapabilities);
  addCaptureFormat({"RAW8", "8-bit", 8, false});
  addCaptureFormat({"RAW16", "16-bit", 16, true});
  addAuxControls();  // debug, simulation, configuration, polling
  return true;
}

bool OkcCcd::updateProperties() {
  INDI::CCD::updateProperties();
  if (isConnected()) {
    DefineControls();
    if (!HasCooler()) {  // the sensor's temperature, read only: these cameras have no cooler
      TemperatureNP.p = IP_RO;
      defineProperty(&TemperatureNP);
    }
    timerId_ = SetTimer(kIdlePollMs);
  } else {
    deleteProperty(ControlsNP.getName());
    deleteProperty(TemperatureNP.name);
    if (timerId_ >= 0) RemoveTimer(timerId_);
    timerId_ = -1;
  }
  return true;
}

bool OkcCcd::Connect() {
  if (g_connectedDevice && g_connectedDevice != this) {
    LOGF_ERROR("%s is connected: the library drives one camera at a time; disconnect it first.",
               g_connectedDevice->getDeviceName());
    return false;
  }
  int index = cameraIndex_;
  if (isSimulation()) {
    if (okcUseSimulatedCameras(kSimulatedModel) < 1) {
      LOG_ERROR("The simulated camera cannot be attached.");
      return false;
    }
    index = 0;
  } else {
    okcUseRealCameras();
    if (index < 0) {
      LOG_ERROR("No camera is attached. Switch SIMULATION on before connecting for a simulated TAVC.");
      return false;
    }
  }
  if (getNumberOfConnectedCameras() <= index) {
    LOGF_ERROR("Camera %d is no longer attached.", index);
    return false;
  }
  model_ = getCameraModel(index);
  if (!openCamera(index)) {
    LOGF_ERROR("Cannot open %s: is it still attached, and may this user open it (udev rules)?", model_.c_str());
    return false;
  }
  if (!initCamera()) {
    LOGF_ERROR("Cannot initialise %s (this version of the library may not stream from it yet).", model_.c_str());
    closeCamera();
    return false;
  }
  g_connectedDevice = this;
  SetCCDCapability(kCapabilities | (isColorCam() ? CCD_HAS_BAYER : 0));
  const double pixel = getPixelSize();
  SetCCDParams(getMaxWidth(), getMaxHeight(), bitsPerPixel_, pixel, pixel);
  PrimaryCCD.setMinMaxStep("CCD_EXPOSURE", "CCD_EXPOSURE_VALUE", getMin(CTRL_EXPOSURE) / 1e6,
                           getMax(CTRL_EXPOSURE) / 1e6, 0.001, false);
  const int maxBin = isBinSupported(2) ? 2 : 1;
  PrimaryCCD.setMinMaxStep("CCD_BINNING", "HOR_BIN", 1, maxBin, 1, false);
  PrimaryCCD.setMinMaxStep("CCD_BINNING", "VER_BIN", 1, maxBin, 1, false);
  if (!isImgTypeSupported(bitsPerPixel_ == 16 ? IMGTYPE_RAW16 : IMGTYPE_RAW8)) {
    bitsPerPixel_ = 8;
    CaptureFormatSP.reset();
    CaptureFormatSP[0].setState(ISS_ON);  // RAW8
  }
  if (!ApplyFormat(0, 0, getMaxWidth(), getMaxHeight(), 1, bitsPerPixel_)) {
    Disconnect();
    return false;
  }
  Streamer->setStreamingExposureEnabled(true);
  LOGF_INFO("%s is open%s.", model_.c_str(), isSimulation() ? " (simulated)" : "");
  return true;
}

bool OkcCcd::Disconnect() {
  worker_.Stop();
  InExposure = false;
  for (GuideAxis* axis : {&northSouth_, &eastWest_})
    if (axis->thread.joinable()) axis->thread.join();  // a pulse ends within its length
  if (g_connectedDevice == this) {
    closeCamera();
    g_connectedDevice = nullptr;
  }
  return true;
}

size_t OkcCcd::FrameBytes() const {
  return static_cast<size_t>(getWidth()) * getHeight() * (bitsPerPixel_ == 16 ? 2 : 1);
}

bool OkcCcd::ApplyFormat(int x, int y, int w, int h, int bin, int bitsPerPixel) {
  const IMG_TYPE type = bitsPerPixel == 16 ? IMGTYPE_RAW16 : IMGTYPE_RAW8;
  if (!isImgTypeSupported(type)) {
    LOGF_ERROR("%s does not deliver %d-bit frames.", model_.c_str(), bitsPerPixel);
    return false;
  }
  if (bin != 1 && !isBinSupported(bin)) {
    LOGF_ERROR("%s does not bin %dx%d.", model_.c_str(), bin, bin);
    return false;
  }
  bool flipRow = false, flipColumn = false;
  GetMisc(&flipRow, &flipColumn);
  const okccam::SensorGeometry geometry{getMaxWidth(), getMaxHeight(), bin, flipRow, flipColumn};
  // CCD_FRAME is in unbinned pixels; the camera's window in delivered (binned) ones.
  okccam::Region region;
  region.width = std::clamp(w / bin, 1, geometry.FullWidth());
  region.height = std::clamp(h / bin, 1, geometry.FullHeight());
  if (!setImageFormat(region.width, region.height, bin, type)) {
    // USB 2 models take windows of a multiple of 1024 pixels: sides of a multiple of 32 always are.
    region.width = std::max(32, region.width / 32 * 32);
    region.height = std::max(32, region.height / 32 * 32);
    if (!setImageFormat(region.width, region.height, bin, type)) {
      LOGF_ERROR("The camera refuses a %dx%d window at bin %d.", region.width, region.height, bin);
      return false;
    }
  }
  region.x = std::clamp(x / bin, 0, geometry.FullWidth() - region.width);
  region.y = std::clamp(y / bin, 0, geometry.FullHeight() - region.height);
  region.placed = true;
  const bool fullFrame = region.width == geometry.FullWidth() && region.height == geometry.FullHeight();
  if (!fullFrame) {
    // The window starts on an even sensor pixel: move it by a pixel where needed.
    bool placed = false;
    for (int dy = 0; dy < 2 && !placed; ++dy) {
      for (int dx = 0; dx < 2 && !placed; ++dx) {
        okccam::Region moved = region;
        moved.x = std::max(0, region.x - dx);
        moved.y = std::max(0, region.y - dy);
        int sensorX = 0, sensorY = 0;
        std::string error;
        placed = okccam::SensorStartOf(moved, geometry, &sensorX, &sensorY, &error) && setStartPos(sensorX, sensorY);
      }
    }
    if (!placed) LOGF_WARN("The window stays where the camera put it: it cannot start at %d,%d.", region.x, region.y);
  }
  bin_ = getBin();
  bitsPerPixel_ = bitsPerPixel;
  const okccam::SensorGeometry used{getMaxWidth(), getMaxHeight(), bin_, flipRow, flipColumn};
  const okccam::Region delivered = okccam::DeliveredRegionOf(getWidth(), getHeight(), getStartX(), getStartY(), used);
  PrimaryCCD.setBin(bin_, bin_);
  PrimaryCCD.setFrame(delivered.x * bin_, delivered.y * bin_, delivered.width * bin_, delivered.height * bin_);
  PrimaryCCD.setBPP(bitsPerPixel_);
  if (delivered.width * bin_ != w || delivered.height * bin_ != h || delivered.x * bin_ != x || delivered.y * bin_ != y)
    LOGF_INFO("Frame set to %d,%d %dx%d (unbinned) at bin %d, as the camera allows.", delivered.x * bin_,
              delivered.y * bin_, delivered.width * bin_, delivered.height * bin_, bin_);
  UpdateBayerPattern();
  return true;
}

void OkcCcd::UpdateBayerPattern() {
  if (!HasBayer()) return;
  // The pattern of the delivered window, after the camera's mirrors; binned frames are not raw mosaics.
  const std::string pattern = bin_ == 1 ? okccam::DeliveredBayerPattern(getWidth(), getHeight()) : "";
  IUSaveText(&BayerT[0], "0");
  IUSaveText(&BayerT[1], "0");
  IUSaveText(&BayerT[2], pattern.c_str());
  IDSetText(&BayerTP, nullptr);
}

bool OkcCcd::UpdateCCDFrame(int x, int y, int w, int h) {
  if (worker_.Running()) {
    LOG_ERROR("The frame cannot change while the camera exposes or streams.");
    return false;
  }
  return ApplyFormat(x, y, w, h, bin_, bitsPerPixel_);
}

bool OkcCcd::UpdateCCDBin(int hor, int ver) {
  if (hor != ver || worker_.Running() || !ApplyFormat(PrimaryCCD.getSubX(), PrimaryCCD.getSubY(),
                                                      PrimaryCCD.getSubW(), PrimaryCCD.getSubH(), hor, bitsPerPixel_)) {
    if (hor != ver) LOG_ERROR("Binning is the same in both directions.");
    PrimaryCCD.setBin(bin_, bin_);  // what the camera does now
    return false;
  }
  return true;
}

bool OkcCcd::SetCaptureFormat(uint8_t index) {
  const int bits = index == 0 ? 8 : 16;
  if (!isConnected()) {
    bitsPerPixel_ = bits;
    return true;
  }
  if (worker_.Running()) {
    LOG_ERROR("The format cannot change while the camera exposes or streams.");
    return false;
  }
  return ApplyFormat(PrimaryCCD.getSubX(), PrimaryCCD.getSubY(), PrimaryCCD.getSubW(), PrimaryCCD.getSubH(), bin_,
                     bits);
}

void OkcCcd::DefineControls() {
  controlIds_.clear();
  std::vector<const CameraControl*> offered;
  for (const CameraControl& control : kControls)
    if (isAvailable(control.id) && (!control.colourOnly || isColorCam())) offered.push_back(&control);
  ControlsNP.resize(offered.size());
  for (size_t i = 0; i < offered.size(); ++i) {
    bool automatic = false;
    const CameraControl& s = *offered[i];
    ControlsNP[i].fill(s.name, s.label, "%.f", getMin(s.id), getMax(s.id), 1, ::getValue(s.id, &automatic));
    controlIds_.push_back(s.id);
  }
  ControlsNP.fill(getDeviceName(), "CCD_CONTROLS", "Controls", MAIN_CONTROL_TAB, IP_RW, 60, IPS_IDLE);
  defineProperty(ControlsNP);
}

bool OkcCcd::ISNewNumber(const char* dev, const char* name, double values[], char* names[], int n) {
  if (dev && !std::strcmp(dev, getDeviceName()) && ControlsNP.isNameMatch(name)) {
    ControlsNP.update(values, names, n);
    for (size_t i = 0; i < controlIds_.size(); ++i) {
      ::setValue(controlIds_[i], static_cast<int>(std::lround(ControlsNP[i].getValue())), false);
      bool automatic = false;
      ControlsNP[i].setValue(::getValue(controlIds_[i], &automatic));  // what the camera took
    }
    ControlsNP.setState(IPS_OK);
    ControlsNP.apply();
    return true;
  }
  return INDI::CCD::ISNewNumber(dev, name, values, names, n);
}

bool OkcCcd::StartExposure(float duration) {
  if (worker_.Running()) {
    LOG_ERROR("The camera is busy.");
    return false;
  }
  const double us = std::clamp<double>(duration * 1e6, getMin(CTRL_EXPOSURE), getMax(CTRL_EXPOSURE));
  ::setValue(CTRL_EXPOSURE, static_cast<int>(us), false);
  PrimaryCCD.setExposureDuration(duration);
  exposureSeconds_ = duration;
  exposureStart_ = std::chrono::steady_clock::now();
  exposureLeftShown_ = duration;
  InExposure = true;
  // Twice the exposure and a generous allowance for start-up and readout.
  worker_.StartExposure(FrameBytes(), static_cast<unsigned long>(us / 1000 * 2 + 10000));
  if (timerId_ >= 0) RemoveTimer(timerId_);
  timerId_ = SetTimer(kBusyPollMs);
  return true;
}

bool OkcCcd::AbortExposure() {
  worker_.Stop();
  InExposure = false;
  return true;
}

void OkcCcd::TimerHit() {
  timerId_ = -1;
  if (!isConnected()) return;
  if (InExposure) {
    std::vector<uint8_t> frame;
    OKCFrameInfo info{};
    bool haveInfo = false;
    std::string error;
    switch (worker_.TakeResult(&frame, &info, &haveInfo, &error)) {
      case CaptureWorker::Outcome::kFrame:
        InExposure = false;
        DeliverFrame(frame, haveInfo ? &info : nullptr);
        break;
      case CaptureWorker::Outcome::kFailed:
        InExposure = false;
        LOGF_ERROR("Exposure failed: %s.", error.c_str());
        PrimaryCCD.setExposureFailed();
        break;
      default:
        UpdateExposureLeft();
    }
  }
  FinishGuidePulses();
  if (std::chrono::steady_clock::now() - temperatureRead_ >= kTemperatureEvery) UpdateTemperature();
  // An exposure or pulse started from inside this call (a fast-exposure
  // sequence starts the next frame in ExposureComplete) has set the timer already.
  if (timerId_ >= 0) return;
  const bool busy = InExposure || northSouth_.thread.joinable() || eastWest_.thread.joinable();
  timerId_ = SetTimer(busy ? kBusyPollMs : kIdlePollMs);
}

void OkcCcd::UpdateExposureLeft() {
  const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - exposureStart_).count();
  const double left = std::max(0.0, exposureSeconds_ - elapsed);
  // Clients show whole and tenth seconds: a message every quarter second is plenty.
  if (std::fabs(left - exposureLeftShown_) < 0.25) return;
  exposureLeftShown_ = left;
  PrimaryCCD.setExposureLeft(left);
}

void OkcCcd::UpdateTemperature() {
  temperatureRead_ = std::chrono::steady_clock::now();
  TemperatureN[0].value = getSensorTemp();
  TemperatureNP.s = IPS_OK;
  IDSetNumber(&TemperatureNP, nullptr);
}

void OkcCcd::DeliverFrame(std::vector<uint8_t>& frame, const OKCFrameInfo* info) {
  const int width = PrimaryCCD.getSubW() / PrimaryCCD.getBinX();
  const int height = PrimaryCCD.getSubH() / PrimaryCCD.getBinY();
  const size_t bytes = static_cast<size_t>(width) * height * (bitsPerPixel_ / 8);
  if (frame.size() != bytes) {
    LOGF_ERROR("The frame has %zu bytes, not the %zu of a %dx%d frame.", frame.size(), bytes, width, height);
    PrimaryCCD.setExposureFailed();
    return;
  }
  okccam::FrameInfo& h = header_;
  h = okccam::FrameInfo{};
  h.width = width;
  h.height = height;
  h.bytesPerPixel = bitsPerPixel_ / 8;
  bool automatic = false;
  h.exposureSeconds = info ? info->exposureUs / 1e6 : exposureSeconds_;
  h.gain = info ? info->gain : ::getValue(CTRL_GAIN, &automatic);
  h.bin = bin_;
  h.temperatureC = getSensorTemp();
  h.pixelSizeUm = getPixelSize();
  h.instrument = model_;
  if (isColorCam() && bin_ == 1) h.bayerPattern = okccam::DeliveredBayerPattern(width, height);
  if (info) {
    h.dateObs = okccam::IsoUtc(info->startUtcUs);
    h.dateEnd = okccam::IsoUtc(info->endUtcUs);
  } else {
    const auto now = std::chrono::duration_cast<std::chrono::microseconds>(
                         std::chrono::system_clock::now().time_since_epoch()).count();
    h.dateObs = okccam::IsoUtc(now - static_cast<int64_t>(exposureSeconds_ * 1e6));
    h.dateEnd = okccam::IsoUtc(now);
  }
  if (isAvailable(CTRL_BRIGHTNESS)) h.offset = ::getValue(CTRL_BRIGHTNESS, &automatic);
  h.imageType = ImageTypeOf(PrimaryCCD.getFrameType());
  h.xOrigin = PrimaryCCD.getSubX() / bin_;
  h.yOrigin = PrimaryCCD.getSubY() / bin_;
  h.software = std::string("indi_okccamera ") + OKC_VERSION;
  {
    std::unique_lock<std::mutex> guard(ccdBufferLock);
    PrimaryCCD.setFrameBufferSize(static_cast<uint32_t>(bytes));
    std::memcpy(PrimaryCCD.getFrameBuffer(), frame.data(), bytes);
  }
  PrimaryCCD.setExposureLeft(0);
  ExposureComplete(&PrimaryCCD);
}

void OkcCcd::addFITSKeywords(INDI::CCDChip* targetChip) {
  INDI::CCD::addFITSKeywords(targetChip);
  fitsfile* file = *targetChip->fitsFilePointer();
  if (!file) return;
  // The same keywords as okccam's files; they replace INDI's where both write one.
  int status = 0;
  okccam::WriteFrameKeywords(file, header_, &status);
  if (status) LOGF_WARN("FITS header incomplete (cfitsio status %d).", status);
  if (header_.bayerPattern.empty()) {
    // INDI marks every frame of a colour camera; binned frames are no mosaic.
    for (const char* key : {"BAYERPAT", "XBAYROFF", "YBAYROFF"}) {
      int missing = 0;
      fits_delete_key(file, key, &missing);
    }
  }
}

bool OkcCcd::StartStreaming() {
  if (worker_.Running()) {
    LOG_ERROR("The camera is busy.");
    return false;
  }
  const double us = std::clamp<double>(Streamer->getTargetExposure() * 1e6, getMin(CTRL_EXPOSURE),
                                       getMax(CTRL_EXPOSURE));
  ::setValue(CTRL_EXPOSURE, static_cast<int>(us), false);
  const std::string pattern = isColorCam() && bin_ == 1 ? okccam::DeliveredBayerPattern(getWidth(), getHeight()) : "";
  Streamer->setPixelFormat(PixelFormatOf(pattern), static_cast<uint8_t>(bitsPerPixel_));
  Streamer->setSize(static_cast<uint16_t>(getWidth()), static_cast<uint16_t>(getHeight()));
  worker_.StartStream(FrameBytes(), [this](const uint8_t* pixels, size_t bytes) {
    Streamer->newFrame(pixels, static_cast<uint32_t>(bytes));
  });
  return true;
}

bool OkcCcd::StopStreaming() {
  worker_.Stop();
  return true;
}

IPState OkcCcd::Guide(GuideAxis& axis, GuideD direction, uint32_t ms) {
  if (axis.thread.joinable()) {
    if (!axis.done) {
      LOG_ERROR("A guide pulse on this axis is still running.");
      return IPS_ALERT;
    }
    axis.thread.join();
  }
  axis.done = false;
  axis.thread = std::thread([&axis, direction, ms] {
    pulseGuide(direction, static_cast<int>(std::min<uint32_t>(ms, 3600000)));
    axis.done = true;
  });
  if (timerId_ >= 0) RemoveTimer(timerId_);
  timerId_ = SetTimer(std::min<uint32_t>(ms, kBusyPollMs));
  return IPS_BUSY;
}

void OkcCcd::FinishGuidePulses() {
  if (northSouth_.thread.joinable() && northSouth_.done) {
    northSouth_.thread.join();
    GuideComplete(AXIS_DE);
  }
  if (eastWest_.thread.joinable() && eastWest_.done) {
    eastWest_.thread.join();
    GuideComplete(AXIS_RA);
  }
}

IPState OkcCcd::GuideNorth(uint32_t ms) { return Guide(northSouth_, GUIDE_NORTH, ms); }
IPState OkcCcd::GuideSouth(uint32_t ms) { return Guide(northSouth_, GUIDE_SOUTH, ms); }
IPState OkcCcd::GuideEast(uint32_t ms) { return Guide(eastWest_, GUIDE_EAST, ms); }
IPState OkcCcd::GuideWest(uint32_t ms) { return Guide(eastWest_, GUIDE_WEST, ms); }

bool OkcCcd::saveConfigItems(FILE* fp) {
  INDI::CCD::saveConfigItems(fp);
  if (!controlIds_.empty()) ControlsNP.save(fp);
  return true;
}

}  // namespace okc::indi
