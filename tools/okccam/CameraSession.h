// Opening the camera a command names, with the error messages every command shares.
#pragma once

#include <string>

#include "Options.h"

namespace okccam {

// Selects real or simulated cameras (--sim), finds camera --camera N (default 0),
// opens and initialises it. False with a one-line message when that fails.
bool OpenSelectedCamera(const Options& options, std::string* error);

}  // namespace okccam
