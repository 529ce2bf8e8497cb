#include <cstdio>
#include <cstring>

#include "Commands.h"
#include "Help.h"
#include "okccamera/SimCameras.h"
#include "okccamera/UsbDriver.h"
#include "okccamera/okccamera.h"
#include "platform/SettingsStore.h"

namespace okccam {

int Fail(const std::string& message) {
  std::fprintf(stderr, "okccam: %s\n", message.c_str());
  return 1;
}

bool SelectCameras(const Options& options, std::string* error) {
  if (auto folder = options.Get("firmware-dir")) okcSetFirmwareFolder(folder->c_str());
  auto sim = options.Get("sim");
  if (!sim) {
    if (options.Has("sim-no-noise")) {
      *error = "--sim-no-noise needs --sim";
      return false;
    }
    return true;
  }
  if (okcUseSimulatedCameras(sim->c_str()) < 0) {
    *error = "unknown model in --sim '" + *sim + "' (models: TAVM TAVC RENM SELC SELM PIMC DORC TAVM-U TAVC-U)";
    return false;
  }
  // Simulated cameras keep their settings in a folder of their own, so that
  // a simulated run never changes what a real camera of the model starts with.
  const std::string store = okc::platform::SettingsDirectory();
  if (!store.empty()) okc::platform::SetSettingsDirectory(store + "/simulated");
  if (options.Has("sim-no-noise")) {
    if (auto* bus = dynamic_cast<okc::sim::SimBus*>(&okc::usb::ActiveDriver()))
      for (const auto& camera : bus->Cameras()) camera->SetSceneNoise(false);
  }
  return true;
}

bool HelpOrParse(Options& options, int argc, char** argv, const std::vector<std::string>& allowed,
                 const std::vector<std::string>& flags, std::string* error, bool* helped) {
  // Help wins over every other option, right or wrong.
  for (int i = 2; i < argc; ++i) {
    if (!std::strcmp(argv[i], "-h") || !std::strcmp(argv[i], "--help")) {
      *helped = true;
      PrintCommandHelp(argv[1]);
      return true;
    }
  }
  *helped = false;
  std::vector<std::string> allFlags = flags;
  allFlags.push_back("sim-no-noise");
  return options.Parse(argc, argv, allowed, error, allFlags);
}

}  // namespace okccam
