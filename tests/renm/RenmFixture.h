// A simulated RENM opened through the exported functions (support/SimCameraTest.h).
#pragma once

#include <gtest/gtest.h>

#include "okccamera/CCameraRENM.h"
#include "support/SimCameraTest.h"

namespace okc::test {

class RenmTest : public SimCameraTest {
 protected:
  void Open() { OpenModel(okc::sim::Model::RENM); }

  CCameraRENM& Cam() { return *static_cast<CCameraRENM*>(okc::api::CurrentCamera().get()); }
};

}  // namespace okc::test
