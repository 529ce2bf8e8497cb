// The exported functions driven from several host threads at once on two
// simulated TAVC cameras: opening and closing, starting and stopping capture,
// fetching frames, setting controls and guiding, in every interleaving the
// scheduler produces. Nothing may crash or hang, a call never sees a half-made
// camera, and afterwards a camera opens and delivers a whole, correct frame.
// Run under ThreadSanitizer and AddressSanitizer in CI.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <random>
#include <thread>
#include <vector>

#include "okccamera/okccamera.h"
#include "support/SimEnvironment.h"

namespace {

constexpr int kW = 320;
constexpr int kH = 240;
constexpr int kFrameBytes = kW * kH;  // raw8
constexpr int kMaxWidth = 1280;
constexpr int kOpenCycles = 5;         // cycles of the thread that opens and closes
constexpr int kFramesPerCycle = 4;     // frames it asks for in each
constexpr int kMinOpsPerThread = 200;  // the other threads go on at least this long

class ExportedFunctionsStress : public okc::test::SimEnvironment {
 protected:
  void SetUp() override {
    SimEnvironment::SetUp();
    for (int i = 0; i < 2; ++i) {
      cameras.push_back(bus->Attach(okc::sim::Model::TAVC));
      cameras.back()->SetSceneNoise(false);
    }
  }

  // The answers each call may give: a neutral one, or one of an open TAVC.
  static void CheckAnswersAreConsistent() {
    const int maxWidth = getMaxWidth();
    EXPECT_TRUE(maxWidth == 0 || maxWidth == kMaxWidth) << maxWidth;
    const int bin = getBin();  // 0 on a camera whose format is not set yet
    EXPECT_TRUE(bin >= 0 && bin <= 2) << bin;
    bool automatic = true;
    const int gain = getValue(CTRL_GAIN, &automatic);
    EXPECT_GE(gain, 0);
    EXPECT_LE(gain, 100);
    EXPECT_LE(getValue(CTRL_EXPOSURE, nullptr), getMax(CTRL_EXPOSURE) > 0 ? getMax(CTRL_EXPOSURE) : INT32_MAX);
    const int bayer = getColorBayer();
    EXPECT_TRUE(bayer >= 0 && bayer <= 3) << bayer;
  }

  std::vector<std::shared_ptr<okc::sim::SimCamera>> cameras;
};

// Opens a camera and prepares it for capture; any step may fail when another thread closes it meanwhile.
void OpenAndPrepare(int index) {
  if (!openCamera(index)) return;
  initCamera();
  setImageFormat(kW, kH, 1, IMGTYPE_RAW8);
  setValue(CTRL_EXPOSURE, 2000, false);
}

TEST_F(ExportedFunctionsStress, FourThreadsOnTwoCamerasThenACleanFrame) {
  std::atomic<bool> openerDone{false};

  std::vector<std::thread> threads;
  // Opens, starts, stops and closes, alternating between the two cameras.
  threads.emplace_back([&] {
    std::mt19937 rng(1);
    std::vector<unsigned char> frame(kFrameBytes);
    for (int cycle = 0; cycle < kOpenCycles; ++cycle) {
      OpenAndPrepare(cycle % 2);
      startCapture();
      // Lets capture run a while under the other threads' calls.
      for (int i = 0; i < kFramesPerCycle; ++i) {
        getImageData(frame.data(), kFrameBytes, 200);
        setValue(CTRL_GAIN, static_cast<int>(rng() % 101), false);
      }
      if (rng() % 2) stopCapture();
      if (cycle % 2) closeCamera();  // otherwise the next openCamera closes it
    }
    openerDone = true;
  });
  // Fetches frames with short time-outs; a frame that comes is whole.
  threads.emplace_back([&] {
    std::vector<unsigned char> frame(kFrameBytes);
    for (int op = 0; op < kMinOpsPerThread || !openerDone; ++op) {
      getImageData(frame.data(), kFrameBytes, 1 + op % 20);
      EXPECT_FALSE(getImageData(nullptr, 0, 0));  // never a frame into no buffer
    }
  });
  // Controls, a second reader with tiny time-outs, and now and then a capture restart.
  threads.emplace_back([&] {
    std::mt19937 rng(3);
    std::vector<unsigned char> frame(kFrameBytes);
    for (int op = 0; op < kMinOpsPerThread || !openerDone; ++op) {
      switch (rng() % 5) {
        case 0: setValue(CTRL_GAIN, static_cast<int>(rng() % 101), false); break;
        case 1: setValue(CTRL_EXPOSURE, 1000 + static_cast<int>(rng() % 4000), false); break;
        case 2: setValue(CTRL_GAMMA, static_cast<int>(rng() % 101), false); break;
        case 3: CheckAnswersAreConsistent(); break;
        default:
          getImageData(frame.data(), kFrameBytes, 2);
          break;
      }
      if (op % 1000 == 999) {
        stopCapture();
        startCapture();
      }
    }
  });
  // Guide pulses of a millisecond, and a close now and then.
  threads.emplace_back([&] {
    std::mt19937 rng(4);
    for (int op = 0; op < kMinOpsPerThread || !openerDone; ++op) {
      pulseGuide(static_cast<GuideD>(rng() % 4), 1);
      CheckAnswersAreConsistent();
      if (op % 500 == 499) closeCamera();
    }
  });
  for (std::thread& t : threads) t.join();

  // Without a camera every call answers neutrally.
  closeCamera();
  EXPECT_EQ(getMaxWidth(), 0);
  EXPECT_EQ(getWidth(), 0);
  EXPECT_EQ(getBin(), 1);
  EXPECT_EQ(getImgType(), IMGTYPE_Y8);
  EXPECT_EQ(getDroppedFrames(), 0u);
  std::vector<unsigned char> frame(kFrameBytes);
  EXPECT_FALSE(getImageData(frame.data(), kFrameBytes, 0));

  // Both cameras still work: one opens and delivers the scene it sees.
  ASSERT_EQ(getNumberOfConnectedCameras(), 2);
  ASSERT_TRUE(openCamera(1));
  ASSERT_TRUE(initCamera());
  ASSERT_TRUE(SetMisc(false, false));
  ASSERT_TRUE(setImageFormat(kW, kH, 1, IMGTYPE_RAW8));
  // The threads left random controls in the stored settings: back to a linear tone.
  setValue(CTRL_GAMMA, 50, false);
  setValue(CTRL_BRIGHTNESS, 0, false);
  setValue(CTRL_EXPOSURE, 2000, false);
  setValue(CTRL_GAIN, 30, false);
  startCapture();
  // A frame may still have been under way from before the last setting: take two.
  ASSERT_TRUE(getImageData(frame.data(), kFrameBytes, 5000));
  ASSERT_TRUE(getImageData(frame.data(), kFrameBytes, 5000));
  stopCapture();

  const okc::sim::SimSensorState s = cameras[1]->Sensor();
  ASSERT_EQ(s.width, kW);
  ASSERT_EQ(s.height, kH);
  int mismatches = 0;
  // Rows 0 and 1 hold the repaired marker pixels.
  for (int y = 2; y < kH; ++y)
    for (int x = 0; x < kW; ++x) {
      const int expected = cameras[1]->ExpectedSceneValue(s.x + x, s.y + y) >> 4;
      mismatches += std::abs(frame[static_cast<size_t>(y) * kW + x] - expected) > 1;
    }
  EXPECT_EQ(mismatches, 0);
}

}  // namespace
