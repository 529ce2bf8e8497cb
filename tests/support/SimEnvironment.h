// A clean world for one test: a fresh simulated bus as the USB backend, a
// private settings folder, no open camera, and the real clock afterwards.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "okccamera/SimCameras.h"

namespace okc::test {

class SimEnvironment : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Folder that stands in for the user's settings store during this test.
  const std::string& SettingsDir() const { return settingsDir_; }
  // The firmware folder in force during this test (empty at the start).
  const std::string& FirmwareDir() const { return firmwareDir_; }
  // A fresh temporary folder removed after the test.
  std::string MakeTempDir();

  std::shared_ptr<okc::sim::SimBus> bus;

 private:
  std::string settingsDir_;
  std::string firmwareDir_;
  std::vector<std::string> tempDirs_;
};

}  // namespace okc::test
