// The automatic steps on a camera object: the wait for a frame exposed after
// a change, frames of another window, and a host's own setting winning over a
// step that was under way.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "core/CameraAuto.h"
#include "imaging/AutoExposure.h"
#include "imaging/WhiteBalance.h"
#include "okccamera/CCameraTAVC.h"
#include "support/SimEnvironment.h"

namespace {

// A uniform 8-bit frame of 100 x 100.
std::vector<uint8_t> Uniform(uint8_t value) { return std::vector<uint8_t>(100 * 100, value); }

// A closed camera (nothing reaches a sensor) set up for a 100 x 100 window.
class CameraSteps : public okc::test::SimEnvironment {
 protected:
  void SetUp() override {
    okc::test::SimEnvironment::SetUp();
    cam = std::make_unique<CCameraTAVC>();
    cam->width = 100;
    cam->height = 100;
    cam->bin = 1;
    cam->output16Bits = false;
    cam->exposure = 50000;
    cam->exposureLines = 100;
    cam->gain = 10;
    cam->autoExp = true;
    cam->autoGain = false;
    cam->destBrightness = 100;
  }
  void TearDown() override {
    cam.reset();
    okc::test::SimEnvironment::TearDown();
  }
  // The capture engine keeps a copy of each good frame, numbered as it arrives.
  void Push(const std::vector<uint8_t>& frame) {
    newest = frame;
    ++number;
  }
  bool ExposureStep() { return okc::core::RunAutoExposureStep(*cam, Newest(), exposureGuard); }
  bool BalanceStep() { return okc::core::RunAutoWhiteBalanceStep(*cam, Newest(), balanceGuard); }
  okc::core::MeasuredFrame Newest() const { return {newest.data(), newest.size(), number}; }

  std::unique_ptr<CCameraTAVC> cam;
  std::vector<uint8_t> newest;
  uint64_t number = 0;
  okc::core::StepGuard exposureGuard, balanceGuard;
};

TEST_F(CameraSteps, WaitForAFrameExposedAfterTheirChange) {
  EXPECT_FALSE(ExposureStep());  // nothing queued yet
  Push(Uniform(59));                                     // B = 60
  EXPECT_TRUE(ExposureStep());
  EXPECT_EQ(cam->exposure, 60000u);
  // The same frame, and the one already on its way during the change, are not measured again.
  EXPECT_FALSE(ExposureStep());
  Push(Uniform(59));
  EXPECT_FALSE(ExposureStep());
  EXPECT_EQ(cam->exposure, 60000u);
  Push(Uniform(59));
  EXPECT_TRUE(ExposureStep());
  EXPECT_EQ(cam->exposure, 72000u);
  // Inside the dead band nothing changes, and the next frame may be measured at once.
  Push(Uniform(99));
  Push(Uniform(99));
  EXPECT_FALSE(ExposureStep());
  Push(Uniform(59));
  EXPECT_TRUE(ExposureStep());
}

TEST_F(CameraSteps, FramesOfAnotherWindowAreNotMeasured) {
  Push(std::vector<uint8_t>(50 * 50, 10));
  EXPECT_FALSE(ExposureStep());
  EXPECT_EQ(cam->exposure, 50000u);
}

TEST_F(CameraSteps, TheHostsOwnSettingWins) {
  const std::vector<uint8_t> dark = Uniform(59);
  const okc::imaging::AutoExposureDecision d = cam->AutoExpGain(dark.data(), dark.size());
  ASSERT_TRUE(d.exposureChanged);
  cam->exposure = 12345;  // the host set an exposure meanwhile
  EXPECT_FALSE(cam->ApplyAutoExposure(d));
  EXPECT_EQ(cam->exposure, 12345u);
  cam->exposure = 50000;
  cam->autoExp = false;  // or switched automatic exposure off
  EXPECT_FALSE(cam->ApplyAutoExposure(d));
  EXPECT_EQ(cam->exposure, 50000u);
  cam->autoExp = true;
  EXPECT_TRUE(cam->ApplyAutoExposure(d));
  EXPECT_EQ(cam->exposure, 60000u);
}

TEST_F(CameraSteps, WhiteBalanceStepSetsTheModelsBalance) {
  cam->autoExp = false;
  cam->autoWB = true;
  cam->wbRed = 60;
  cam->wbBlue = 60;
  // TAVC reads G R / B G: red twice green, blue at green.
  std::vector<uint8_t> raw(100 * 100);
  for (int y = 0; y < 100; ++y)
    for (int x = 0; x < 100; ++x) raw[y * 100 + x] = (y & 1) == (x & 1) ? 60 : ((y & 1) == 0 ? 120 : 60);
  Push(raw);
  EXPECT_TRUE(BalanceStep());
  EXPECT_EQ(cam->wbRed, 60 * 61 / 121);
  EXPECT_EQ(cam->wbBlue, 60);
  EXPECT_TRUE(cam->autoWB);
  // Without automatic balance the step does nothing.
  cam->autoWB = false;
  Push(raw);
  Push(raw);
  EXPECT_FALSE(BalanceStep());
}

}  // namespace
