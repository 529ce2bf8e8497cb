#include "support/SimEnvironment.h"

#include <cstdlib>
#include <filesystem>

#include "api/CameraState.h"
#include "okccamera/Clock.h"
#include "okccamera/okccamera.h"
#include "platform/FirmwareFolder.h"
#include "platform/SettingsStore.h"

namespace okc::test {

std::string SimEnvironment::MakeTempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "okc-test-XXXXXX").string();
  char* made = mkdtemp(pattern.data());
  if (!made) throw std::runtime_error("mkdtemp failed");
  tempDirs_.push_back(made);
  return made;
}

void SimEnvironment::SetUp() {
  settingsDir_ = MakeTempDir();
  okc::platform::SetSettingsDirectory(settingsDir_);
  // No test reads firmware installed on the machine: the folder starts empty.
  firmwareDir_ = MakeTempDir();
  okc::platform::SetFirmwareFolder(firmwareDir_);
  bus = okc::sim::InstallSimulator();
  okc::api::ForgetEnumeration();
}

void SimEnvironment::TearDown() {
  closeCamera();
  okc::api::ForgetEnumeration();
  okc::sim::RemoveSimulator();
  bus.reset();
  okc::platform::UseClock(nullptr);
  okc::platform::SetSettingsDirectory("");
  okc::platform::SetFirmwareFolder("");
  std::error_code ignored;
  for (const auto& dir : tempDirs_) std::filesystem::remove_all(dir, ignored);
}

}  // namespace okc::test
