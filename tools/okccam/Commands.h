// The okccam commands; each returns the process exit code.
#pragma once

#include <string>
#include <vector>

#include "Options.h"

namespace okccam {

// Applies --sim and --firmware-dir when given; false with a message when a model name is unknown.
bool SelectCameras(const Options& options, std::string* error);
// Parses a command's options (--sim-no-noise added to `flags`); with -h or
// --help prints the command's help and sets *helped instead. False with a
// message when the options are wrong.
bool HelpOrParse(Options& options, int argc, char** argv, const std::vector<std::string>& allowed,
                 const std::vector<std::string>& flags, std::string* error, bool* helped);
// Prints "okccam: message" to standard error and returns the exit code for errors.
int Fail(const std::string& message);

int RunList(int argc, char** argv);
int RunInfo(int argc, char** argv);
int RunCapture(int argc, char** argv);
int RunGuide(int argc, char** argv);
int RunFirmware(int argc, char** argv);
int RunHotPixels(int argc, char** argv);

}  // namespace okccam
