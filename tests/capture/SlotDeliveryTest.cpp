// Frames read where the frame queue keeps them: short exposures, whose frames
// wait in their slot for a marked successor, arrive whole and in order while
// the stream runs on; the frames only the image stages need are made for the
// first frame that takes the stages and freed when capture stops; and the
// queue's look-ahead behind a lent frame.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "capture/CaptureFixture.h"
#include "core/FrameDelivery.h"
#include "okccamera/FrameQueue.h"

namespace {

using okc::test::CaptureTest;

constexpr int kW = 320;
constexpr int kH = 240;
// Below the TAV family's look-ahead exposure (100 ms).
constexpr int kShortExposureUs = 20000;

// The raw 8-bit image the camera should deliver for the scene's 12-bit samples.
std::vector<uint8_t> Raw8Of(const std::vector<int>& samples) {
  std::vector<uint8_t> raw(samples.size());
  for (size_t i = 0; i < samples.size(); ++i) raw[i] = static_cast<uint8_t>(samples[i] >> 4);
  return raw;
}

// Samples differing by more than one, below rows 0 and 1 (the repaired marker
// pixels and their neighbours).
int Mismatches(const std::vector<uint8_t>& frame, const std::vector<uint8_t>& expected) {
  int mismatches = 0;
  for (size_t i = 2 * kW; i < expected.size(); ++i) mismatches += std::abs(frame[i] - expected[i]) > 1;
  return mismatches;
}

class SlotDelivery : public CaptureTest {
 protected:
  void TearDown() override {
    okc::core::EnableFusedDelivery(true);
    CaptureTest::TearDown();
  }
  bool StageFramesMade() { return Cam().workingFrame || Cam().colourFrame || Cam().binnedColourFrame; }
};

// The scene alternates between two brightnesses from frame to frame, so a
// frame read while a later one was written into its slot would match neither.
TEST_F(SlotDelivery, ShortExposureFramesArriveWholeAndInOrderWhileTheStreamRuns) {
  OpenTavc(kW, kH, 1, IMGTYPE_RAW8, kShortExposureUs);
  okc::sim::SceneLight bright, dim;
  dim.brightness = 0.5;
  sim->SetSceneLight(dim);
  const std::vector<uint8_t> dimImage = Raw8Of(ExpectedWindow());
  sim->SetSceneLight(bright);
  const std::vector<uint8_t> brightImage = Raw8Of(ExpectedWindow());
  ASSERT_GT(Mismatches(dimImage, brightImage), kW * kH / 2) << "the two scenes must tell frames apart";

  std::atomic<bool> done{false};
  std::thread alternate([&] {
    bool isDim = false;
    while (!done) {
      const uint64_t produced = sim->FramesProduced();
      sim->WaitFor([&] { return done || sim->FramesProduced() != produced; }, 10000);
      isDim = !isDim;
      sim->SetSceneLight(isDim ? dim : bright);
    }
  });

  startCapture();
  std::vector<uint8_t> frame(kW * kH);
  uint64_t lastSequence = 0;
  int dimFrames = 0, brightFrames = 0;
  for (int i = 0; i < 12; ++i) {
    ASSERT_TRUE(getImageData(frame.data(), static_cast<int>(frame.size()), 5000)) << "frame " << i;
    const uint64_t sequence = Cam().frameQueue->Delivered().sequence;
    EXPECT_GT(sequence, lastSequence) << "frame " << i << " came out of order";
    lastSequence = sequence;
    const bool isDim = Mismatches(frame, dimImage) == 0;
    const bool isBright = Mismatches(frame, brightImage) == 0;
    EXPECT_TRUE(isDim || isBright) << "frame " << i << " is not one whole frame";
    dimFrames += isDim;
    brightFrames += isBright;
  }
  done = true;
  alternate.join();
  EXPECT_GT(dimFrames, 0);
  EXPECT_GT(brightFrames, 0);
  // Each frame was read in its queue slot: the stages' frames were never made.
  EXPECT_FALSE(StageFramesMade());
  stopCapture();
}

// Which of the stages' frames each format needs, and that a stop frees them.
TEST_F(SlotDelivery, StageFramesAreMadeOnlyForTheStagesAndFreedWhenCaptureStops) {
  struct Case {
    IMG_TYPE type;
    int bin;
    bool fused;
    bool working, colour, binned;
  };
  const Case cases[] = {
      {IMGTYPE_RGB24, 1, true, false, false, false},  // the one pass needs none of them
      {IMGTYPE_Y8, 2, true, false, false, false},
      {IMGTYPE_RAW16, 1, true, false, false, false},
      {IMGTYPE_RGB24, 1, false, true, false, false},  // demosaiced straight into the host's buffer
      {IMGTYPE_Y8, 1, false, true, true, false},
      {IMGTYPE_RGB24, 2, false, true, true, true},
      {IMGTYPE_RAW8, 2, false, true, true, true},
  };
  OpenTavc(kW, kH, 1, IMGTYPE_RGB24, kShortExposureUs);
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "type " << c.type << " bin " << c.bin << (c.fused ? " one pass" : " stages"));
    okc::core::EnableFusedDelivery(c.fused);
    ASSERT_TRUE(setImageFormat(kW, kH, c.bin, c.type));
    startCapture();
    std::vector<uint8_t> image(static_cast<size_t>(kW) * kH * 3);
    ASSERT_TRUE(getImageData(image.data(), static_cast<int>(image.size()), 5000));
    EXPECT_EQ(Cam().workingFrame != nullptr, c.working);
    EXPECT_EQ(Cam().colourFrame != nullptr, c.colour);
    EXPECT_EQ(Cam().binnedColourFrame != nullptr, c.binned);
    stopCapture();
    EXPECT_FALSE(StageFramesMade()) << "kept after the stop";
  }
}

