// Stored settings and dark-frame files as a camera object sees them.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <vector>

#include "api/CameraState.h"
#include "imaging/BmpFile.h"
#include "platform/SettingsStore.h"
#include "support/SimEnvironment.h"

namespace {

constexpr wchar_t kTavcKey[] = L"SOFTWARE\\OKCTAVC";
constexpr uint16_t kTavc = 0x6102;

class CameraSettings : public okc::test::SimEnvironment {
 protected:
  std::unique_ptr<CCameraBase> NewTavc() { return okc::api::CreateCameraForProduct(kTavc, nullptr); }

  std::string WriteDarkBmp(int w, int h, uint8_t value) {
    const std::string path = MakeTempDir() + "/dark.bmp";
    std::vector<uint8_t> pixels(static_cast<size_t>(w) * h, value);
    pixels[5] = value + 40;  // one warm pixel
    EXPECT_TRUE(okc::imaging::WriteGreyBmp(path.c_str(), w, h, pixels.data()));
    return path;
  }
};

TEST_F(CameraSettings, FirstSaveWritesTwentySevenValues) {
  auto cam = NewTavc();
  cam->SaveSetting(kTavcKey);
  auto key = okc::platform::SettingsKey::Open(kTavcKey);
  ASSERT_TRUE(key);
  EXPECT_EQ(key->ValueCount(), 27u);
  int32_t percent = 0;
  EXPECT_TRUE(key->QueryNumber("FPSPercentageUSB2", &percent, 4));
  EXPECT_EQ(percent, 80);
  EXPECT_FALSE(key->QueryNumber("FPSPercentageUSB3", &percent, 4));
  int8_t offset = 0;
  EXPECT_TRUE(key->QueryNumber("OO", &offset, 1));  // black level kept by every model
  char path[256];
  EXPECT_TRUE(key->QueryBytes("BMPPATH", path, 256));
}

TEST_F(CameraSettings, ValuesComeBackInTheNextObject) {
  auto cam = NewTavc();
  cam->exposure = 123456;
  cam->gain = 77;
  cam->gamma = 61;
  cam->brightness = 9;
  cam->cmosClk = 80;
  cam->wbRed = 10;
  cam->wbBlue = 90;
  cam->flipRow = false;
  cam->flipColumn = true;
  cam->autoExp = cam->autoGain = cam->autoWB = true;
  cam->autoFps = false;
  cam->rawOutput = true;
  cam->hpcEnabled = true;
  cam->autoGainMax = 42;
  cam->autoExpMax = 500;
  cam->destBrightness = 140;
  cam->blackLevelEE = -3;
  cam->fpsPercent = 55;
  std::strcpy(cam->bmpPath, "/nowhere/dark.bmp");
  cam->SaveSetting(kTavcKey);

  auto next = NewTavc();
  EXPECT_EQ(next->exposure, 123456u);
  EXPECT_EQ(next->gain, 77);
  EXPECT_EQ(next->gamma, 61);
  EXPECT_EQ(next->brightness, 9);
  EXPECT_EQ(next->cmosClk, 80);
  EXPECT_EQ(next->wbRed, 10);
  EXPECT_EQ(next->wbBlue, 90);
  EXPECT_FALSE(next->flipRow);
  EXPECT_TRUE(next->flipColumn);
  EXPECT_TRUE(next->autoExp && next->autoGain && next->autoWB);
  EXPECT_FALSE(next->autoFps);
  EXPECT_TRUE(next->rawOutput);
  EXPECT_TRUE(next->hpcEnabled);
  EXPECT_EQ(next->autoGainMax, 42);
  EXPECT_EQ(next->autoExpMax, 500);
  EXPECT_EQ(next->destBrightness, 140);
  EXPECT_EQ(next->blackLevelEE, -3);
  EXPECT_EQ(next->fpsPercent, 55);
  EXPECT_STREQ(next->bmpPath, "/nowhere/dark.bmp");
  EXPECT_FALSE(next->useDark);
}

TEST_F(CameraSettings, OnlyTheLowThirtyTwoBitsOfTheExposureSurvive) {
  auto cam = NewTavc();
  cam->exposure = 0x100000000ull + 5000;
  cam->SaveSetting(kTavcKey);
  auto next = NewTavc();
  EXPECT_EQ(next->exposure, 5000u);
}

TEST_F(CameraSettings, Usb3PercentageHasItsOwnName) {
  auto cam = okc::api::CreateCameraForProduct(0x6104, nullptr);  // TAVC-U
  cam->usb3Host = true;
  cam->fpsPercent = 97;
  cam->SaveSetting(L"SOFTWARE\\OKCTAVC-U");
  auto key = okc::platform::SettingsKey::Open(L"SOFTWARE\\OKCTAVC-U");
  ASSERT_TRUE(key);
  EXPECT_EQ(key->ValueCount(), 27u);
  int32_t percent = 0;
  EXPECT_FALSE(key->QueryNumber("FPSPercentageUSB2", &percent, 4));
  key.reset();
  auto next = okc::api::CreateCameraForProduct(0x6104, nullptr);
  EXPECT_EQ(next->fpsPercentUsb3, 97);
  EXPECT_EQ(next->fpsPercent, 86);  // never saved for USB 2: the default stays
}

TEST_F(CameraSettings, ModelsKeepSeparateKeys) {
  auto tavc = NewTavc();
  tavc->gain = 11;
  tavc->SaveSetting(kTavcKey);
  auto tavm = okc::api::CreateCameraForProduct(0x6101, nullptr);
  EXPECT_EQ(tavm->gain, 50);
}

TEST_F(CameraSettings, WrongTypesAndSizesLeaveDefaults) {
  {
    auto key = okc::platform::SettingsKey::Create(kTavcKey);
    ASSERT_TRUE(key);
    const uint8_t one = 9;
    key->SetBytes("Gain", &one, 1);           // bytes where a number belongs
    key->SetNumber("Gamma", &one, 1);         // a number of the wrong size
    const uint32_t four = 1;
    key->SetNumber("FlipRow", &four, 4);      // a number where a flag belongs
    key->SetBytes("BMPPATH", "short", 5);     // bytes of the wrong size
    key->Close();
  }
  auto cam = NewTavc();
  EXPECT_EQ(cam->gain, 50);
  EXPECT_EQ(cam->gamma, 50);
  EXPECT_TRUE(cam->flipRow);
  EXPECT_STREQ(cam->bmpPath, "");
}

TEST_F(CameraSettings, CorruptStoreFileLeavesDefaults) {
  const std::string path = okc::platform::SettingsFilePath(kTavcKey);
  ASSERT_FALSE(path.empty());
  {
    std::ofstream out(path, std::ios::binary);
    out << "number 4 77 Gain\nnumber 4 zz Gamma\nbytes 256 0102 BMPPATH\n\x01\xff garbage\nnumber 4";
  }
  auto cam = NewTavc();
  EXPECT_EQ(cam->gain, 77);  // the good line is kept
  EXPECT_EQ(cam->gamma, 50);
  EXPECT_STREQ(cam->bmpPath, "");
}

TEST_F(CameraSettings, StoredPathWithoutTerminatorStaysAString) {
  {
    auto key = okc::platform::SettingsKey::Create(kTavcKey);
    char path[256];
    std::memset(path, 'a', sizeof(path));
    key->SetBytes("BMPPATH", path, sizeof(path));
    key->Close();
  }
  auto cam = NewTavc();
  EXPECT_EQ(std::strlen(cam->bmpPath), 255u);
}

TEST_F(CameraSettings, DarkSubtractionWithAMissingFileFallsBackToFullSensor) {
  auto cam = NewTavc();
  cam->useDark = true;
  std::strcpy(cam->bmpPath, "/nonexistent/dark.bmp");
  cam->width = 320;
  cam->SaveSetting(kTavcKey);
  auto next = NewTavc();
  EXPECT_FALSE(next->useDark);
  EXPECT_EQ(next->width, 1280);
  EXPECT_EQ(next->height, 960);
  EXPECT_EQ(next->bin, 1);
}

TEST_F(CameraSettings, DarkFrameIsLoadedAtConstruction) {
  const std::string bmp = WriteDarkBmp(1280, 960, 20);
  auto cam = NewTavc();
  cam->useDark = true;
  std::strcpy(cam->bmpPath, bmp.c_str());
  cam->SaveSetting(kTavcKey);
  auto next = NewTavc();
  EXPECT_TRUE(next->useDark);
  EXPECT_EQ(next->darkFull[0], 20u);
  EXPECT_EQ(next->darkFull[5], 60u);
  EXPECT_EQ(next->darkWorking[5], 60u);
  EXPECT_EQ(next->darkMean, 20u);  // (1228799 * 20 + 60) / 1228800 truncates to 20
  EXPECT_EQ(next->darkHotCount, 1u);
  EXPECT_EQ(next->darkHotList[0], 5u);
  EXPECT_STREQ(next->GetBMPPath(), bmp.c_str());
}

TEST_F(CameraSettings, BadDarkFilesAreRefusedAndChangeNothing) {
  auto cam = NewTavc();
  cam->bin = 1;
  const std::string small = WriteDarkBmp(640, 480, 10);
  cam->useDark = true;
  EXPECT_EQ(cam->LoadBMPFromFile(small.c_str()), 0);
  EXPECT_TRUE(cam->useDark);
  cam->useDark = false;
  EXPECT_EQ(cam->LoadBMPFromFile(small.c_str()), 0);
  EXPECT_FALSE(cam->useDark);
  EXPECT_EQ(cam->darkFull, nullptr) << "a refused file makes no dark tables";

  // The right size but 24 bits per pixel.
  std::string deep = WriteDarkBmp(1280, 960, 10);
  {
    std::fstream f(deep, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(28);
    const char bpp[2] = {24, 0};
    f.write(bpp, 2);
  }
  cam->useDark = true;
  EXPECT_EQ(cam->LoadBMPFromFile(deep.c_str()), 0);
  EXPECT_TRUE(cam->useDark);

  // A missing file switches subtraction off.
  EXPECT_EQ(cam->LoadBMPFromFile("/nonexistent/dark.bmp"), 0);
  EXPECT_FALSE(cam->useDark);
  EXPECT_EQ(cam->LoadBMPFromFile(nullptr), 0);
}

TEST_F(CameraSettings, SavedDarkFrameLoadsBack) {
  auto cam = NewTavc();
  cam->bin = 1;
  ASSERT_TRUE(cam->EnsureDarkTables());
  for (int i = 0; i < 1280 * 960; ++i) cam->darkFull[i] = static_cast<uint32_t>(i % 200);
  const std::string path = MakeTempDir() + "/saved.bmp";
  EXPECT_EQ(cam->SaveBMPToFile(path.c_str()), 1);
  EXPECT_STREQ(cam->GetBMPPath(), path.c_str());
  auto other = NewTavc();
  other->bin = 1;
  ASSERT_EQ(other->LoadBMPFromFile(path.c_str()), 1);
  EXPECT_TRUE(other->useDark);
  for (int i : {0, 1, 199, 200, 1280 * 960 - 1}) EXPECT_EQ(other->darkFull[i], static_cast<uint32_t>(i % 200)) << i;
  // Saving to a folder that does not exist still reports 1 and keeps the path.
  EXPECT_EQ(cam->SaveBMPToFile("/nonexistent/x.bmp"), 1);
  EXPECT_STREQ(cam->GetBMPPath(), "/nonexistent/x.bmp");
}

TEST_F(CameraSettings, DarkCropFollowsTheRegion) {
  auto cam = NewTavc();
  ASSERT_TRUE(cam->EnsureDarkTables());
  for (int y = 0; y < 960; ++y)
    for (int x = 0; x < 1280; ++x) cam->darkFull[y * 1280 + x] = static_cast<uint32_t>((x + y) & 0xFF);
  cam->width = 320;
  cam->height = 240;
  cam->bin = 1;
  cam->startX = 100;
  cam->startY = 50;
  cam->AdjustDarkBuff(cam->darkFull.get(), cam->darkWorking.get());
  EXPECT_EQ(cam->darkWorking[0], 150u);
  EXPECT_EQ(cam->darkWorking[321], static_cast<uint32_t>((101 + 51) & 0xFF));
  // A region that runs off the sensor is ignored rather than read past the frame.
  cam->startX = 1200;
  cam->darkWorking[0] = 7;
  cam->AdjustDarkBuff(cam->darkFull.get(), cam->darkWorking.get());
  EXPECT_EQ(cam->darkWorking[0], 7u);
}

}  // namespace
