// A simulated DORC opened through the exported functions (support/SimCameraTest.h).
#pragma once

#include <gtest/gtest.h>

#include "okccamera/CCameraDORC.h"
#include "support/SimCameraTest.h"

namespace okc::test {

class DorcTest : public SimCameraTest {
 protected:
  void Attach(uint8_t firmwareVersion = 3) {
    okc::sim::SimDeviceOptions options;
    options.model = okc::sim::Model::DORC;
    options.firmwareVersion = firmwareVersion;
    SimCameraTest::Attach(options);
  }
  void Open() {
    Attach();
    ASSERT_TRUE(OpenAttached());
  }

  CCameraDORC& Cam() { return *static_cast<CCameraDORC*>(okc::api::CurrentCamera().get()); }
};

}  // namespace okc::test
