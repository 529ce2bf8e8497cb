// Every test gets its own empty store folder, and the process-wide folder choice
// goes back to the default afterwards.
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "ScratchDir.h"
#include "platform/SettingsStore.h"

class StoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(scratch_.Path().empty());
    storeDir_ = scratch_ / "store";
    okc::platform::SetSettingsDirectory(storeDir_);
  }
  void TearDown() override { okc::platform::SetSettingsDirectory(""); }

  static std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }
  static void WriteText(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
  }

  ScratchDir scratch_;
  std::string storeDir_;
};
