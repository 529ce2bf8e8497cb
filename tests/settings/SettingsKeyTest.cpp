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

}  // namespace

using SettingsKeyTest = StoreTest;

TEST_F(SettingsKeyTest, OpenFailsWithoutFileAndCreateMakesAnEmptyKey) {
  EXPECT_FALSE(SettingsKey::Open(kKey).has_value());
  EXPECT_FALSE(std::filesystem::exists(storeDir_));

  auto created = SettingsKey::Create(kKey);
  ASSERT_TRUE(created.has_value());
  EXPECT_EQ(created->ValueCount(), 0u);
  struct stat folder{};
  ASSERT_EQ(stat(storeDir_.c_str(), &folder), 0);
  EXPECT_EQ(folder.st_mode & 0777, 0700u);
  ASSERT_TRUE(created->Close());

  auto opened = SettingsKey::Open(kKey);
  ASSERT_TRUE(opened.has_value());
  EXPECT_EQ(opened->ValueCount(), 0u);
}

TEST_F(SettingsKeyTest, NumbersAndBytesSurviveReopening) {
  const int32_t exposure = 33000;
  const int8_t offset = -5;
  const bool flip = true;
  std::array<char, 256> path{};
  std::strcpy(path.data(), "/home/user/dark.bmp");
  path[255] = 'x';  // the whole buffer is kept, not just up to the terminator

  {
    auto key = SettingsKey::Create(kKey);
    ASSERT_TRUE(key.has_value());
    EXPECT_TRUE(key->SetNumber(L"Exposure", &exposure, sizeof exposure));
    EXPECT_TRUE(key->SetNumber(L"EE", &offset, sizeof offset));
    EXPECT_TRUE(key->SetBytes(L"FlipRow", &flip, sizeof flip));
    EXPECT_TRUE(key->SetBytes(L"BMPPATH", path.data(), path.size()));
    EXPECT_TRUE(key->Close());
  }
  struct stat file{};
  ASSERT_EQ(stat(SettingsFilePath(kKey).c_str(), &file), 0);
  EXPECT_EQ(file.st_mode & 0777, 0600u);

  auto key = SettingsKey::Open(kKey);
  ASSERT_TRUE(key.has_value());
  EXPECT_EQ(key->ValueCount(), 4u);
  int32_t exposureBack = 0;
  int8_t offsetBack = 0;
  bool flipBack = false;
  std::array<char, 256> pathBack{};
  EXPECT_TRUE(key->QueryNumber(L"Exposure", &exposureBack, sizeof exposureBack));
  EXPECT_TRUE(key->QueryNumber(L"EE", &offsetBack, sizeof offsetBack));
  EXPECT_TRUE(key->QueryBytes(L"FlipRow", &flipBack, sizeof flipBack));
  EXPECT_TRUE(key->QueryBytes(L"BMPPATH", pathBack.data(), pathBack.size()));
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
  EXPECT_FALSE(key->QueryNumber(L"Gain", &out8, 1));       // stored with 4 bytes
  EXPECT_FALSE(key->QueryBytes(L"Gain", &out32, 4));       // stored as a number
  EXPECT_FALSE(key->QueryNumber(L"AutoExp", &out8, 1));    // stored as bytes
  EXPECT_FALSE(key->QueryBytes(L"AutoExp", &out32, 4));    // stored with 1 byte
  EXPECT_FALSE(key->QueryNumber(L"Missing", &out32, 4));
  EXPECT_FALSE(key->QueryNumber(L"Gain", nullptr, 4));
  EXPECT_EQ(out32, 0xDEADBEEFu);
  EXPECT_EQ(out8, 0xABu);
}

TEST_F(SettingsKeyTest, NamesCompareWithoutCaseAndAValueMayChangeKind) {
  auto key = SettingsKey::Create(kKey);
  ASSERT_TRUE(key.has_value());
  const uint32_t four = 4;
  const uint8_t one = 1;
  ASSERT_TRUE(key->SetNumber(L"Gamma", &four, 4));
  uint32_t out = 0;
  EXPECT_TRUE(key->QueryNumber(L"GAMMA", &out, 4));
  EXPECT_EQ(out, 4u);
  out = 0;
  EXPECT_TRUE(key->QueryNumber("gamma", &out, 4));  // narrow names reach the same value
  EXPECT_EQ(out, 4u);

  ASSERT_TRUE(key->SetBytes(L"gamma", &one, 1));
  EXPECT_EQ(key->ValueCount(), 1u);
  EXPECT_FALSE(key->QueryNumber(L"Gamma", &out, 4));
  uint8_t byte = 0;
  EXPECT_TRUE(key->QueryBytes(L"Gamma", &byte, 1));
  EXPECT_EQ(byte, 1u);
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
  EXPECT_TRUE(key->SetBytes(L"Empty", nullptr, 0));
  ASSERT_TRUE(key->Close());
  EXPECT_FALSE(key->SetBytes(L"AfterClose", big.data(), 1));

  auto reopened = SettingsKey::Open(kKey);
  ASSERT_TRUE(reopened.has_value());
  EXPECT_EQ(reopened->ValueCount(), 2u);
  EXPECT_TRUE(reopened->QueryBytes(L"Empty", nullptr, 0));
}

TEST_F(SettingsKeyTest, UnusualValueNamesRoundTrip) {
  const std::wstring names[] = {L"with space", L"100%", L"line\nbreak", L"Bel\u00e9n \u6697", L"#hash"};
  {
    auto key = SettingsKey::Create(kKey);
    ASSERT_TRUE(key.has_value());
    uint8_t i = 0;
    for (const auto& name : names) {
      ++i;
      ASSERT_TRUE(key->SetNumber(name, &i, 1));
    }
  }  // destruction commits
  auto key = SettingsKey::Open(kKey);
  ASSERT_TRUE(key.has_value());
  EXPECT_EQ(key->ValueCount(), std::size(names));
  uint8_t expected = 0;
  for (const auto& name : names) {
    uint8_t out = 0;
    EXPECT_TRUE(key->QueryNumber(name, &out, 1));
    EXPECT_EQ(out, ++expected);
  }
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
