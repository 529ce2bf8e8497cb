// Opening the camera a command names, with the error messages every command shares.
#pragma once

#include <string>

#include "Options.h"

namespace okccam {

// Selects real or simulated cameras (--sim), finds camera --camera N (default 0),
// opens and initialises it. False with a one-line message when that fails.
// With `initialised` given, a camera that opens but cannot be initialised
// stays open (its fixed properties can be read) and *initialised says so.
bool OpenSelectedCamera(const Options& options, std::string* error, bool* initialised = nullptr);

// The colour filter pattern of a delivered raw frame of this size after the
// camera's software mirrors ("RGGB"...); empty for a monochrome camera.
std::string DeliveredBayerPattern(int width, int height);
// The pattern on the sensor, before mirroring.
std::string SensorBayerPattern();

// Whether this library streams from the model yet (the TAV and PIMC families do).
bool ModelStreams(const std::string& model);

}  // namespace okccam
