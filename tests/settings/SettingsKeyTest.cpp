// Values written through a key come back with their kind and size; queries that do
// not match leave the caller's variable alone.
#include <sys/stat.h>

#include <array>
#include <cstring>
#include <filesystem>

#include "StoreFixture.h"

using okc::platform::SettingsFilePath;
using okc::platform::SettingsKey;

namespace {

constexpr wchar_t kKey[] = L"SOFTWARE\\OKCTAVC";

mode_t Permissions(const std::string& path) {
  struct stat info{};
  return stat(path.c_str(), &info) == 0 ? info.st_mode & 0777 : 0;
}

}  // namespace

using SettingsKeyTest = StoreTest;

// Value names with spaces, escapes, line breaks and non-ASCII letters survive too.
TEST_F(SettingsKeyTest, NumbersAndBytesOfEverySizeSurviveReopening) {
  EXPECT_FALSE(SettingsKey::Open(kKey).has_value());
  EXPECT_FALSE(std::filesystem::exists(storeDir_));
  const int32_t exposure = 33000;
  const int8_t offset = -5;
  const bool flip = true;
  std::array<char, 256> path{};
  std::strcpy(path.data(), "/home/user/dark.bmp");
  path[255] = 'x';  // the whole buffer is kept, not just up to the terminator
  {
    auto key = SettingsKey::Create(kKey);
    ASSERT_TRUE(key.has_value());
    EXPECT_EQ(key->ValueCount(), 0u);
    EXPECT_TRUE(key->SetNumber(L"Exposure 100%", &exposure, sizeof exposure));
    EXPECT_TRUE(key->SetNumber(L"line\nbreak", &offset, sizeof offset));
    EXPECT_TRUE(key->SetBytes(L"Bel\u00e9n \u6697", &flip, sizeof flip));
    EXPECT_TRUE(key->SetBytes(L"#BMPPATH", path.data(), path.size()));
    EXPECT_TRUE(key->SetBytes(L"Empty", nullptr, 0));
  }  // destruction commits
  EXPECT_EQ(Permissions(storeDir_), 0700u);
  EXPECT_EQ(Permissions(SettingsFilePath(kKey)), 0600u);

  auto key = SettingsKey::Open(kKey);
  ASSERT_TRUE(key.has_value());
  EXPECT_EQ(key->ValueCount(), 5u);
  int32_t exposureBack = 0;
  int8_t offsetBack = 0;
  bool flipBack = false;
  std::array<char, 256> pathBack{};
  EXPECT_TRUE(key->QueryNumber(L"Exposure 100%", &exposureBack, sizeof exposureBack));
  EXPECT_TRUE(key->QueryNumber(L"line\nbreak", &offsetBack, sizeof offsetBack));
  EXPECT_TRUE(key->QueryBytes(L"Bel\u00e9n \u6697", &flipBack, sizeof flipBack));
  EXPECT_TRUE(key->QueryBytes(L"#BMPPATH", pathBack.data(), pathBack.size()));
  EXPECT_TRUE(key->QueryBytes(L"Empty", nullptr, 0));
  EXPECT_EQ(exposureBack, 33000);
  EXPECT_EQ(offsetBack, -5);
  EXPECT_TRUE(flipBack);
  EXPECT_EQ(pathBack, path);
}

TEST_F(SettingsKeyTest, MismatchedQueriesLeaveTheOutputUntouched) {
  auto key = SettingsKey::Create(kKey);
  ASSERT_TRUE(key.has_value());
  const uint32_t gain = 77;
  const uint8_t flag = 1;
  ASSERT_TRUE(key->SetNumber(L"Gain", &gain, 4));
  ASSERT_TRUE(key->SetBytes(L"AutoExp", &flag, 1));
  uint32_t out32 = 0xDEADBEEF;
  uint8_t out8 = 0xAB;
  EXPECT_FALSE(key->QueryNumber(L"Gain", &out8, 1));     // stored with 4 bytes
  EXPECT_FALSE(key->QueryBytes(L"Gain", &out32, 4));     // stored as a number
  EXPECT_FALSE(key->QueryNumber(L"AutoExp", &out8, 1));  // stored as bytes
  EXPECT_FALSE(key->QueryBytes(L"AutoExp", &out32, 4));  // stored with 1 byte
  EXPECT_FALSE(key->QueryNumber(L"Missing", &out32, 4));
  EXPECT_FALSE(key->QueryNumber(L"Gain", nullptr, 4));
  EXPECT_EQ(out32, 0xDEADBEEFu);
  EXPECT_EQ(out8, 0xABu);
  // Names ignore case, narrow names reach the same value, and a value may change kind.
  EXPECT_TRUE(key->QueryNumber("gAIN", &out32, 4));
  EXPECT_EQ(out32, 77u);
  ASSERT_TRUE(key->SetBytes(L"gain", &flag, 1));
  EXPECT_EQ(key->ValueCount(), 2u);
  EXPECT_FALSE(key->QueryNumber(L"Gain", &out32, 4));
  EXPECT_TRUE(key->QueryBytes(L"GAIN", &out8, 1));
  EXPECT_EQ(out8, 1u);
}

TEST_F(SettingsKeyTest, InvalidWritesAreRefusedAndChangeNothing) {
  auto key = SettingsKey::Create(kKey);
  ASSERT_TRUE(key.has_value());
  const std::array<uint8_t, SettingsKey::kMaxBytesSize + 1> big{};
  EXPECT_FALSE(key->SetNumber(L"Zero", big.data(), 0));
  EXPECT_FALSE(key->SetNumber(L"Nine", big.data(), 9));
  EXPECT_FALSE(key->SetNumber(L"Null", nullptr, 4));
  EXPECT_FALSE(key->SetBytes(L"Huge", big.data(), big.size()));
  EXPECT_FALSE(key->SetBytes(L"", big.data(), 1));
  EXPECT_FALSE(key->SetBytes(std::wstring(SettingsKey::kMaxNameLength + 1, L'n'), big.data(), 1));
  EXPECT_EQ(key->ValueCount(), 0u);
  EXPECT_TRUE(key->SetBytes(L"Largest", big.data(), SettingsKey::kMaxBytesSize));
  ASSERT_TRUE(key->Close());
  EXPECT_FALSE(key->SetBytes(L"AfterClose", big.data(), 1));
  EXPECT_EQ(SettingsKey::Open(kKey)->ValueCount(), 1u);
}

TEST_F(SettingsKeyTest, CommitsMergeWithWhatOthersSavedMeanwhile) {
  auto first = SettingsKey::Create(kKey);
  auto second = SettingsKey::Open(kKey);
  ASSERT_TRUE(first && second);
  const uint32_t a = 1, b = 2;
  ASSERT_TRUE(first->SetNumber(L"A", &a, 4));
  ASSERT_TRUE(second->SetNumber(L"B", &b, 4));
  EXPECT_EQ(SettingsKey::Open(kKey)->ValueCount(), 0u);  // nothing reaches the file before a commit
  ASSERT_TRUE(first->Commit());
  ASSERT_TRUE(second->Commit());
  // The later commit keeps the earlier one's value, as separate registry writes would.
  uint32_t out = 0;
  EXPECT_TRUE(second->QueryNumber(L"A", &out, 4));
  EXPECT_EQ(SettingsKey::Open(kKey)->ValueCount(), 2u);
}