// A format the one pass serves frees what an earlier format's stages made.
TEST_F(SlotDelivery, TheOnePassFreesWhatTheStagesMade) {
  OpenTavc(kW, kH, 1, IMGTYPE_Y8, kShortExposureUs);
  okc::core::EnableFusedDelivery(false);
  startCapture();
  std::vector<uint8_t> image(kW * kH);
  ASSERT_TRUE(getImageData(image.data(), static_cast<int>(image.size()), 5000));
  EXPECT_TRUE(StageFramesMade());
  okc::core::EnableFusedDelivery(true);
  ASSERT_TRUE(getImageData(image.data(), static_cast<int>(image.size()), 5000));
  EXPECT_FALSE(StageFramesMade());
  stopCapture();
}

TEST(FrameQueueLookAhead, TheFrameBehindALentOneIsSeenWhileTheLentSlotStaysUntouched) {
  okc::core::FrameQueue queue(16);
  const uint8_t a[16] = {1}, b[16] = {2}, c[16] = {3};
  uint8_t head[4] = {};
  EXPECT_FALSE(queue.WaitBehindLent(0)) << "no loan";
  ASSERT_TRUE(queue.Push(a, sizeof a));
  uint8_t* lent = queue.LendFront();
  ASSERT_NE(lent, nullptr);
  EXPECT_FALSE(queue.WaitBehindLent(0));
  EXPECT_FALSE(queue.PeekBehindLent(head, sizeof head));
  ASSERT_TRUE(queue.Push(b, sizeof b));
  EXPECT_TRUE(queue.WaitBehindLent(0));
  ASSERT_TRUE(queue.PeekBehindLent(head, sizeof head));
  EXPECT_EQ(head[0], 2);
  EXPECT_FALSE(queue.Push(c, sizeof c)) << "both slots hold frames: the next one is dropped";
  EXPECT_EQ(lent[0], 1);
  queue.ReturnLent();
  ASSERT_EQ(queue.Count(), 1) << "the frame looked at stays queued";
  uint8_t out[16] = {};
  ASSERT_TRUE(queue.Pop(out, sizeof out));
  EXPECT_EQ(out[0], 2);
}

TEST(FrameQueueLookAhead, AWaitBehindALentFrameEndsWithAPushOrAReset) {
  okc::core::FrameQueue queue(16);
  const uint8_t a[16] = {1}, b[16] = {2};
  for (bool reset : {false, true}) {
    SCOPED_TRACE(reset ? "reset" : "push");
    queue.Reset();
    ASSERT_TRUE(queue.Push(a, sizeof a));
    ASSERT_NE(queue.LendFront(), nullptr);
    std::thread other([&] {
      if (reset) queue.Reset();  // a new capture run
      else queue.Push(b, sizeof b);
    });
    // Long enough never to end by itself in a test run.
    EXPECT_TRUE(queue.WaitBehindLent(600000));
    other.join();
    uint8_t head[4] = {};
    EXPECT_EQ(queue.PeekBehindLent(head, sizeof head), !reset) << "a frame of the run that ended has no successor";
    queue.ReturnLent();
  }
}

}  // namespace
