// Frame metadata and the split drop counts through the exported functions, on
// a simulated TAVC streaming a small window.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

#include "okccamera/okccamera.h"
#include "support/SimEnvironment.h"

using okc::sim::Model;

namespace {

constexpr int kWidth = 320, kHeight = 240;
constexpr unsigned kExposureUs = 20000;

class FrameInfo : public okc::test::SimEnvironment {
 protected:
  void StartStreaming() {
    camera = bus->Attach(Model::TAVC);
    ASSERT_TRUE(openCamera(0));
    ASSERT_TRUE(initCamera());
    ASSERT_TRUE(setImageFormat(kWidth, kHeight, 1, IMGTYPE_RAW8));
    ASSERT_TRUE(setStartPos(64, 32));
    setValue(CTRL_EXPOSURE, kExposureUs, false);
    setValue(CTRL_GAIN, 30, false);
    startCapture();
  }
  void TearDown() override {
    stopCapture();
    closeCamera();
    SimEnvironment::TearDown();
  }
  bool NextFrame() { return getImageData(frame.data(), static_cast<int>(frame.size()), 5000); }

  std::shared_ptr<okc::sim::SimCamera> camera;
  std::vector<unsigned char> frame = std::vector<unsigned char>(kWidth * kHeight);
};

int64_t NowUtcUs() {
  using namespace std::chrono;
  return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
}

TEST_F(FrameInfo, NothingBeforeTheFirstFrame) {
  OKCFrameInfo info{};
  EXPECT_FALSE(okcGetFrameInfo(&info));
  unsigned lost = 7, late = 7;
  EXPECT_FALSE(okcGetDropCounts(&lost, &late));
  EXPECT_EQ(lost + late, 0u);
  StartStreaming();
  EXPECT_FALSE(okcGetFrameInfo(&info));
  EXPECT_FALSE(okcGetFrameInfo(nullptr));
}

TEST_F(FrameInfo, EachFrameCarriesItsNumberTimesAndSettings) {
  StartStreaming();
  OKCFrameInfo previous{};
  for (int i = 0; i < 4; ++i) {
    SCOPED_TRACE(i);
    ASSERT_TRUE(NextFrame());
    OKCFrameInfo info{};
    ASSERT_TRUE(okcGetFrameInfo(&info));
    EXPECT_GT(info.sequence, previous.sequence);
    EXPECT_EQ(info.exposureUs, kExposureUs);
    EXPECT_EQ(info.gain, 30);
    EXPECT_EQ(info.width, kWidth);
    EXPECT_EQ(info.height, kHeight);
    EXPECT_EQ(info.bin, 1);
    EXPECT_EQ(info.startX, 64);
    EXPECT_EQ(info.startY, 32);
    EXPECT_TRUE(info.flipRow);  // the camera's default mirror
    EXPECT_FALSE(info.flipColumn);
    // The start lies at least the exposure before the end, on both clocks alike.
    EXPECT_GE(info.endMonotonicUs - info.startMonotonicUs, static_cast<long long>(kExposureUs));
    EXPECT_EQ(info.endUtcUs - info.startUtcUs, info.endMonotonicUs - info.startMonotonicUs);
    EXPECT_LE(info.endUtcUs, NowUtcUs());
    EXPECT_GT(info.endUtcUs, NowUtcUs() - 60'000'000);
    // Later frames end later (how much later depends on when the host's
    // transfers complete, which a loaded machine delays at will).
    if (i > 0) {
      EXPECT_GT(info.endMonotonicUs, previous.endMonotonicUs);
    }
    previous = info;
  }
}

TEST_F(FrameInfo, FramesNotCollectedAreCountedApartFromFramesTheCameraSpoilt) {
  StartStreaming();
  ASSERT_TRUE(NextFrame());
  OKCFrameInfo first{};
  ASSERT_TRUE(okcGetFrameInfo(&first));
  // The host looks away for many frame periods: both slots fill, later frames are dropped.
  std::this_thread::sleep_for(std::chrono::milliseconds(20 * kExposureUs / 1000));
  unsigned lost = 0, late = 0;
  ASSERT_TRUE(okcGetDropCounts(&lost, &late));
  EXPECT_GT(late, 0u);
  EXPECT_EQ(lost, 0u);
  EXPECT_EQ(lost + late, getDroppedFrames());
  // The frames that waited in the queue come first; the gap in the numbers shows the rest.
  uint64_t last = first.sequence;
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(NextFrame());
    OKCFrameInfo info{};
    ASSERT_TRUE(okcGetFrameInfo(&info));
    EXPECT_GT(info.sequence, last);
    last = info.sequence;
  }
  EXPECT_GE(last - first.sequence, 3u + late);

  // Frames the camera sends without their start mark count as lost by the camera.
  ASSERT_TRUE(okcGetDropCounts(&lost, &late));
  const unsigned lateBefore = late;
  camera->DropMarkerOfNextFrames(2);
  unsigned lostNow = 0;
  for (int i = 0; i < 40 && lostNow < 2; ++i) {
    ASSERT_TRUE(NextFrame());
    okcGetDropCounts(&lostNow, &late);
  }
  EXPECT_GE(lostNow, 2u);
  EXPECT_EQ(lostNow + late, getDroppedFrames());
  EXPECT_GE(late, lateBefore);
}

}  // namespace
