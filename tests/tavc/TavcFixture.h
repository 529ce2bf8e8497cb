// A TAV-family camera object (TAVC unless a test attaches another model) on a
// simulated bus, with a fast clock so the sensor's settle times pass quickly.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "okccamera/CCameraTAVC.h"
#include "okccamera/CCameraTAVC_U.h"
#include "okccamera/CCameraTAVM.h"
#include "okccamera/CCameraTAVM_U.h"
#include "okccamera/Clock.h"
#include "okccamera/SimCameras.h"
#include "platform/SettingsStore.h"
#include "support/SimEnvironment.h"

namespace okc::test {

using RegisterWrite = std::pair<uint16_t, uint16_t>;
using Values = std::vector<uint16_t>;

class TavcTest : public SimEnvironment {
 protected:
  void SetUp() override {
    SimEnvironment::SetUp();
    okc::platform::UseClock(std::make_shared<okc::platform::FastClock>(1000.0));
  }
  void TearDown() override {
    camera_.reset();
    SimEnvironment::TearDown();
  }

  // Attaches a camera of the options' model (TAVC by default) and builds its camera object (closed).
  void Attach(okc::sim::SimDeviceOptions options = {}) {
    sim_ = bus->Attach(options);
    switch (options.model) {
      case okc::sim::Model::TAVM: camera_ = std::make_unique<CCameraTAVM>(); break;
      case okc::sim::Model::TAVC_U: camera_ = std::make_unique<CCameraTAVC_U>(); break;
      case okc::sim::Model::TAVM_U: camera_ = std::make_unique<CCameraTAVM_U>(); break;
      default: camera_ = std::make_unique<CCameraTAVC>(); break;
    }
  }

  // Attaches, opens, initialises and sets the window, then forgets the requests seen so far.
  void OpenAt(int width, int height, int bin = 1, IMAGE_TYPE type = IMAGE_8BIT,
              okc::sim::Model model = okc::sim::Model::TAVC) {
    okc::sim::SimDeviceOptions options;
    options.model = model;
    Attach(options);
    ASSERT_TRUE(camera_->OpenCamera(1));
    ASSERT_TRUE(camera_->InitCamera());
    ASSERT_TRUE(camera_->SetResolution(width, height, bin, type));
    sim_->ClearRequests();
  }

  // Sensor register writes (0xA6) in arrival order.
  std::vector<RegisterWrite> Writes() const {
    std::vector<RegisterWrite> out;
    for (const auto& r : sim_->VendorRequests(0xA6)) out.emplace_back(r.value, r.index);
    return out;
  }

  // Current values of the sensor registers at `addresses`, in that order.
  std::vector<uint16_t> Registers(std::initializer_list<uint16_t> addresses) const {
    std::vector<uint16_t> out;
    for (uint16_t a : addresses) out.push_back(sim_->Register(a));
    return out;
  }

  // The window start the camera reports.
  std::pair<int, int> StartPos() const {
    int x = -1, y = -1;
    camera_->GetStartPos(&x, &y);
    return {x, y};
  }

  // Codes of the vendor requests other than register access, in order.
  std::vector<uint8_t> Commands() const {
    std::vector<uint8_t> out;
    for (const auto& r : sim_->VendorRequests())
      if (r.request != 0xA6 && r.request != 0xA7) out.push_back(r.request);
    return out;
  }

  std::shared_ptr<okc::sim::SimCamera> sim_;
  std::unique_ptr<CCameraTAV> camera_;
};

}  // namespace okc::test
