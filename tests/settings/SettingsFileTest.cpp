// The store on disk: damaged files, interrupted saves, where the files go and what
// becomes of odd key names.
#include <sys/resource.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <optional>
#include <random>
#include <set>
#include <string>

#include "StoreFixture.h"

using okc::platform::SetSettingsDirectory;
using okc::platform::SettingsDirectory;
using okc::platform::SettingsFilePath;
using okc::platform::SettingsKey;

namespace fs = std::filesystem;

namespace {

constexpr wchar_t kKey[] = L"SOFTWARE\\OKCDORC";

uint32_t Number(const SettingsKey& key, const wchar_t* name, uint32_t missing = 0xFFFFFFFF) {
  uint32_t value = missing;
  key.QueryNumber(name, &value, 4);
  return value;
}

size_t FileCount(const std::string& dir) {
  return static_cast<size_t>(std::distance(fs::directory_iterator(dir), fs::directory_iterator()));
}

// Restores an environment variable when the test ends.
class EnvGuard {
 public:
  explicit EnvGuard(const char* name) : name_(name) {
    if (const char* value = std::getenv(name)) saved_ = value;
  }
  ~EnvGuard() {
    if (saved_) setenv(name_, saved_->c_str(), 1);
    else unsetenv(name_);
  }

 private:
  const char* name_;
  std::optional<std::string> saved_;
};

}  // namespace

using SettingsFileTest = StoreTest;

TEST_F(SettingsFileTest, DamagedLinesAreSkippedAndGoodOnesKept) {
  ASSERT_TRUE(fs::create_directories(storeDir_));
  WriteText(SettingsFilePath(kKey),
            "# comment\n"
            "number 4 1 Good1\n"
            "number 4 2 Good1\n"                     // duplicate: the first line wins
            "number 1 256 TooBigForSize\n"
            "number 9 1 NumberTooWide\n"
            "number 0 0 NumberEmpty\n"
            "number 4 -1 Negative\n"
            "number 4 0x10 HexNumber\n"
            "number 99999999999999999999999 1 AbsurdSize\n"
            "bytes 5000 00 BytesTooLong\n"
            "bytes 2 0g BadHex\n"
            "bytes 2 012 OddHex\n"
            "bytes 0 00 EmptyWithData\n"
            "string 4 1 UnknownKind\n"
            "number 4 1 Extra Field\n"
            "number 4  1 DoubleSpace\n"
            "number 4 1 Bad%zzEscape\n"
            "number 4 1 NotCanonical%u00000041\n"
            "number 4 1 \n"
            "\n"
            "bytes 2 AbCd Good2\r\n"
            "number 1 255 Good3\n"
            "number 4 7 CutShort");                  // no newline: the save was cut short
  auto key = SettingsKey::Open(kKey);
  ASSERT_TRUE(key.has_value());
  EXPECT_EQ(key->ValueCount(), 3u);
  EXPECT_EQ(Number(*key, L"Good1"), 1u);
  uint8_t bytes[2] = {}, one = 0;
  EXPECT_TRUE(key->QueryBytes(L"Good2", bytes, 2));
  EXPECT_EQ(bytes[0] << 8 | bytes[1], 0xABCD);
  EXPECT_TRUE(key->QueryNumber(L"Good3", &one, 1));
  EXPECT_EQ(one, 255);
  EXPECT_EQ(Number(*key, L"CutShort"), 0xFFFFFFFFu);
}

// Random bytes, and random text made of the format's own words: loading never breaks.
TEST_F(SettingsFileTest, GarbageFilesNeverBreakLoading) {
  ASSERT_TRUE(fs::create_directories(storeDir_));
  std::mt19937 random(1234);
  using namespace std::string_literals;
  const std::string alphabet = "number bytes 0123456789abcdef%u -\n\r\t\0#NAME"s;
  for (int round = 0; round < 200; ++round) {
    std::string text(random() % 400, '\0');
    for (char& c : text) c = (round % 2) ? alphabet[random() % alphabet.size()] : static_cast<char>(random());
    WriteText(SettingsFilePath(kKey), text);
    auto key = SettingsKey::Open(kKey);
    ASSERT_TRUE(key.has_value());
    uint8_t out[8];
    key->QueryBytes(L"NAME", out, sizeof out);
  }
}

