// Which simulated sensor each model's camera has.
#include "sim/SensorDescription.h"

namespace okc::sim {

const SensorDescription* SensorOf(Model model) {
  switch (model) {
    case Model::TAVC:
    case Model::TAVC_U: return &TavColourSensor();
    case Model::TAVM:
    case Model::TAVM_U: return &TavMonoSensor();
    case Model::PIMC: return &PimcSensor();
    case Model::SELC: return &SelColourSensor();
    case Model::SELM: return &SelMonoSensor();
    case Model::RENM: return &RenmSensor();
    case Model::DORC: return &DorcSensor();
    default: return nullptr;
  }
}

}  // namespace okc::sim
