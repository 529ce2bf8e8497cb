// The exported control and format functions: their neutral results without a
// camera, and how they reach the camera object with one.
#include <gtest/gtest.h>

#include "api/CameraState.h"
#include "okccamera/okccamera.h"
#include "support/SimEnvironment.h"

using okc::sim::Model;

namespace {

class CameraFunctions : public okc::test::SimEnvironment {
 protected:
  CCameraBase* Open(Model model) {
    bus->Attach(model);
    EXPECT_TRUE(openCamera(0));
    return okc::api::CurrentCamera().get();
  }
};

TEST_F(CameraFunctions, NeutralResultsWithoutACamera) {
  EXPECT_FALSE(isColorCam());
  EXPECT_EQ(getPixelSize(), 0.0);
  EXPECT_EQ(getColorBayer(), 2);
  EXPECT_EQ(getMaxWidth(), 0);
  EXPECT_EQ(getMaxHeight(), 0);
  EXPECT_EQ(getWidth(), 0);
  EXPECT_EQ(getHeight(), 0);
  EXPECT_EQ(getBin(), 1);
  EXPECT_FALSE(isBinSupported(1));
  EXPECT_FALSE(isAvailable(CTRL_GAIN));
  EXPECT_FALSE(isImgTypeSupported(IMGTYPE_RAW8));
  EXPECT_EQ(getStartX(), 0);
  EXPECT_EQ(getStartY(), 0);
  EXPECT_FALSE(setStartPos(0, 0));
  setValue(CTRL_GAIN, 10, false);
  bool automatic = true;
  EXPECT_EQ(getValue(CTRL_GAIN, &automatic), 0);
  EXPECT_TRUE(automatic);
  EXPECT_EQ(getMin(CTRL_EXPOSURE), 0);
  EXPECT_EQ(getMax(CTRL_BRIGHTNESS), 0);
  EXPECT_FALSE(isAutoSupported(CTRL_GAIN));
  int a = 7, b = 8, c = 9;
  setAutoPara(1, 2, 3);
  getAutoPara(&a, &b, &c);
  EXPECT_EQ(a + b + c, 24);
  EXPECT_FALSE(setImageFormat(640, 480, 1, IMGTYPE_RAW8));
  EXPECT_EQ(getImgType(), IMGTYPE_Y8);
  startCapture();
  stopCapture();
  unsigned char frame[4];
  EXPECT_FALSE(getImageData(frame, sizeof(frame), 0));
  addTimestamp(true);
  EXPECT_FALSE(isTimestampAdded());
  EXPECT_EQ(getSensorTemp(), 0.0f);
  EXPECT_EQ(getDroppedFrames(), 0u);
  EXPECT_FALSE(SetMisc(true, true));
  bool row = false, column = true;
  GetMisc(&row, &column);
  EXPECT_FALSE(row);
  EXPECT_TRUE(column);
  pulseGuide(GUIDE_NORTH, 0);
  char path[] = "/nonexistent.bmp";
  EXPECT_FALSE(EnableDarkSubtract(path));
  DisableDarkSubtract();
}

TEST_F(CameraFunctions, PropertiesAndControlRangesOfAnOpenCamera) {
  Open(Model::SELC);
  EXPECT_TRUE(isColorCam());
  EXPECT_EQ(getPixelSize(), 6.0);
  EXPECT_EQ(getColorBayer(), 1);
  EXPECT_EQ(getMaxWidth(), 752);
  EXPECT_EQ(getMaxHeight(), 480);
  EXPECT_EQ(getBin(), 0);  // until the first format is set
  EXPECT_TRUE(isBinSupported(1));
  EXPECT_FALSE(isBinSupported(2));
  EXPECT_FALSE(isBinSupported(3));
  EXPECT_FALSE(isAvailable(CTRL_BRIGHTNESS));
  EXPECT_FALSE(isImgTypeSupported(IMGTYPE_RAW16));
  // Control ranges answer whatever the model offers.
  EXPECT_EQ(getMax(CTRL_BRIGHTNESS), 16);
  EXPECT_EQ(getMin(CTRL_EXPOSURE), 64);
  EXPECT_EQ(getMax(CTRL_EXPOSURE), 1000000000);
  EXPECT_EQ(getMin(CTRL_FPS_PERCENT), 1);
  EXPECT_EQ(getMax(CTRL_FPS_PERCENT), 2);
  EXPECT_EQ(getMax(CTRL_GAMMA), 100);
  EXPECT_TRUE(isAutoSupported(CTRL_WB_BLUE));
  EXPECT_FALSE(isAutoSupported(CTRL_GAMMA));
  EXPECT_FALSE(isAutoSupported(CTRL_FPS_PERCENT));  // SELC has no automatic bandwidth
  EXPECT_EQ(getMin(static_cast<Control_TYPE>(7)), 0);
  EXPECT_FALSE(isAutoSupported(static_cast<Control_TYPE>(-1)));
  bool automatic = true;
  EXPECT_EQ(getValue(CTRL_FPS_PERCENT, &automatic), 0);  // SELC keeps no percentage
}

TEST_F(CameraFunctions, GammaGoesThroughTheCameraAndLeavesTheFlag) {
  CCameraBase* cam = Open(Model::SELM);
  setValue(CTRL_GAMMA, 150, true);
  EXPECT_EQ(cam->gamma, 100);  // clamped
  bool automatic = true;
  EXPECT_EQ(getValue(CTRL_GAMMA, &automatic), 100);
  EXPECT_TRUE(automatic);
  automatic = false;
  getValue(CTRL_GAMMA, &automatic);
  EXPECT_FALSE(automatic);
  EXPECT_NE(cam->toneTable8[128], 128);  // the tone table was rebuilt
}

TEST_F(CameraFunctions, ExposureValueIsTheLowWordAndCarriesTheFlag) {
  CCameraBase* cam = Open(Model::SELM);
  cam->exposure = 0x100000000ull + 1234;
  cam->autoExp = true;
  bool automatic = false;
  EXPECT_EQ(getValue(CTRL_EXPOSURE, &automatic), 1234);
  EXPECT_TRUE(automatic);
}

TEST_F(CameraFunctions, ImageFormatSetsRawOutputFirst) {
  CCameraBase* cam = Open(Model::SELM);
  cam->rawOutput = false;
  EXPECT_FALSE(setImageFormat(640, 480, 1, static_cast<IMG_TYPE>(4)));
  EXPECT_FALSE(cam->rawOutput);
  // The model refuses (or does not yet program) the size, but rawOutput is already set.
  EXPECT_FALSE(setImageFormat(99999, 1, 1, IMGTYPE_RAW8));
  EXPECT_TRUE(cam->rawOutput);
}

TEST_F(CameraFunctions, ImageTypeFromTheInternalFormat) {
  CCameraBase* cam = Open(Model::SELM);
  const struct {
    IMAGE_TYPE internal;
    bool raw;
    IMG_TYPE exported;
  } cases[] = {{IMAGE_8BIT, true, IMGTYPE_RAW8},    {IMAGE_8BIT, false, IMGTYPE_Y8},
               {IMAGE_RGB24, false, IMGTYPE_RGB24}, {IMAGE_16BIT, false, IMGTYPE_RAW16},
               {IMAGE_YUV422, false, IMGTYPE_Y8}};
  for (const auto& c : cases) {
    cam->imageType = c.internal;
    cam->rawOutput = c.raw;
    EXPECT_EQ(getImgType(), c.exported) << c.internal << (c.raw ? " raw" : "");
  }
}

TEST_F(CameraFunctions, ExtrasReachTheCamera) {
  CCameraBase* cam = Open(Model::SELM);
  addTimestamp(true);
  EXPECT_TRUE(cam->timeMark);
  EXPECT_TRUE(isTimestampAdded());
  cam->flipRow = false;
  cam->flipColumn = true;
  bool row = true, column = false;
  GetMisc(&row, &column);
  EXPECT_FALSE(row);
  EXPECT_TRUE(column);
  cam->useDark = true;
  DisableDarkSubtract();
  EXPECT_FALSE(cam->useDark);
  char missing[] = "/nonexistent/dark.bmp";
  EXPECT_TRUE(EnableDarkSubtract(missing));
  EXPECT_FALSE(cam->useDark);
}

}  // namespace
