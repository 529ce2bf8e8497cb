// The Python Camera: one open camera of the library, its settings as
// properties and its frames as numpy arrays. The library drives one camera per
// process, so one Camera is open at a time.
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "okccamera/okccamera.h"

namespace okc::python {

// Raised as okccamera.Error (a RuntimeError).
class Error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class Camera {
 public:
  // Opens and initialises camera `index` (whole sensor, raw8, bin 1); Error when it cannot.
  explicit Camera(int index);
  ~Camera();
  Camera(const Camera&) = delete;
  Camera& operator=(const Camera&) = delete;

  void Close();
  bool Closed() const { return !open_; }

  // Fixed properties.
  int Index() const { return index_; }
  std::string Model() const;
  bool IsColor() const;
  double PixelSize() const;
  std::pair<int, int> SensorSize() const;
  std::string BayerPattern() const;  // on the sensor; "" for a monochrome camera
  bool IsBinSupported(int bin) const;

  // Controls.
  int GetControl(Control_TYPE control) const;
  void SetControl(Control_TYPE control, int value);
  bool GetAuto(Control_TYPE control) const;
  void SetAuto(Control_TYPE control, bool on);
  std::tuple<int, int> GetControlRange(Control_TYPE control) const;
  std::tuple<int, int> GetWhiteBalance() const;
  void SetWhiteBalance(std::tuple<int, int> redBlue);

  // Format: "raw8", "raw16", "rgb24" or "y8".
  std::string GetFormat() const;
  std::vector<std::string> Formats() const;  // those the camera delivers
  void SetFormat(const std::string& name);
  int GetBinning() const;
  void SetBinning(int bin);
  // (width, height, x, y) in delivered pixels; set with 2 (centred) or 4 values.
  std::tuple<int, int, int, int> GetRegion() const;
  void SetRegion(const pybind11::tuple& region);

  double Temperature() const;
  unsigned int DroppedFrames() const;
  pybind11::object FrameInfo() const;
  void PulseGuide(const pybind11::object& direction, int durationMs);

  // One frame. timeoutMs: None waits twice the exposure and five seconds more.
  pybind11::array Capture(std::optional<unsigned long> timeoutMs);
  // Streaming, for FrameStream.
  void StartStream();
  pybind11::object NextStreamFrame(std::optional<unsigned long> timeoutMs);  // None when the stream ended
  void StopStream();

 private:
  void RequireOpen() const;
  unsigned long DefaultTimeoutMs() const;
  // Waits for a frame in the current format, without the GIL. Error on time-out.
  pybind11::array ReadFrame(unsigned long timeoutMs);

  int index_;
  // Read by threads waiting for frames while another closes the camera.
  std::atomic<bool> open_{false};
  std::atomic<bool> streaming_{false};
  // Captures of one camera run one after another, whichever threads call them.
  std::mutex captureMutex_;
};

// An iterator of frames: starts capture when created, stops it when exhausted or closed.
class FrameStream {
 public:
  FrameStream(std::shared_ptr<Camera> camera, std::optional<long> count, std::optional<unsigned long> timeoutMs);
  ~FrameStream();
  pybind11::object Next();
  void Close();

 private:
  std::shared_ptr<Camera> camera_;
  std::optional<long> remaining_;
  std::optional<unsigned long> timeoutMs_;
  bool running_ = false;
};

}  // namespace okc::python
