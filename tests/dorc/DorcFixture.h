// A simulated DORC opened through the exported functions, with helpers that
// read the simulator's request log.
//
// Opening and initialising run under a fast clock; streaming then runs on the
// real clock. The scene's noise is off, so frames can be compared with the
// scene's expected values.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "api/CameraState.h"
#include "okccamera/CCameraDORC.h"
#include "okccamera/Clock.h"
#include "okccamera/okccamera.h"
#include "support/SimEnvironment.h"

namespace okc::test {

class DorcTest : public SimEnvironment {
 protected:
  void Attach(uint8_t firmwareVersion = 3) {
    okc::sim::SimDeviceOptions options;
    options.model = okc::sim::Model::DORC;
    options.firmwareVersion = firmwareVersion;
    sim = bus->Attach(options);
    sim->SetSceneNoise(false);
  }
  // Opens (and initialises when asked) the attached camera under a fast clock.
  bool OpenAttached(bool init = true) {
    okc::platform::UseClock(std::make_shared<okc::platform::FastClock>(1000.0));
    bool ok = openCamera(0);
    if (ok && init) ok = initCamera();
    okc::platform::UseClock(nullptr);
    return ok;
  }
  void Open() {
    Attach();
    ASSERT_TRUE(OpenAttached());
  }

  CCameraDORC& Cam() { return *static_cast<CCameraDORC*>(okc::api::CurrentCamera().get()); }

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
  size_t CommandCount(uint8_t code) const { return sim->VendorRequests(code).size(); }
  size_t ReadCount(uint16_t reg) const {
    size_t n = 0;
    for (const auto& r : sim->VendorRequests(0xA7)) n += r.value == reg;
    return n;
  }

  std::shared_ptr<okc::sim::SimCamera> sim;
};

}  // namespace okc::test
