// Opening the camera a command names, with the error messages every command shares.
#pragma once

#include <string>

#include "Options.h"
#include "tools/common/BayerPattern.h"

namespace okccam {

// Selects real or simulated cameras (--sim), finds camera --camera N (default 0),
// opens and initialises it. False with a one-line message when that fails.
// With `initialised` given, a camera that opens but cannot be initialised
// stays open (its fixed properties can be read) and *initialised says so.
bool OpenSelectedCamera(const Options& options, std::string* error, bool* initialised = nullptr);

}  // namespace okccam
