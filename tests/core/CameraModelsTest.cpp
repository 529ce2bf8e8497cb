// The nine model classes as constructed: constants, capabilities and defaults.
#include <gtest/gtest.h>

#include <cstring>

#include "api/CameraState.h"
#include "support/SimEnvironment.h"

namespace {

class CameraModels : public okc::test::SimEnvironment {};

struct Expected {
  uint16_t pid;
  const char* name;
  int w, h;
  double pixel;
  bool colour;
  int bayer, number;
  bool bin2;
  int fpsMin, fpsMax, expMax;
  bool autoFps;
  bool controls[7];  // Control_TYPE order: gain, exposure, gamma, red, blue, brightness, fps
  bool formats[4];   // IMG_TYPE order: raw8, rgb24, raw16, y8
  uint64_t exposure;
  int clk, wbRed, wbBlue, fps;
  bool autoFpsDefault;
  uint16_t lineLength;
};

// clang-format off
const Expected kExpected[] = {
  {0x6101, "YRA OKCTAVM",   1280,  960, 3.75, false, 0, 0, true,  40, 100, 1000000000, true,  {1,1,1,0,0,1,1}, {1,0,1,0}, 33000, 50, 52, 95, 80, true,  1650},
  {0x6102, "YRA OKCTAVC",   1280,  960, 3.75, true,  2, 1, true,  40, 100, 1000000000, true,  {1,1,1,1,1,1,1}, {1,1,1,1}, 33000, 50, 52, 95, 80, true,  1650},
  {0x6105, "YRA OKCRENM",   1280, 1024, 5.2,  false, 0, 3, true,   1,   2, 1000000000, true,  {1,1,1,0,0,0,1}, {1,0,1,0}, 33000, 48,  0,  0,  0, false,    0},
  {0x6109, "YRA OKCSELC",    752,  480, 6.0,  true,  1, 5, false,  1,   2, 1000000000, false, {1,1,1,1,1,0,0}, {1,1,0,1}, 33000, 30, 45, 70,  0, false,    0},
  {0x6108, "YRA OKCSELM",    752,  480, 6.0,  false, 1, 4, false,  1,   2, 1000000000, false, {1,1,1,0,0,0,0}, {1,0,0,0}, 33000, 30,  0,  0,  0, false,    0},
  {0x6106, "YRA OKCPIMC",    640,  480, 6.0,  true,  1, 6, false,  1,   2,    4000000, false, {1,1,1,1,1,0,0}, {1,1,0,1}, 33000, 24, 45, 70,  0, false,    0},
  {0x6107, "YRA OKCDORC",    728,  512, 5.6,  true,  2, 2, true,  50, 100,   60000000, true,  {1,1,1,1,1,1,1}, {1,1,0,1}, 33000, 48, 41, 94, 80, false,  938},
  {0x6103, "YRA OKCTAVM-U", 1280,  960, 3.75, false, 2, 7, true,  40, 100, 1000000000, true,  {1,1,1,0,0,1,1}, {1,0,1,0}, 14000, 50, 52, 95, 86, true,  1650},
  {0x6104, "YRA OKCTAVC-U", 1280,  960, 3.75, true,  2, 8, true,  40, 100, 1000000000, true,  {1,1,1,1,1,1,1}, {1,1,1,1}, 14000, 50, 52, 95, 86, true,  1650},
};
// clang-format on

TEST_F(CameraModels, FreshObjectsCarryTheirModelRecord) {
  for (const Expected& e : kExpected) {
    SCOPED_TRACE(e.name);
    auto cam = okc::api::CreateCameraForProduct(e.pid, nullptr);
    ASSERT_NE(cam, nullptr);
    EXPECT_STREQ(cam->modelName, e.name);
    EXPECT_EQ(cam->GetMaxWidth(), e.w);
    EXPECT_EQ(cam->GetMaxHeight(), e.h);
    EXPECT_EQ(cam->width, e.w);
    EXPECT_EQ(cam->height, e.h);
    EXPECT_EQ(cam->bin, 0);
    EXPECT_TRUE(cam->flipRow);
    EXPECT_FALSE(cam->flipColumn);
    EXPECT_EQ(cam->GetGamma(), 50);
    EXPECT_EQ(cam->gain, 50);
    EXPECT_EQ(cam->brightness, 0);
    EXPECT_DOUBLE_EQ(cam->pixelSize, e.pixel);
    EXPECT_EQ(cam->isColor, e.colour);
    EXPECT_EQ(cam->bayerPattern, e.bayer);
    EXPECT_EQ(cam->modelNumber, e.number);
    EXPECT_EQ(cam->bin2Supported, e.bin2);
    EXPECT_EQ(cam->fpsPercentMin, e.fpsMin);
    EXPECT_EQ(cam->fpsPercentMax, e.fpsMax);
    EXPECT_EQ(cam->exposureMax, e.expMax);
    EXPECT_EQ(cam->autoFpsSupported, e.autoFps);
    for (int c = 0; c < 7; ++c) EXPECT_EQ(cam->isAvailable(static_cast<Control_TYPE>(c)), e.controls[c]) << c;
    for (int t = 0; t < 4; ++t) EXPECT_EQ(cam->isImgTypeSupported(static_cast<IMG_TYPE>(t)), e.formats[t]) << t;
    EXPECT_FALSE(cam->isAvailable(static_cast<Control_TYPE>(7)));
    EXPECT_FALSE(cam->isAvailable(static_cast<Control_TYPE>(-1)));
    EXPECT_FALSE(cam->isImgTypeSupported(static_cast<IMG_TYPE>(4)));
    EXPECT_EQ(cam->exposure, e.exposure);
    EXPECT_EQ(cam->cmosClk, e.clk);
    EXPECT_EQ(cam->wbRed, e.wbRed);
    EXPECT_EQ(cam->wbBlue, e.wbBlue);
    EXPECT_EQ(cam->fpsPercent, e.fps);
    EXPECT_EQ(cam->autoFps, e.autoFpsDefault);
    EXPECT_EQ(cam->lineLength, e.lineLength);
    EXPECT_FALSE(cam->opened);
    EXPECT_FALSE(cam->capturing);
    EXPECT_EQ(cam->droppedFrames, 0u);
    EXPECT_EQ(cam->autoExpMax, 30);
    EXPECT_EQ(cam->autoGainMax, 50);
    EXPECT_EQ(cam->destBrightness, 100);
    EXPECT_EQ(cam->imageType, IMAGE_8BIT);
  }
}

TEST_F(CameraModels, ModelExtras) {
  EXPECT_TRUE(okc::api::CreateCameraForProduct(0x6105, nullptr)->autoBL);
  EXPECT_EQ(okc::api::CreateCameraForProduct(0x6104, nullptr)->fpsPercentUsb3, 100);
  EXPECT_EQ(okc::api::CreateCameraForProduct(0x6102, nullptr)->fpsPercentUsb3, 0);
  EXPECT_EQ(okc::api::CreateCameraForProduct(0x1234, nullptr), nullptr);
}

TEST_F(CameraModels, BaseDefaultsReportUnsupportedAndTouchNothing) {
  for (uint16_t pid : {0x6106, 0x6109, 0x6108}) {  // PIMC, SELC, SELM keep the base percentage
    auto cam = okc::api::CreateCameraForProduct(pid, nullptr);
    int percent = -7;
    bool automatic = true;
    EXPECT_FALSE(cam->GetFPSPerc(&percent, &automatic));
    EXPECT_EQ(percent, -7);
    EXPECT_TRUE(automatic);
    EXPECT_FALSE(cam->SetFPSPerc(60, false));
    EXPECT_EQ(cam->fpsPercent, 0);
    EXPECT_EQ(cam->GetSensorTemp(), 0.0f);
  }
  auto renm = okc::api::CreateCameraForProduct(0x6105, nullptr);
  EXPECT_FALSE(renm->SetBrightness(5));
  EXPECT_EQ(renm->brightness, 0);
}

TEST_F(CameraModels, MonochromeTavModelsReportNoBalance) {
  for (uint16_t pid : {0x6101, 0x6103}) {
    auto cam = okc::api::CreateCameraForProduct(pid, nullptr);
    int red = -1, blue = -2;
    bool automatic = true;
    cam->GetRGBBalance(&red, &blue, &automatic);
    EXPECT_EQ(red, -1);
    EXPECT_EQ(blue, -2);
    EXPECT_TRUE(automatic);
  }
}

TEST_F(CameraModels, GainAndAutoParametersAccessors) {
  auto cam = okc::api::CreateCameraForProduct(0x6102, nullptr);
  cam->autoGain = true;
  cam->gain = 77;
  bool automatic = false;
  EXPECT_EQ(cam->GetGain(&automatic), 77);
  EXPECT_TRUE(automatic);
  cam->SetAutoPara(60, 100, 120);
  int g = 0, e = 0, b = 0;
  cam->GetAutoPara(&g, &e, &b);
  EXPECT_EQ(g, 60);
  EXPECT_EQ(e, 100);
  EXPECT_EQ(b, 120);
}

TEST_F(CameraModels, CloseWithoutDeviceReportsFalse) {
  auto cam = okc::api::CreateCameraForProduct(0x6107, nullptr);
  EXPECT_TRUE(cam->CloseCamera());
  EXPECT_EQ(cam->device, nullptr);
  EXPECT_FALSE(cam->CloseCamera());
}

}  // namespace
