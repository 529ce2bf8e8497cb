#include <cstdio>

#include "Commands.h"
#include "okccamera/okccamera.h"

namespace okccam {

int Fail(const std::string& message) {
  std::fprintf(stderr, "okccam: %s\n", message.c_str());
  return 1;
}

bool SelectCameras(const Options& options, std::string* error) {
  if (auto folder = options.Get("firmware-dir")) okcSetFirmwareFolder(folder->c_str());
  auto sim = options.Get("sim");
  if (!sim) return true;
  if (okcUseSimulatedCameras(sim->c_str()) < 0) {
    *error = "unknown model in --sim '" + *sim + "' (models: TAVM TAVC RENM SELC SELM PIMC DORC TAVM-U TAVC-U)";
    return false;
  }
  return true;
}

}  // namespace okccam
