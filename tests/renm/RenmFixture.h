// A simulated RENM opened through the exported functions.
//
// Opening and initialising run under a fast clock; streaming then runs on
// the real clock unless a test installs another. The scene's noise is off,
// so frames can be compared with the scene's expected values.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "api/CameraState.h"
#include "okccamera/CCameraRENM.h"
#include "okccamera/Clock.h"
#include "okccamera/okccamera.h"
#include "support/SimEnvironment.h"

namespace okc::test {

class RenmTest : public SimEnvironment {
 protected:
  void Open() {
    okc::platform::UseClock(std::make_shared<okc::platform::FastClock>(1000.0));
    sim = bus->Attach(okc::sim::Model::RENM);
    sim->SetSceneNoise(false);
    ASSERT_TRUE(openCamera(0));
    ASSERT_TRUE(initCamera());
    okc::platform::UseClock(nullptr);
  }

  CCameraRENM& Cam() { return *static_cast<CCameraRENM*>(okc::api::CurrentCamera().get()); }

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
  size_t CommandCount(uint8_t code) const { return sim->VendorRequests(code).size(); }

  template <typename Done>
  bool WaitUntil(Done done, int limitMs = 60000) {
    return sim->WaitFor(done, static_cast<uint64_t>(limitMs));
  }

  std::shared_ptr<okc::sim::SimCamera> sim;
};

}  // namespace okc::test
