// A simulated PIMC, SELC or SELM opened through the exported functions (support/SimCameraTest.h).
#pragma once

#include <gtest/gtest.h>

#include "okccamera/CCameraPimcFamily.h"
#include "support/SimCameraTest.h"

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

class PimcTest : public SimCameraTest {
 protected:
  void Open(const PimcModel& model) { OpenModel(model.model); }

  CCameraPimcFamily& Cam() { return *static_cast<CCameraPimcFamily*>(okc::api::CurrentCamera().get()); }
};

}  // namespace okc::test
