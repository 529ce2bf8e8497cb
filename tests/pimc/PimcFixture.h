// A simulated PIMC, SELC or SELM opened through the exported functions.
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
#include "okccamera/CCameraPimcFamily.h"
#include "okccamera/Clock.h"
#include "okccamera/okccamera.h"
#include "support/SimEnvironment.h"

namespace okc::test {

// One model of the family and what differs between them.
struct PimcModel {
  okc::sim::Model model;
  const char* name;
  int width;
  bool colour;
  int clockMhz;       // the default clock of the exposure arithmetic
  int minBlanking;    // shortest horizontal blanking
  friend std::ostream& operator<<(std::ostream& os, const PimcModel& m) { return os << m.name; }
};

inline const PimcModel kPimc{okc::sim::Model::PIMC, "PIMC", 640, true, 24, 94};
inline const PimcModel kSelc{okc::sim::Model::SELC, "SELC", 752, true, 30, 61};
inline const PimcModel kSelm{okc::sim::Model::SELM, "SELM", 752, false, 30, 61};

class PimcTest : public SimEnvironment {
 protected:
  void Open(const PimcModel& model) {
    okc::platform::UseClock(std::make_shared<okc::platform::FastClock>(1000.0));
    sim = bus->Attach(model.model);
    sim->SetSceneNoise(false);
    ASSERT_TRUE(openCamera(0));
    ASSERT_TRUE(initCamera());
    okc::platform::UseClock(nullptr);
  }

  CCameraPimcFamily& Cam() { return *static_cast<CCameraPimcFamily*>(okc::api::CurrentCamera().get()); }

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
