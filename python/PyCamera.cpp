#include "python/PyCamera.h"

#include <algorithm>
#include <atomic>
#include <vector>

#include "tools/common/ImageFormats.h"
#include "tools/common/Region.h"

namespace py = pybind11;

namespace okc::python {

namespace {

// The open Camera: the library drives one camera per process.
std::atomic<Camera*> g_openCamera{nullptr};

using okccam::ImageFormat;
using okccam::ImageFormatOf;
using okccam::kImageFormats;

const char* ControlName(Control_TYPE control) {
  switch (control) {
    case CTRL_GAIN: return "gain";
    case CTRL_EXPOSURE: return "exposure";
    case CTRL_GAMMA: return "gamma";
    case CTRL_WB_RED: return "white balance (red)";
    case CTRL_WB_BLUE: return "white balance (blue)";
    case CTRL_BRIGHTNESS: return "brightness";
    default: return "frame rate";
  }
}

okccam::SensorGeometry CurrentGeometry(int bin) {
  bool flipRow = false, flipColumn = false;
  GetMisc(&flipRow, &flipColumn);
  return {getMaxWidth(), getMaxHeight(), bin, flipRow, flipColumn};
}

// The shared region rules speak of okccam's --roi option.
std::string RegionMessage(std::string text) {
  for (size_t at; (at = text.find("--roi")) != std::string::npos;) text.replace(at, 5, "region");
  return text;
}

}  // namespace

Camera::Camera(int index) : index_(index) {
  Camera* none = nullptr;
  if (!g_openCamera.compare_exchange_strong(none, this))
    throw Error("camera " + std::to_string(g_openCamera.load()->index_) +
                " is open: the library drives one camera at a time, close it first");
  const int count = getNumberOfConnectedCameras();
  if (index < 0 || index >= count) {
    g_openCamera = nullptr;
    throw Error("no camera " + std::to_string(index) + ": " + std::to_string(count) + " attached" +
                (count == 0 ? " (for simulated cameras call okccamera.use_simulated(\"TAVC\") first)" : ""));
  }
  const std::string model = getCameraModel(index);
  bool opened = false;
  {
    py::gil_scoped_release release;
    opened = openCamera(index);
  }
  if (!opened) {
    g_openCamera = nullptr;
    throw Error("cannot open camera " + std::to_string(index) + " (" + model +
                "): is it still attached, and may this user open it (udev rules)?");
  }
  bool initialised = false;
  {
    py::gil_scoped_release release;
    // Every Camera starts from the same place: the whole sensor, raw8, bin 1.
    initialised = initCamera() && setImageFormat(getMaxWidth(), getMaxHeight(), 1, IMGTYPE_RAW8);
    if (!initialised) closeCamera();
  }
  if (!initialised) {
    g_openCamera = nullptr;
    throw Error("cannot initialise camera " + std::to_string(index) + " (" + model +
                "): this version of the library may not stream from it yet");
  }
  open_ = true;
}

Camera::~Camera() {
  try {
    Close();
  } catch (...) {
  }
}

void Camera::Close() {
  if (!open_) return;
  open_ = false;
  {
    // Ends a frame wait on another thread, which then reports the close.
    py::gil_scoped_release release;
    closeCamera();
  }
  streaming_ = false;
  Camera* self = this;
  g_openCamera.compare_exchange_strong(self, nullptr);
}

void Camera::RequireOpen() const {
  if (!open_) throw Error("the camera is closed");
}

std::string Camera::Model() const {
  const char* model = getCameraModel(index_);
  return model ? model : "";
}

bool Camera::IsColor() const {
  RequireOpen();
  return isColorCam();
}

double Camera::PixelSize() const {
  RequireOpen();
  return getPixelSize();
}

std::pair<int, int> Camera::SensorSize() const {
  RequireOpen();
  return {getMaxWidth(), getMaxHeight()};
}

std::string Camera::BayerPattern() const {
  RequireOpen();
  constexpr const char* kNames[] = {"RGGB", "BGGR", "GRBG", "GBRG"};
  const int pattern = getColorBayer();
  return isColorCam() && pattern >= 0 && pattern < 4 ? kNames[pattern] : "";
}

bool Camera::IsBinSupported(int bin) const {
  RequireOpen();
  return isBinSupported(bin);
}

int Camera::GetControl(Control_TYPE control) const {
  RequireOpen();
  bool automatic = false;
  return getValue(control, &automatic);
}

void Camera::SetControl(Control_TYPE control, int value) {
  RequireOpen();
  if (!isAvailable(control)) throw Error(std::string("this camera has no ") + ControlName(control) + " control");
  const int low = getMin(control), high = getMax(control);
  if (value < low || value > high)
    throw py::value_error(std::string(ControlName(control)) + " must be from " + std::to_string(low) + " to " +
                          std::to_string(high) + ", not " + std::to_string(value));
  bool automatic = false;
  getValue(control, &automatic);
  py::gil_scoped_release release;
  setValue(control, value, automatic);
}

bool Camera::GetAuto(Control_TYPE control) const {
  RequireOpen();
  bool automatic = false;
  getValue(control, &automatic);
  return automatic;
}

void Camera::SetAuto(Control_TYPE control, bool on) {
  RequireOpen();
  if (on && !isAutoSupported(control))
    throw Error(std::string("this camera has no automatic ") + ControlName(control));
  bool automatic = false;
  const int value = getValue(control, &automatic);
  py::gil_scoped_release release;
  setValue(control, value, on);
}

std::tuple<int, int> Camera::GetControlRange(Control_TYPE control) const {
  RequireOpen();
  return {getMin(control), getMax(control)};
}

std::tuple<int, int> Camera::GetWhiteBalance() const {
  return {GetControl(CTRL_WB_RED), GetControl(CTRL_WB_BLUE)};
}

void Camera::SetWhiteBalance(std::tuple<int, int> redBlue) {
  RequireOpen();
  if (!isColorCam()) throw Error("a monochrome camera has no white balance");
  SetControl(CTRL_WB_RED, std::get<0>(redBlue));
  SetControl(CTRL_WB_BLUE, std::get<1>(redBlue));
}

std::string Camera::GetFormat() const {
  RequireOpen();
  return ImageFormatOf(getImgType()).name;
}

std::vector<std::string> Camera::Formats() const {
  RequireOpen();
  std::vector<std::string> names;
  for (const ImageFormat& f : kImageFormats)
    if (isImgTypeSupported(f.type)) names.push_back(f.name);
  return names;
}

void Camera::SetFormat(const std::string& name) {
  RequireOpen();
  const ImageFormat* format = okccam::ImageFormatNamed(name);
  if (!format) throw py::value_error("format must be raw8, raw16, rgb24 or y8, not '" + name + "'");
  if (!isImgTypeSupported(format->type)) throw Error("this camera does not deliver " + name);
  py::gil_scoped_release release;
  std::lock_guard lock(captureMutex_);
  // Same window, same place.
  const int x = getStartX(), y = getStartY();
  if (!setImageFormat(getWidth(), getHeight(), getBin(), format->type)) {
    py::gil_scoped_acquire acquire;
    throw Error("the camera refuses format " + name + " for its current region");
  }
  setStartPos(x, y);
}

int Camera::GetBinning() const {
  RequireOpen();
  return getBin();
}

void Camera::SetBinning(int bin) {
  RequireOpen();
  if (bin != 1 && (bin != 2 || !isBinSupported(bin)))
    throw py::value_error("this camera bins 1" + std::string(isBinSupported(2) ? " or 2" : "") + ", not " +
                          std::to_string(bin));
  py::gil_scoped_release release;
  std::lock_guard lock(captureMutex_);
  // A new binning starts from the whole sensor.
  if (!setImageFormat(getMaxWidth() / bin, getMaxHeight() / bin, bin, getImgType())) {
    py::gil_scoped_acquire acquire;
    throw Error("the camera refuses binning " + std::to_string(bin));
  }
}

std::tuple<int, int, int, int> Camera::GetRegion() const {
  RequireOpen();
  const okccam::Region r =
      okccam::DeliveredRegionOf(getWidth(), getHeight(), getStartX(), getStartY(), CurrentGeometry(getBin()));
  return {r.width, r.height, r.x, r.y};
}

void Camera::SetRegion(const py::tuple& region) {
  RequireOpen();
  if (region.size() != 2 && region.size() != 4)
    throw py::value_error("region is (width, height) or (width, height, x, y) in delivered pixels");
  okccam::Region r;
  int values[4] = {};
  for (size_t i = 0; i < region.size(); ++i) values[i] = region[i].cast<int>();
  r.width = values[0];
  r.height = values[1];
  r.x = values[2];
  r.y = values[3];
  r.placed = region.size() == 4;
  if (r.width <= 0 || r.height <= 0 || r.x < 0 || r.y < 0)
    throw py::value_error("region sizes must be above 0 and its origin from 0");
  std::string problem;
  {
    py::gil_scoped_release release;
    std::lock_guard lock(captureMutex_);
    const okccam::SensorGeometry geometry = CurrentGeometry(getBin());
    int sensorX = 0, sensorY = 0;
    if (!okccam::SensorStartOf(r, geometry, &sensorX, &sensorY, &problem)) {
      problem = RegionMessage(problem);
    } else if (!setImageFormat(r.width, r.height, geometry.bin, getImgType())) {
      problem = "the camera refuses region " + std::to_string(r.width) + " x " + std::to_string(r.height) +
                " at bin " + std::to_string(geometry.bin) +
                " (USB 2 models need width x height x bin x bin to be a multiple of 1024)";
    } else if (r.placed && !(r.width == geometry.FullWidth() && r.height == geometry.FullHeight()) &&
               (!setStartPos(sensorX, sensorY) || getStartX() != sensorX || getStartY() != sensorY)) {
      problem = "the camera refuses a region starting at " + std::to_string(r.x) + "," + std::to_string(r.y);
    }
  }
  if (!problem.empty()) throw py::value_error(problem);
}

double Camera::Temperature() const {
  RequireOpen();
  return getSensorTemp();
}

unsigned int Camera::DroppedFrames() const {
  RequireOpen();
  return getDroppedFrames();
}

py::object Camera::FrameInfo() const {
  RequireOpen();
  OKCFrameInfo info{};
  if (!okcGetFrameInfo(&info)) return py::none();
  py::dict d;
  d["sequence"] = info.sequence;
  d["start_utc_us"] = info.startUtcUs;
  d["end_utc_us"] = info.endUtcUs;
  d["start_monotonic_us"] = info.startMonotonicUs;
  d["end_monotonic_us"] = info.endMonotonicUs;
  d["exposure_us"] = info.exposureUs;
  d["gain"] = info.gain;
  d["width"] = info.width;
  d["height"] = info.height;
  d["bin"] = info.bin;
  d["start_x"] = info.startX;
  d["start_y"] = info.startY;
  d["flip_row"] = info.flipRow;
  d["flip_column"] = info.flipColumn;
  return d;
}

void Camera::PulseGuide(const py::object& direction, int durationMs) {
  RequireOpen();
  static const char* const kNames[] = {"north", "south", "east", "west"};
  int d = -1;
  if (py::isinstance<py::str>(direction)) {
    const std::string name = direction.cast<std::string>();
    for (int i = 0; i < 4; ++i)
      if (name == kNames[i]) d = i;
  } else if (py::isinstance<py::int_>(direction)) {
    d = direction.cast<int>();
  }
  if (d < 0 || d > 3) throw py::value_error("direction is 'north', 'south', 'east' or 'west' (or 0 to 3)");
  if (durationMs < 0) throw py::value_error("a guide pulse lasts 0 ms or more");
  py::gil_scoped_release release;
  pulseGuide(static_cast<GuideD>(d), durationMs);
}

unsigned long Camera::DefaultTimeoutMs() const {
  bool automatic = false;
  const unsigned int exposureUs = static_cast<unsigned int>(getValue(CTRL_EXPOSURE, &automatic));
  return exposureUs / 1000 * 2 + 5000;
}

py::array Camera::ReadFrame(unsigned long timeoutMs) {
  auto buffer = std::make_unique<std::vector<uint8_t>>();
  int width = 0, height = 0;
  ImageFormat format{};
  bool got = false;
  {
    py::gil_scoped_release release;
    // Format and size are read under the lock that setters take, so the frame matches them.
    std::lock_guard lock(captureMutex_);
    width = getWidth();
    height = getHeight();
    format = ImageFormatOf(getImgType());
    buffer->resize(static_cast<size_t>(width) * height * format.bytesPerPixel);
    if (!streaming_) startCapture();
    got = open_ && !buffer->empty() &&
          getImageData(buffer->data(), static_cast<int>(buffer->size()), timeoutMs);
    if (!streaming_) stopCapture();
  }
  if (!open_) throw Error("the camera was closed while waiting for a frame");
  if (!got) throw Error("no frame within " + std::to_string(timeoutMs) + " ms");
  if (format.bytesPerPixel == 3)  // the library delivers B, G, R
    for (size_t i = 0; i + 2 < buffer->size(); i += 3) std::swap((*buffer)[i], (*buffer)[i + 2]);
  std::vector<uint8_t>* raw = buffer.release();
  py::capsule owner(raw, [](void* p) { delete static_cast<std::vector<uint8_t>*>(p); });
  const py::ssize_t h = height, w = width;
  if (format.bytesPerPixel == 2)
    return py::array_t<uint16_t>({h, w}, {w * 2, py::ssize_t{2}}, reinterpret_cast<uint16_t*>(raw->data()), owner);
  if (format.bytesPerPixel == 3)
    return py::array_t<uint8_t>({h, w, py::ssize_t{3}}, {w * 3, py::ssize_t{3}, py::ssize_t{1}}, raw->data(), owner);
  return py::array_t<uint8_t>({h, w}, {w, py::ssize_t{1}}, raw->data(), owner);
}

py::array Camera::Capture(std::optional<unsigned long> timeoutMs) {
  RequireOpen();
  return ReadFrame(timeoutMs.value_or(DefaultTimeoutMs()));
}

void Camera::StartStream() {
  RequireOpen();
  py::gil_scoped_release release;
  std::lock_guard lock(captureMutex_);
  if (streaming_) {
    py::gil_scoped_acquire acquire;
    throw Error("the camera is already streaming");
  }
  streaming_ = true;
  startCapture();
}

py::object Camera::NextStreamFrame(std::optional<unsigned long> timeoutMs) {
  RequireOpen();
  if (!streaming_) return py::none();
  return ReadFrame(timeoutMs.value_or(DefaultTimeoutMs()));
}

void Camera::StopStream() {
  if (!open_) return;
  py::gil_scoped_release release;
  std::lock_guard lock(captureMutex_);
  if (!streaming_) return;
  streaming_ = false;
  stopCapture();
}

FrameStream::FrameStream(std::shared_ptr<Camera> camera, std::optional<long> count,
                         std::optional<unsigned long> timeoutMs)
    : camera_(std::move(camera)), remaining_(count), timeoutMs_(timeoutMs) {
  if (count && *count < 0) throw py::value_error("count must be 0 or more");
  camera_->StartStream();
  running_ = true;
}

FrameStream::~FrameStream() {
  try {
    Close();
  } catch (...) {
  }
}

py::object FrameStream::Next() {
  if (!running_ || (remaining_ && *remaining_ == 0)) {
    Close();
    throw py::stop_iteration();
  }
  py::object frame = camera_->NextStreamFrame(timeoutMs_);
  if (frame.is_none()) {
    Close();
    throw py::stop_iteration();
  }
  if (remaining_) --*remaining_;
  return frame;
}

void FrameStream::Close() {
  if (!running_) return;
  running_ = false;
  camera_->StopStream();
}

}  // namespace okc::python
