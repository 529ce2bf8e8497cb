// Two simulated TAVC cameras streaming at once through their own camera
// objects: each keeps its own sensor state, so neither skips a register
// write because the other one wrote the same value.
#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <vector>

#include "capture/CaptureFixture.h"
#include "okccamera/CCameraTAVC.h"

namespace {

class TwoCameras : public okc::test::CaptureTest {
 protected:
  void TearDown() override {
    for (auto& cam : cams) cam.reset();
    CaptureTest::TearDown();
  }
  std::shared_ptr<okc::sim::SimCamera> sims[2];
  std::unique_ptr<CCameraTAVC> cams[2];
};

TEST_F(TwoCameras, EachKeepsItsOwnExposureAndGainWhileBothStream) {
  okc::platform::UseClock(std::make_shared<okc::platform::FastClock>(1000.0));
  for (int i = 0; i < 2; ++i) {
    sims[i] = bus->Attach(okc::sim::Model::TAVC);
    sims[i]->SetSceneNoise(false);
    cams[i] = std::make_unique<CCameraTAVC>();
    ASSERT_TRUE(cams[i]->OpenCamera(i + 1));
    ASSERT_TRUE(cams[i]->InitCamera());
    ASSERT_TRUE(cams[i]->SetResolution(320, 240, 1, IMAGE_8BIT));
    ASSERT_TRUE(cams[i]->SetExp(10000 + 10000 * i, false));
  }
  okc::platform::UseClock(nullptr);
  for (auto& cam : cams) ASSERT_TRUE(cam->StartCapture());
  auto lines = [&](int i, unsigned us) {
    std::lock_guard lock(cams[i]->SensorLock());
    return (us * cams[i]->cmosClk - 26) / cams[i]->lineLength;
  };
  for (int i = 0; i < 2; ++i)
    EXPECT_TRUE(sims[i]->WaitFor([&] { return sims[i]->Register(0x3012) == lines(i, 10000 + 10000 * i); }));

  // The same new values on both: each camera's own companion writes them.
  for (auto& cam : cams) {
    cam->SetExp(25000, false);
    cam->SetGain(17, false);
  }
  for (int i = 0; i < 2; ++i) {
    EXPECT_TRUE(sims[i]->WaitFor([&] { return sims[i]->Register(0x3012) == lines(i, 25000); })) << "camera " << i;
    EXPECT_TRUE(sims[i]->WaitFor([&] { return sims[i]->Register(0x3056) == 34; })) << "camera " << i;
  }
  std::vector<uint8_t> frame(320 * 240);
  for (auto& cam : cams) EXPECT_TRUE(cam->GetImage(frame.data(), static_cast<int>(frame.size()), 0xFFFFFFFF));
  for (auto& cam : cams) EXPECT_TRUE(cam->StopCapture());
}

}  // namespace
