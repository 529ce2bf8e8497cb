// Guide pulses of the camera object, timed on a fast clock where the length matters.
#include <gtest/gtest.h>

#include <chrono>

#include "api/CameraState.h"
#include "okccamera/Clock.h"
#include "okccamera/okccamera.h"
#include "support/SimEnvironment.h"

namespace {

class GuidePort : public okc::test::SimEnvironment {
 protected:
  void SetUp() override {
    SimEnvironment::SetUp();
    sim = bus->Attach(okc::sim::Model::TAVM);
    ASSERT_TRUE(openCamera(0));
    cam = okc::api::CurrentCamera().get();
    sim->ClearRequests();
  }
  std::shared_ptr<okc::sim::SimCamera> sim;
  CCameraBase* cam = nullptr;
};

TEST_F(GuidePort, PulseSwitchesOnWaitsAndSwitchesOff) {
  okc::platform::UseClock(std::make_shared<okc::platform::FastClock>(100.0));
  for (int d = 0; d < 4; ++d) EXPECT_TRUE(cam->pulseGuide(static_cast<GuideD>(d), 1000));
  auto log = sim->VendorRequests();
  ASSERT_EQ(log.size(), 8u);
  for (int d = 0; d < 4; ++d) {
    EXPECT_EQ(log[2 * d].request, 0xB0);
    EXPECT_EQ(log[2 * d + 1].request, 0xB1);
    EXPECT_EQ(log[2 * d].value, d);
    EXPECT_EQ(log[2 * d + 1].value, d);
    EXPECT_EQ(log[2 * d].index, 0);
    EXPECT_GE(log[2 * d + 1].timeMs - log[2 * d].timeMs, 1000u);
  }
}

TEST_F(GuidePort, ZeroLengthSendsBothBackToBack) {
  EXPECT_TRUE(cam->pulseGuide(GUIDE_SOUTH, 0));
  auto log = sim->VendorRequests();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0].request, 0xB0);
  EXPECT_EQ(log[1].request, 0xB1);
}

TEST_F(GuidePort, NotADirectionDoesNothing) {
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(cam->pulseGuide(static_cast<GuideD>(4), 5000));
  EXPECT_TRUE(cam->pulseGuide(static_cast<GuideD>(-1), 5000));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  EXPECT_TRUE(sim->VendorRequests().empty());
}

TEST_F(GuidePort, FailedSwitchOnIsStillSwitchedOff) {
  sim->SetStallRequest(0xB0);
  EXPECT_TRUE(cam->pulseGuide(GUIDE_WEST, 0));
  EXPECT_EQ(sim->VendorRequests(0xB1).size(), 1u);
}

TEST_F(GuidePort, UnopenedCameraWaitsTheWholePulseAndSendsNothing) {
  auto closed = okc::api::CreateCameraForProduct(0x6101, nullptr);
  auto clock = std::make_shared<okc::platform::FastClock>(100.0);
  okc::platform::UseClock(clock);
  const uint64_t before = clock->NowMs();
  EXPECT_TRUE(closed->pulseGuide(GUIDE_NORTH, 3000));
  EXPECT_GE(clock->NowMs() - before, 3000u);
  EXPECT_TRUE(sim->VendorRequests().empty());
}

TEST_F(GuidePort, NegativeLengthDoesNotWait) {
  EXPECT_TRUE(cam->pulseGuide(GUIDE_EAST, -500));
  EXPECT_EQ(sim->VendorRequests().size(), 2u);
}

}  // namespace
