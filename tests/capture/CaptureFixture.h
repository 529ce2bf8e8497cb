// A simulated TAVC opened through the exported functions, for capture tests.
//
// Opening, initialising and the format run under a fast clock (the sensor's
// settle times); streaming then runs on the real clock unless a test installs
// another. The scene's noise is off, so frames can be compared with the
// scene's expected values.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <thread>
#include <vector>

#include "api/CameraState.h"
#include "okccamera/CCameraTAV.h"
#include "okccamera/Clock.h"
#include "okccamera/okccamera.h"
#include "support/SimEnvironment.h"

namespace okc::test {

class CaptureTest : public SimEnvironment {
 protected:
  void OpenTavc(int width, int height, int bin, IMG_TYPE type, int exposureUs = 20000,
                okc::sim::Model model = okc::sim::Model::TAVC) {
    okc::platform::UseClock(std::make_shared<okc::platform::FastClock>(1000.0));
    sim = bus->Attach(model);
    sim->SetSceneNoise(false);
    ASSERT_TRUE(openCamera(0));
    ASSERT_TRUE(initCamera());
    ASSERT_TRUE(SetMisc(false, false));
    setValue(CTRL_EXPOSURE, exposureUs, false);
    ASSERT_TRUE(setImageFormat(width, height, bin, type));
    okc::platform::UseClock(nullptr);
  }

  CCameraTAV& Cam() { return *static_cast<CCameraTAV*>(okc::api::CurrentCamera().get()); }

  // Waits until `done` holds, checking it whenever the simulated camera takes
  // a request or sends a frame; `limitMs` of real time only guards against a hang.
  template <typename Done>
  bool WaitUntil(Done done, int limitMs = 60000) {
    return sim->WaitFor(done, static_cast<uint64_t>(limitMs));
  }

  // Vendor requests with this code received so far.
  size_t CommandCount(uint8_t code) const { return sim->VendorRequests(code).size(); }

  // The last value written to a sensor register (0xA6), or -1.
  int LastRegisterWrite(uint16_t reg) const {
    int last = -1;
    for (const auto& r : sim->VendorRequests(0xA6))
      if (r.value == reg) last = r.index;
    return last;
  }

  // The scene's noiseless 12-bit samples of the window the sensor reads now.
  std::vector<int> ExpectedWindow() const {
    const okc::sim::SimSensorState s = sim->Sensor();
    std::vector<int> samples(static_cast<size_t>(s.width) * s.height);
    for (int y = 0; y < s.height; ++y)
      for (int x = 0; x < s.width; ++x) samples[static_cast<size_t>(y) * s.width + x] = sim->ExpectedSceneValue(s.x + x, s.y + y);
    return samples;
  }

  std::shared_ptr<okc::sim::SimCamera> sim;
};

}  // namespace okc::test
