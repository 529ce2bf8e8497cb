// The colour filter pattern of the open camera, by name ("RGGB", ...).
#pragma once

#include <string>

namespace okccam {

// The pattern of a delivered raw frame of this size after the camera's
// software mirrors; empty for a monochrome camera.
std::string DeliveredBayerPattern(int width, int height);
// The pattern on the sensor, before mirroring.
std::string SensorBayerPattern();

}  // namespace okccam