// Neither what a killed save left behind nor a save failing half-way damages the store.
TEST_F(SettingsFileTest, InterruptedSavesKeepThePreviousStore) {
  {
    auto key = SettingsKey::Create(kKey);
    const uint32_t gain = 42;
    key->SetNumber(L"Gain", &gain, 4);
  }
  const std::string path = SettingsFilePath(kKey);
  const std::string before = ReadText(path);
  WriteText(path + ".tmp-Ab12Cd", "number 4 99 Gain\nnumber 4 1 Ex");  // killed before its rename
  auto key = SettingsKey::Open(kKey);
  ASSERT_TRUE(key.has_value());
  EXPECT_EQ(key->ValueCount(), 1u);
  EXPECT_EQ(Number(*key, L"Gain"), 42u);
  const uint32_t gain = 60;
  key->SetNumber(L"Gain", &gain, 4);

  // A file size limit makes the write fail half-way, even for root.
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit tiny = saved;
  tiny.rlim_cur = 8;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &tiny), 0);
  const bool committed = key->Commit();
  setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, oldHandler);

  EXPECT_FALSE(committed);
  EXPECT_EQ(ReadText(path), before);
  EXPECT_EQ(FileCount(storeDir_), 1u);  // the old leftover was removed, and the new temporary file is gone
  ASSERT_TRUE(key->Commit());  // the change is still pending
  EXPECT_EQ(Number(*SettingsKey::Open(kKey), L"Gain"), 60u);
}

TEST_F(SettingsFileTest, OverrideChoosesTheFolderAndEmptyRestoresTheDefault) {
  const std::string other = scratch_ + "/other";
  ASSERT_TRUE(SettingsKey::Create(kKey).has_value());
  SetSettingsDirectory(other);
  EXPECT_EQ(SettingsDirectory(), other);
  EXPECT_FALSE(SettingsKey::Open(kKey).has_value());
  ASSERT_TRUE(SettingsKey::Create(kKey).has_value());
  EXPECT_EQ(fs::path(SettingsFilePath(kKey)).parent_path(), fs::path(other));

  EnvGuard xdg("XDG_CONFIG_HOME");
  EnvGuard home("HOME");
  SetSettingsDirectory("");
  setenv("XDG_CONFIG_HOME", "/xdg/config", 1);
  EXPECT_EQ(SettingsDirectory(), "/xdg/config/okccamera");
  setenv("XDG_CONFIG_HOME", "relative/config", 1);  // not absolute: ignored
  setenv("HOME", "/home/someone", 1);
  EXPECT_EQ(SettingsDirectory(), "/home/someone/.config/okccamera");
  unsetenv("XDG_CONFIG_HOME");
  EXPECT_EQ(SettingsDirectory(), "/home/someone/.config/okccamera");
}

TEST_F(SettingsFileTest, OddKeyNamesStayInsideTheStoreFolder) {
  const std::wstring keys[] = {L"..\\..\\etc\\passwd", L"../../escape", L"/absolute", L"\\", L"..",
                               L"SOFTWARE\\OKC TAVC \u00fc", L"a.b", L"a\\b", L"a_2eb"};
  std::set<std::string> files;
  for (const auto& key : keys) {
    const std::string path = SettingsFilePath(key);
    ASSERT_FALSE(path.empty());
    EXPECT_EQ(fs::path(path).parent_path(), fs::path(storeDir_));
    EXPECT_EQ(fs::path(path).filename().string().find('/'), std::string::npos);
    ASSERT_TRUE(SettingsKey::Create(key).has_value());
    files.insert(path);
  }
  EXPECT_EQ(files.size(), std::size(keys));  // no two keys share a file
  EXPECT_EQ(FileCount(storeDir_), std::size(keys));

  // Keys, like registry keys, ignore case.
  EXPECT_EQ(SettingsFilePath(L"software\\okctavc"), SettingsFilePath(L"SOFTWARE\\OKCTAVC"));
  EXPECT_EQ(fs::path(SettingsFilePath(L"SOFTWARE\\OKCTAVC-U")).filename(), "software.okctavc-u.conf");

  EXPECT_EQ(SettingsFilePath(L""), "");
  EXPECT_FALSE(SettingsKey::Create(L"").has_value());
  EXPECT_FALSE(SettingsKey::Create(std::wstring(300, L'k')).has_value());
}
