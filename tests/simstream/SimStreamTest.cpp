// The simulated camera's frame stream, seen from the host's side of the seam:
// registers and commands sent as control requests, frames taken with bulk reads.
#include <atomic>
#include <cmath>

#include "StreamRig.h"
#include "sim/SimScene.h"

namespace okc::sim::test {
namespace {

constexpr size_t kRoom = 16384;  // more than any frame here: a read ends with its frame

const SensorProgram kDefault;
constexpr size_t kFrame8 = 64 * 32;

double Mean(const std::vector<uint8_t>& frame) {
  double sum = 0;
  for (size_t i = 4; i < frame.size(); ++i) sum += frame[i];
  return sum / static_cast<double>(frame.size() - 4);
}

class SimStream : public StreamRig {
 protected:
  // The 8-bit frame holds the scene's samples at their sensor places (marker aside).
  void ExpectScene(const std::vector<uint8_t>& frame, const SensorProgram& p,
                   std::optional<uint64_t> exposureUs = std::nullopt) {
    ASSERT_EQ(frame.size(), static_cast<size_t>(p.width * p.height));
    for (size_t i = 4; i < frame.size(); ++i) {
      const int x = p.x + static_cast<int>(i) % p.width, y = p.y + static_cast<int>(i) / p.width;
      ASSERT_EQ(frame[i], Camera().ExpectedSceneValue(x, y, exposureUs) >> 4) << x << "," << y;
    }
  }
};

TEST_F(SimStream, StreamsMarkedFramesOfTheProgrammedWindow) {
  FastClock(20);
  Attach();
  EXPECT_EQ(Camera().ExpectedSceneValue(10, 10), -1);  // nothing programmed: nothing to see
  Program(kDefault);
  Command(kStreamOn);
  for (int i = 0; i < 3; ++i) {
    const std::vector<uint8_t> frame = ReadFrame(kRoom);
    ASSERT_EQ(frame.size(), kFrame8);
    EXPECT_TRUE(HasFrameMarker(frame));
    ExpectScene(frame, kDefault);
  }
  EXPECT_EQ(Camera().LastFrameExposureUs(), static_cast<uint64_t>(std::llround(kDefault.IntegrationUs())));
  EXPECT_GE(Camera().FramesProduced(), 3u);
}

TEST_F(SimStream, SampleWidthAndWindowChangesShowInTheFollowingFrames) {
  FastClock(20);
  Attach();
  Program(kDefault);
  Command(kStreamOn);
  ASSERT_EQ(ReadFrame(kRoom).size(), kFrame8);

  Command(kSamples16);
  std::vector<uint8_t> frame;
  for (int i = 0; i < 4 && frame.size() != 2 * kFrame8; ++i) frame = ReadFrame(kRoom);
  ASSERT_EQ(frame.size(), 2 * kFrame8);
  EXPECT_TRUE(HasFrameMarker(frame));
  for (size_t i = 2; i < kFrame8; ++i) {
    const int x = static_cast<int>(i) % 64, y = 2 + static_cast<int>(i) / 64;
    ASSERT_EQ(frame[2 * i + 1] & 0xF0, 0);
    ASSERT_EQ(frame[2 * i] << 4 | frame[2 * i + 1], Camera().ExpectedSceneValue(x, y));
  }

  WriteRegister(0x3008, 31);  // 32 columns
  for (int i = 0; i < 4 && frame.size() != 2 * 32 * 32; ++i) frame = ReadFrame(kRoom);
  EXPECT_EQ(frame.size(), 2u * 32 * 32);
  EXPECT_EQ(ReadFrame(kRoom).size(), 2u * 32 * 32);  // and it stays
}

TEST_F(SimStream, FramesComeNoSoonerThanTheRegisterFramePeriod) {
  Attach();
  Program(kDefault);  // 20 ms on the real clock
  constexpr int kFrames = 6;
  std::vector<std::unique_ptr<BulkRead>> reads;
  for (int i = 0; i < kFrames; ++i) reads.push_back(std::make_unique<BulkRead>(Link(), kRoom));
  const uint64_t start = platform::TickCountMs();
  Command(kStreamOn);
  for (auto& read : reads) {
    ASSERT_TRUE(read->io->Wait(kPatienceMs));
    EXPECT_EQ(read->Received().size(), kFrame8);
  }
  const uint64_t elapsed = platform::TickCountMs() - start;
  EXPECT_GE(elapsed + 1, kFrames * kDefault.FramePeriodUs() / 1000);
  EXPECT_LT(elapsed, kFrames * kDefault.FramePeriodUs() / 1000 + 2000);
  EXPECT_EQ(Camera().FramesDroppedAtDevice(), 0u);  // every frame found a read waiting
}

TEST_F(SimStream, EndOfLongExposureOutsideOneRestartsTheFrameInProgress) {
  FastClock(50);
  Attach();
  SensorProgram p;
  p.integrationLines = 2900;  // stretches the frame to about one second
  Program(p);
  const double periodMs = (p.integrationLines + 1) * p.lineLength / 48.0 / 1000;
  Command(kStreamOn);
  platform::SleepMs(300);
  const uint64_t restarted = platform::TickCountMs();  // no later than the camera's restart
  Command(kLongExposureEnd);
  ASSERT_EQ(ReadFrame(kRoom).size(), kFrame8);
  EXPECT_GE(platform::TickCountMs() - restarted + 1, periodMs);
  EXPECT_EQ(Camera().FramesProduced(), 1u);
}

TEST_F(SimStream, NothingStreamsBeforeStreamOnOrAfterStreamOff) {
  FastClock(20);
  Attach();
  Program(kDefault);
  platform::SleepMs(5 * 20);
  EXPECT_EQ(Camera().FramesProduced(), 0u);

  Command(kStreamOn);
  ASSERT_EQ(ReadFrame(kRoom).size(), kFrame8);
  Command(kStreamOff);
  const uint64_t produced = Camera().FramesProduced();
  platform::SleepMs(5 * 20);
  EXPECT_EQ(Camera().FramesProduced(), produced);
  EXPECT_EQ(Camera().PendingBulkBytes(), 0u);
  EXPECT_TRUE(ReadFrame(kRoom, 20).empty());
}

TEST_F(SimStream, LongExposureDeliversOneHostTimedFrameThenNormalFramesResume) {
  FastClock(100);
  Attach();
  Program(kDefault);
  Command(kStreamOn);
  const std::vector<uint8_t> normal = ReadFrame(kRoom);
  ASSERT_EQ(normal.size(), kFrame8);

  Command(kLongExposureBegin);
  const uint64_t produced = Camera().FramesProduced();
  platform::SleepMs(2000);
  EXPECT_EQ(Camera().FramesProduced(), produced);  // no frames while the host times the exposure
  // A normal frame finished before 0xAE may still wait on the device: take it first.
  while (Camera().PendingBulkBytes() > 0) ASSERT_EQ(ReadFrame(kRoom).size(), kFrame8);

  const uint64_t ended = platform::TickCountMs();  // no later than the camera's end of exposure
  Command(kLongExposureEnd);
  // Nobody reads yet: the frame waits on the device and the normal frames after it are dropped.
  ASSERT_TRUE(Eventually([this] { return Camera().PendingBulkBytes() > 0; }));
  EXPECT_GE(platform::TickCountMs() - ended + 1, kDefault.FramePeriodUs() / 1000);  // after its readout
  const uint64_t exposureUs = Camera().LastFrameExposureUs();
  EXPECT_GE(exposureUs, 2000000u);
  const std::vector<uint8_t> exposed = ReadFrame(kRoom);
  ASSERT_EQ(exposed.size(), kFrame8);
  EXPECT_TRUE(HasFrameMarker(exposed));
  ExpectScene(exposed, kDefault, exposureUs);
  EXPECT_GT(Mean(exposed), 4 * Mean(normal));

  ASSERT_EQ(ReadFrame(kRoom).size(), kFrame8);
  EXPECT_EQ(Camera().LastFrameExposureUs(), static_cast<uint64_t>(std::llround(kDefault.IntegrationUs())));
}

TEST_F(SimStream, FramesTheHostDoesNotTakeAreDroppedAtTheDevice) {
  FastClock(20);
  Attach();
  Program(kDefault);
  Command(kStreamOn);
  ASSERT_TRUE(Eventually([this] { return Camera().FramesProduced() >= 4; }));
  Command(kStreamOff);
  EXPECT_EQ(Camera().FramesDroppedAtDevice(), Camera().FramesProduced() - 1);
  EXPECT_EQ(Camera().PendingBulkBytes(), kFrame8);  // one frame waits, no more
  const std::vector<uint8_t> frame = ReadFrame(kRoom);
  EXPECT_EQ(frame.size(), kFrame8);
  EXPECT_TRUE(HasFrameMarker(frame));
  EXPECT_EQ(Camera().PendingBulkBytes(), 0u);
}

TEST_F(SimStream, FaultFramesWithoutMarkerOrShort) {
  FastClock(20);
  Attach();
  Program(kDefault);
  Camera().DropMarkerOfNextFrames(1);
  Camera().ShortenNextFrames(2);
  Command(kStreamOn);

  const std::vector<uint8_t> first = ReadFrame(kRoom);
  ASSERT_EQ(first.size(), kFrame8 / 2);
  EXPECT_FALSE(HasFrameMarker(first));
  EXPECT_EQ(first[0], Camera().ExpectedSceneValue(0, 2) >> 4);  // a pixel where the marker belongs

  const std::vector<uint8_t> second = ReadFrame(kRoom);
  ASSERT_EQ(second.size(), kFrame8 / 2);
  EXPECT_TRUE(HasFrameMarker(second));

  const std::vector<uint8_t> third = ReadFrame(kRoom);
  EXPECT_EQ(third.size(), kFrame8);
  EXPECT_TRUE(HasFrameMarker(third));
}

TEST_F(SimStream, FaultStalledStreamSendsNothingUntilCleared) {
  FastClock(20);
  Attach();
  Program(kDefault);
  Camera().SetStreamStalled(true);
  Command(kStreamOn);
  platform::SleepMs(5 * 20);
  EXPECT_TRUE(ReadFrame(kRoom, 10).empty());
  EXPECT_EQ(Camera().FramesProduced(), 0u);

  Camera().SetStreamStalled(false);
  const std::vector<uint8_t> frame = ReadFrame(kRoom);
  EXPECT_EQ(frame.size(), kFrame8);
  EXPECT_TRUE(HasFrameMarker(frame));
}

TEST_F(SimStream, FaultDeviceDisappearsAfterItsLastFrames) {
  FastClock(20);
  Attach();
  Program(kDefault);
  Camera().UnplugAfterFrames(2);
  Command(kStreamOn);
  EXPECT_EQ(ReadFrame(kRoom).size(), kFrame8);
  EXPECT_EQ(ReadFrame(kRoom).size(), kFrame8);
  ASSERT_TRUE(Eventually([this] { return Camera().Unplugged(); }));

  BulkRead after(Link(), kRoom);
  ASSERT_TRUE(after.io->Wait(kPatienceMs));
  EXPECT_EQ(after.io->Result().error, usb::kErrNoDevice);
  platform::SleepMs(5 * 20);
  EXPECT_EQ(Camera().FramesProduced(), 2u);
  EXPECT_FALSE(VendorOut(Link(), kStreamOn));

  // Zero frames: at once.
  OpenedCamera other = AttachAndOpen(*bus_, Model::TAVC);
  other.camera->UnplugAfterFrames(0);
  EXPECT_TRUE(other.camera->Unplugged());
}

TEST_F(SimStream, UsbThreeFramesEndWithTheTrailer) {
  FastClock(20);
  Attach(Model::TAVC_U);
  Program(kDefault);
  Command(kStreamOn);
  const std::vector<uint8_t> frame = ReadFrame(kRoom);
  ASSERT_EQ(frame.size(), kFrame8);
  EXPECT_TRUE(HasFrameMarker(frame));
  EXPECT_EQ(std::vector<uint8_t>(frame.end() - 4, frame.end()), (std::vector<uint8_t>{0xBB, 0x00, 0xAA, 0x11}));
}

TEST_F(SimStream, MonoSensorFollowsItsGlobalGainAndOtherModelsDoNotStream) {
  Attach(Model::TAVM);
  Program(kDefault);
  const int once = Camera().ExpectedSceneValue(100, 100);
  WriteRegister(0x305E, 64);
  EXPECT_NEAR(Camera().ExpectedSceneValue(100, 100), 2 * once, 1);

  OpenedCamera other = AttachAndOpen(*bus_, Model::PIMC);
  ASSERT_TRUE(VendorOut(*other.link, kStreamOn));
  platform::SleepMs(30);
  EXPECT_EQ(other.camera->FramesProduced(), 0u);
  EXPECT_EQ(other.camera->ExpectedSceneValue(100, 100), -1);
}

TEST_F(SimStream, CoveredLensLeavesHotPixelsAndNoiseShowsInFrames) {
  Attach();
  SensorProgram p;
  p.integrationLines = 2900;  // about a second
  Program(p);
  const SensorPixel hot = Camera().HotPixels().front();
  const int open = Camera().ExpectedSceneValue(hot.x + 2, hot.y);
  Camera().SetLensCovered(true);
  EXPECT_LT(Camera().ExpectedSceneValue(hot.x + 2, hot.y), open / 10);
  EXPECT_GT(Camera().ExpectedSceneValue(hot.x, hot.y), 10 * Camera().ExpectedSceneValue(hot.x + 2, hot.y));

  FastClock(20);
  Camera().SetLensCovered(false);
  Camera().SetSceneNoise(true);
  Command(kStreamOn);
  const std::vector<uint8_t> a = ReadFrame(kRoom), b = ReadFrame(kRoom);
  ASSERT_EQ(a.size(), kFrame8);
  ASSERT_EQ(b.size(), kFrame8);
  EXPECT_NE(a, b);
}

TEST_F(SimStream, DestroyingAStreamingCameraEndsItsThreadPromptly) {
  Attach();
  SensorProgram p;
  p.integrationLines = 2900;  // the next frame is a second away
  Program(p);
  Command(kStreamOn);
  platform::SleepMs(5);
  const auto start = std::chrono::steady_clock::now();
  c_.link.reset();
  bus_->Detach(c_.camera);
  c_.camera.reset();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
}

TEST_F(SimStream, HostCaptureAndTestThreadsShareTheStream) {
  FastClock(20);
  Attach();
  Program(kDefault);
  Command(kStreamOn);
  std::atomic<bool> done{false};
  std::atomic<int> good{0}, bad{0};
  std::thread capture([&] {
    while (!done) {
      const std::vector<uint8_t> frame = ReadFrame(kRoom, 50);
      if (frame.empty()) continue;
      const bool ok = HasFrameMarker(frame) && (frame.size() == kFrame8 || frame.size() == 2 * kFrame8);
      (ok ? good : bad)++;
    }
  });
  for (int i = 0; i < 20; ++i) {
    Command(i % 2 ? kSamples16 : kSamples8);
    Command(kLongExposureEnd);
    WriteRegister(0x3012, static_cast<uint16_t>(5 + i));
    Camera().FramesProduced();
    Camera().ExpectedSceneValue(i, 2);
    if (i % 5 == 0) {
      Command(kStreamOff);
      Command(kStreamOn);
    }
  }
  ASSERT_TRUE(Eventually([&] { return good >= 5; }));
  done = true;
  capture.join();
  EXPECT_EQ(bad, 0);
}

}  // namespace
}  // namespace okc::sim::test
