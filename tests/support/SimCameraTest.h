// A simulated camera opened through the exported functions, with helpers that
// read the simulator's request log: the base of each camera family's fixture.
//
// Opening and initialising run under a fast clock; streaming then runs on the
// real clock unless a test installs another. The scene's noise is off, so
// frames can be compared with the scene's expected values.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "api/CameraState.h"
#include "okccamera/Clock.h"
#include "okccamera/okccamera.h"
#include "support/SimEnvironment.h"

namespace okc::test {

class SimCameraTest : public SimEnvironment {
 protected:
  void Attach(const okc::sim::SimDeviceOptions& options) {
    sim = bus->Attach(options);
    sim->SetSceneNoise(false);
  }
  void Attach(okc::sim::Model model) {
    okc::sim::SimDeviceOptions options;
    options.model = model;
    Attach(options);
  }
  // Opens (and initialises when asked) the attached camera under a fast clock.
  bool OpenAttached(bool init = true) {
    okc::platform::UseClock(std::make_shared<okc::platform::FastClock>(1000.0));
    bool ok = openCamera(0);
    if (ok && init) ok = initCamera();
    okc::platform::UseClock(nullptr);
    return ok;
  }
  void OpenModel(okc::sim::Model model) {
    Attach(model);
    ASSERT_TRUE(OpenAttached());
  }

  // Sensor register writes (0xA6) since the log was last cleared, in order.
  std::vector<std::pair<int, int>> Writes() const {
    std::vector<std::pair<int, int>> writes;
    for (const auto& r : sim->VendorRequests(0xA6)) writes.emplace_back(r.value, r.index);
    return writes;
  }
  // The last value written to a register since the log was cleared, or -1.
  int LastWrite(int reg) const {
    int last = -1;
    for (const auto& [address, value] : Writes())
      if (address == reg) last = value;
    return last;
  }
  size_t WriteCount(int reg) const {
    size_t n = 0;
    for (const auto& w : Writes()) n += w.first == reg;
    return n;
  }
  // Sensor register reads (0xA7) of one register since the log was cleared.
  size_t ReadCount(uint16_t reg) const {
    size_t n = 0;
    for (const auto& r : sim->VendorRequests(0xA7)) n += r.value == reg;
    return n;
  }
  size_t CommandCount(uint8_t code) const { return sim->VendorRequests(code).size(); }

  // One frame of `bytes` bytes in the format set, through the exported
  // functions; the call must refuse a buffer one byte short.
  std::vector<uint8_t> Frame(size_t bytes) {
    std::vector<uint8_t> frame(bytes);
    startCapture();
    EXPECT_FALSE(getImageData(frame.data(), static_cast<int>(bytes) - 1, 2000));
    EXPECT_TRUE(getImageData(frame.data(), static_cast<int>(bytes), 5000));
    stopCapture();
    return frame;
  }
  // The scene's samples (at the sensor's resolution) of the window read now, in readout order.
  std::vector<int> Expected() const {
    const okc::sim::SimSensorState s = sim->Sensor();
    std::vector<int> samples(static_cast<size_t>(s.width) * s.height);
    for (int y = 0; y < s.height; ++y)
      for (int x = 0; x < s.width; ++x)
        samples[static_cast<size_t>(y) * s.width + x] = sim->ExpectedSceneValue(s.x + x, s.y + y);
    return samples;
  }
  // The i-th native 16-bit sample of a delivered frame.
  static uint16_t Sample16(const std::vector<uint8_t>& frame, size_t i) {
    uint16_t v;
    std::memcpy(&v, &frame[2 * i], 2);
    return v;
  }

  template <typename Done>
  bool WaitUntil(Done done, int limitMs = 60000) {
    return sim->WaitFor(done, static_cast<uint64_t>(limitMs));
  }

  std::shared_ptr<okc::sim::SimCamera> sim;
};

}  // namespace okc::test
