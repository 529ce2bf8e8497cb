// A getImageData waiting on one thread while another thread stops capture,
// changes a control or closes the camera: the other calls are not held up by
// the wait, a stop or close ends the wait with false, and the camera object
// lives until the waiting call has returned.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <thread>
#include <vector>

#include "api/CameraState.h"
#include "okccamera/Clock.h"
#include "okccamera/okccamera.h"
#include "support/SimEnvironment.h"

namespace {

constexpr int kW = 320;
constexpr int kH = 240;
constexpr unsigned long kWaitWithoutLimit = 0xFFFFFFFF;

class CloseDuringWait : public okc::test::SimEnvironment {
 protected:
  void SetUp() override {
    SimEnvironment::SetUp();
    sim = bus->Attach(okc::sim::Model::TAVC);
    // Settle times of opening and initialising pass quickly; streaming runs on the real clock.
    okc::platform::UseClock(std::make_shared<okc::platform::FastClock>(1000.0));
    ASSERT_TRUE(openCamera(0));
    ASSERT_TRUE(initCamera());
    ASSERT_TRUE(setImageFormat(kW, kH, 1, IMGTYPE_RAW8));
    setValue(CTRL_EXPOSURE, 2000, false);
    okc::platform::UseClock(nullptr);
    // No frame ever comes, so the wait below lasts until something ends it.
    sim->SetStreamStalled(true);
    startCapture();
  }

  // Starts a getImageData without a time-limit on its own thread; returns once the call is about to be made.
  std::future<bool> WaitForAFrame() {
    std::promise<void> calling;
    auto started = calling.get_future();
    auto result = std::async(std::launch::async, [this, calling = std::move(calling)]() mutable {
      calling.set_value();
      return getImageData(frame.data(), static_cast<int>(frame.size()), kWaitWithoutLimit);
    });
    started.wait();
    // Give the call time to reach its wait; the outcome must be the same if it has not.
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    return result;
  }

  std::shared_ptr<okc::sim::SimCamera> sim;
  std::vector<unsigned char> frame = std::vector<unsigned char>(kW * kH);
};

TEST_F(CloseDuringWait, ControlsAreSetWhileAFrameIsAwaited) {
  std::future<bool> waiting = WaitForAFrame();
  setValue(CTRL_GAIN, 37, false);
  setValue(CTRL_GAMMA, 61, false);
  EXPECT_EQ(getValue(CTRL_GAIN, nullptr), 37);
  EXPECT_EQ(getValue(CTRL_GAMMA, nullptr), 61);
  EXPECT_EQ(waiting.wait_for(std::chrono::seconds(0)), std::future_status::timeout);  // still waiting
  stopCapture();
  EXPECT_FALSE(waiting.get());
}

TEST_F(CloseDuringWait, CloseEndsTheWaitAndTheCameraGoesWithTheLastCall) {
  std::weak_ptr<CCameraBase> camera = okc::api::CurrentCamera();
  std::future<bool> waiting = WaitForAFrame();
  closeCamera();
  EXPECT_EQ(okc::api::CurrentCamera(), nullptr);
  EXPECT_FALSE(waiting.get());
  EXPECT_TRUE(camera.expired());
  // Calls after the close answer as without a camera.
  EXPECT_FALSE(getImageData(frame.data(), static_cast<int>(frame.size()), 0));
  EXPECT_EQ(getWidth(), 0);
}

TEST_F(CloseDuringWait, ReopenWhileAFrameIsAwaitedLeavesTheWaiterOnTheOldCamera) {
  std::future<bool> waiting = WaitForAFrame();
  okc::platform::UseClock(std::make_shared<okc::platform::FastClock>(1000.0));
  ASSERT_TRUE(openCamera(0));  // closes the camera the waiter uses, then opens it afresh
  okc::platform::UseClock(nullptr);
  EXPECT_FALSE(waiting.get());
  EXPECT_EQ(getMaxWidth(), 1280);
}

}  // namespace
