// Several processes saving one model's settings at once, and saves killed half-way.
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "StoreFixture.h"

using okc::platform::SettingsFilePath;
using okc::platform::SettingsKey;

namespace fs = std::filesystem;

namespace {

constexpr wchar_t kKey[] = L"SOFTWARE\\OKCTAVC";

size_t TemporaryFiles(const std::string& dir) {
  size_t count = 0;
  for (const auto& entry : fs::directory_iterator(dir))
    if (entry.path().filename().string().find(".tmp-") != std::string::npos) ++count;
  return count;
}

// Each writer holds the key open from the start, as a camera does, and commits one new
// value per round: its in-memory copy never contains what the other process saved.
[[noreturn]] void SaveInALoop(char writer, int rounds) {
  auto key = SettingsKey::Create(kKey);
  if (!key) _exit(2);
  for (uint32_t i = 0; i < static_cast<uint32_t>(rounds); ++i) {
    const std::string name = std::string(1, writer) + std::to_string(i);
    const uint32_t last = i;
    if (!key->SetNumber(name, &i, 4) || !key->SetNumber(std::string("Last") + writer, &last, 4)) _exit(3);
    if (!key->Commit()) _exit(4);
  }
  _exit(0);
}

}  // namespace

using SettingsProcessesTest = StoreTest;

TEST_F(SettingsProcessesTest, TwoProcessesSavingOneModelKeepEveryValue) {
  constexpr int kRounds = 150;
  ASSERT_TRUE(SettingsKey::Create(kKey).has_value());
  pid_t writers[2];
  for (int w = 0; w < 2; ++w) {
    writers[w] = fork();
    ASSERT_GE(writers[w], 0);
    if (writers[w] == 0) SaveInALoop(w == 0 ? 'A' : 'B', kRounds);
  }
  for (pid_t pid : writers) {
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
  }

  auto key = SettingsKey::Open(kKey);
  ASSERT_TRUE(key.has_value());
  EXPECT_EQ(key->ValueCount(), 2u * kRounds + 2u);
  for (char writer : {'A', 'B'}) {
    int missing = 0;
    for (uint32_t i = 0; i < kRounds; ++i) {
      uint32_t value = 0xFFFFFFFF;
      if (!key->QueryNumber(std::string(1, writer) + std::to_string(i), &value, 4) || value != i) ++missing;
    }
    EXPECT_EQ(missing, 0) << "writer " << writer;
    uint32_t last = 0;
    EXPECT_TRUE(key->QueryNumber(std::string("Last") + writer, &last, 4));
    EXPECT_EQ(last, kRounds - 1u);
  }
  EXPECT_EQ(TemporaryFiles(storeDir_), 0u);
}

TEST_F(SettingsProcessesTest, TemporaryFilesOfKilledSavesGoAtTheNextSave) {
  ASSERT_TRUE(SettingsKey::Create(kKey).has_value());
  const std::string path = SettingsFilePath(kKey);
  const std::string otherKey = SettingsFilePath(L"SOFTWARE\\OKCTAVM");
  for (const char* suffix : {".tmp-a1B2c3", ".tmp-XXXXXX", ".tmp-"}) WriteText(path + suffix, "number 4 7 Gain\n");
  WriteText(otherKey + ".tmp-q9Q9q9", "");  // another key's: left to that key's next save

  // Kill a process that saves without pause at some point of its loop.
  const pid_t saver = fork();
  ASSERT_GE(saver, 0);
  if (saver == 0) SaveInALoop('K', 1 << 30);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  ASSERT_EQ(kill(saver, SIGKILL), 0);
  ASSERT_EQ(waitpid(saver, nullptr, 0), saver);

  auto key = SettingsKey::Open(kKey);
  ASSERT_TRUE(key.has_value());
  uint32_t gain = 5;
  ASSERT_TRUE(key->SetNumber("Gain", &gain, 4));
  ASSERT_TRUE(key->Commit());
  EXPECT_EQ(TemporaryFiles(storeDir_), 1u);
  EXPECT_TRUE(fs::exists(otherKey + ".tmp-q9Q9q9"));
  uint32_t stored = 0;
  EXPECT_TRUE(SettingsKey::Open(kKey)->QueryNumber("Gain", &stored, 4));
  EXPECT_EQ(stored, 5u);
}

// A FIFO, device or folder where a key's file belongs is refused at once and left alone.
TEST_F(SettingsProcessesTest, KeyFilesThatAreNoRegularFilesAreRefusedWithoutBlocking) {
  ASSERT_TRUE(fs::create_directories(storeDir_));
  const std::string path = SettingsFilePath(kKey);
  struct Case {
    const char* what;
    bool (*make)(const std::string&);
  };
  const Case cases[] = {
      {"fifo", [](const std::string& p) { return mkfifo(p.c_str(), 0600) == 0; }},
      {"folder", [](const std::string& p) { return fs::create_directory(p); }},
      {"device", [](const std::string& p) { return symlink("/dev/zero", p.c_str()) == 0; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(c.make(path));
    EXPECT_FALSE(SettingsKey::Open(kKey).has_value());
    EXPECT_FALSE(SettingsKey::Create(kKey).has_value());
    const fs::file_status kept = fs::symlink_status(path);
    EXPECT_FALSE(fs::is_regular_file(kept));  // never replaced by a save
    fs::remove(path);
  }
}
