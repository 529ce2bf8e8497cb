// Frames from RENM against the simulated scene, the black-level freeze after
// a gain change, host-timed exposures on a clock the test moves, and the
// port resets after runs of bad frames.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <numeric>
#include <vector>

#include "RenmFixture.h"
#include "support/ClockPump.h"

namespace okc::test {
namespace {

constexpr int kW = 160, kH = 120;

class RenmStream : public RenmTest {
 protected:
  void SetUp() override {
    RenmTest::SetUp();
    Open();
    ASSERT_TRUE(SetMisc(false, false));
    setValue(CTRL_GAIN, 100, false);  // a 20 ms frame shows the sky
    setValue(CTRL_EXPOSURE, 20000, false);
  }
  void TearDown() override {
    stopCapture();
    RenmTest::TearDown();
  }

  // Sum of the 2 x 2 block of expected samples (shifted right by `shift`) under output pixel i of a bin-2 image.
  static int Block(const std::vector<int>& e, size_t i, int shift) {
    const size_t x = i % kW, y = i / kW, w = 2 * kW;
    return (e[2 * y * w + 2 * x] >> shift) + (e[2 * y * w + 2 * x + 1] >> shift) +
           (e[(2 * y + 1) * w + 2 * x] >> shift) + (e[(2 * y + 1) * w + 2 * x + 1] >> shift);
  }
};

TEST_F(RenmStream, RawFramesCarryTheSceneWithTheMarkerRepairedFromRowsBelow) {
  // 8-bit: the top 8 of the 10 bits; the marker's 4 bytes come from 16 rows down.
  ASSERT_TRUE(setImageFormat(kW, kH, 1, IMGTYPE_RAW8));
  std::vector<int> e = Expected();
  EXPECT_EQ(sim->Sensor().width, kW);
  std::vector<uint8_t> f = Frame(kW * kH);
  for (size_t i = 0; i < 4; ++i) ASSERT_EQ(f[i], e[16 * kW + i] >> 2) << i;
  for (size_t i = 4; i < f.size(); ++i) ASSERT_EQ(f[i], e[i] >> 2) << i;
  EXPECT_GT(std::accumulate(f.begin(), f.end(), 0.0) / f.size(), 5.0);

  // 16-bit raw: the whole word as the sensor sends it (the 10 bits at the top);
  // the marker's two samples come from 4 rows down.
  ASSERT_TRUE(setImageFormat(kW, kH, 1, IMGTYPE_RAW16));
  e = Expected();
  f = Frame(2 * kW * kH);
  for (size_t i = 0; i < 2; ++i) ASSERT_EQ(Sample16(f, i), e[4 * kW + i] << 6) << i;
  for (size_t i = 2; i < e.size(); ++i) ASSERT_EQ(Sample16(f, i), e[i] << 6) << i;
}

TEST_F(RenmStream, BinnedFramesSumTheirSamplesAndSaturate) {
  // Luminance at bin 2: a mono camera sums 2 x 2 bytes, limited to 255.
  ASSERT_TRUE(setImageFormat(kW, kH, 2, IMGTYPE_Y8));
  std::vector<int> e = Expected();
  EXPECT_EQ(sim->Sensor().width, 2 * kW);
  std::vector<uint8_t> f = Frame(kW * kH);
  int saturated = 0;
  for (size_t i = 2; i < f.size(); ++i) {
    ASSERT_EQ(f[i], std::min(Block(e, i, 2), 255)) << i;
    saturated += f[i] == 255;
  }
  EXPECT_LT(saturated, static_cast<int>(f.size()));

  // 16-bit words at bin 2: sums limited to 65535.
  ASSERT_TRUE(setImageFormat(kW, kH, 2, IMGTYPE_RAW16));
  e = Expected();
  f = Frame(2 * kW * kH);
  for (size_t i = 2; i < e.size() / 4; ++i) ASSERT_EQ(Sample16(f, i), std::min(Block(e, i, 0) << 6, 65535)) << i;

  // The spread output: the 10-bit sums, limited to 1023, in three fields.
  ASSERT_TRUE(Cam().SetResolution(kW, kH, 2, IMAGE_16BIT_ALT));
  e = Expected();
  f = Frame(4 * kW * kH);
  for (size_t i = 2; i < e.size() / 4; ++i) {
    uint32_t word;
    std::memcpy(&word, &f[4 * i], 4);
    ASSERT_EQ(word, static_cast<uint32_t>(std::min(Block(e, i, 0), 1023)) * 0x100401u) << i;
  }
}

TEST_F(RenmStream, TheCalibrationAfterAGainChangeIsFrozenAfter800MsOfFrameWaits) {
  ASSERT_TRUE(setImageFormat(kW, kH, 1, IMGTYPE_RAW8));
  // Shorter than the frame: each frame adds the frame time plus 2 ms, 3 ms, to the timer.
  setValue(CTRL_EXPOSURE, 1000, false);
  ASSERT_EQ(Cam().FrameTimeUs() / 1000 + 2, 3u);
  startCapture();
  // The calibration InitCamera started is frozen first.
  ASSERT_TRUE(WaitUntil([&] { return LastWrite(0x64) != -1; }));

  sim->ClearRequests();
  const uint64_t framesBefore = sim->FramesProduced();
  setValue(CTRL_GAIN, 60, false);
  // The gain write starts the sensor's calibration; its offsets can be read at once.
  std::vector<std::pair<int, int>> w = Writes();
  ASSERT_EQ(w.size(), 2u);
  EXPECT_EQ(w[0], std::make_pair(0x35, 94));
  EXPECT_EQ(w[1], std::make_pair(0x62, 0x1498));
  std::vector<int> calibrated;
  for (uint16_t reg : {0x60, 0x61, 0x63, 0x64})
    calibrated.push_back(static_cast<signed char>(sim->Register(reg) & 0xFF));
  const int first = std::max(calibrated[0], calibrated[1]);
  const int second = std::max(calibrated[2], calibrated[3]);
  ASSERT_NE(first, second) << "the sensor's offsets tell the pairs apart";

  ASSERT_TRUE(WaitUntil([&] { return sim->Register(0x62) == 0x499; }));
  ASSERT_TRUE(WaitUntil([&] { return LastWrite(0x64) != -1; }));
  // At least 267 frames of 3 ms went by first, less the two that may already
  // have left the sensor when the gain changed (one in the host's transfers,
  // one in the controller) and still count towards the calibration's wait.
  EXPECT_GE(sim->FramesProduced() - framesBefore, 267u - 2);
  w = Writes();
  const auto u16 = [](int v) { return static_cast<int>(static_cast<uint16_t>(static_cast<int16_t>(v))); };
  const std::vector<std::pair<int, int>> frozen = {
      {0x62, 0x499}, {0x60, u16(first)}, {0x61, u16(first)}, {0x63, u16(second)}, {0x64, u16(second)}};
  ASSERT_GE(w.size(), 7u);
  EXPECT_EQ((std::vector<std::pair<int, int>>(w.begin() + 2, w.begin() + 7)), frozen);

  // Still automatic for the host, with the frozen offsets in the sensor.
  bool automatic = false;
  signed char o[4] = {};
  ASSERT_TRUE(Cam().GetBLOffset(&automatic, &o[0], &o[1], &o[2], &o[3]));
  EXPECT_TRUE(automatic);
  EXPECT_EQ(std::vector<int>(o, o + 4), (std::vector<int>{first, first, second, second}));
  {
    std::lock_guard lock(Cam().SensorLock());
    EXPECT_FALSE(Cam().blackLevelFrozen);
  }
  // Frames keep coming.
  std::vector<uint8_t> f(kW * kH);
  EXPECT_TRUE(getImageData(f.data(), kW * kH, 3000));
}

TEST_F(RenmStream, TheCompanionBrightensADarkSkyThroughTheExposure) {
  ASSERT_TRUE(setImageFormat(kW, kH, 1, IMGTYPE_RAW8));
  setValue(CTRL_GAIN, 1, false);
  setValue(CTRL_EXPOSURE, 2000, true);
  startCapture();
  // A step about every 200 ms, each lengthening by at most half.
  EXPECT_TRUE(WaitUntil([&] { return Cam().exposure > 8000; }, 30000));
  stopCapture();  // no step half-way through its writes
  EXPECT_EQ(LastWrite(0x09), static_cast<int>(Cam().ExposureRows(Cam().exposure)));
  EXPECT_EQ(Cam().gain, 1) << "automatic gain is off";
}

TEST_F(RenmStream, TheStreamStartsInNormalReadModeAtTheWindowSize) {
  ASSERT_TRUE(setImageFormat(kW, kH, 1, IMGTYPE_RAW8));
  sim->ClearRequests();
  startCapture();
  ASSERT_TRUE(WaitUntil([&] { return CommandCount(0xA9) == 1; }));
  const std::vector<okc::sim::LoggedRequest> log = sim->VendorRequests();
  ASSERT_GE(log.size(), 3u);
  EXPECT_EQ(log[0].request, 0xAF);
  EXPECT_EQ(std::make_pair(int{log[1].request}, int{log[1].value}), std::make_pair(0xA6, 0x1E));
  EXPECT_EQ(log[1].index, 0x8000);
  stopCapture();
  EXPECT_EQ(CommandCount(0xAA), 1u);
}

TEST_F(RenmStream, RunsOfUnmarkedOrIncompleteFramesResetThePort) {
  ASSERT_TRUE(setImageFormat(kW, kH, 1, IMGTYPE_RAW8));
  const std::vector<int> e = Expected();
  std::vector<uint8_t> f(kW * kH);
  startCapture();
  ASSERT_TRUE(getImageData(f.data(), kW * kH, 3000));

  // A run of unmarked frames: the port is reset, the sensor restarts, the stream goes on.
  sim->ClearRequests();
  sim->DropMarkerOfNextFrames(40);
  ASSERT_TRUE(WaitUntil([&] { return sim->PortResets() >= 1 && LastWrite(0x0B) == 1; }));
  EXPECT_EQ(CommandCount(0xAF), 0u);

  // A run of short frames: end any host-timed exposure, then restart in normal read mode.
  const int resets = sim->PortResets();
  sim->ClearRequests();
  sim->ShortenNextFrames(40);
  ASSERT_TRUE(WaitUntil([&] { return sim->PortResets() > resets && LastWrite(0x1E) != -1; }));
  EXPECT_GE(CommandCount(0xAF), 1u);
  EXPECT_EQ(LastWrite(0x0B), 1);
  EXPECT_EQ(LastWrite(0x1E), 0x8000);
  const uint64_t produced = sim->FramesProduced();
  ASSERT_TRUE(WaitUntil([&] { return sim->FramesProduced() > produced + 120; }));

  // Whole frames come again; nothing bad ever reached the host.
  int delivered = 0;
  while (delivered < 3 && getImageData(f.data(), kW * kH, 3000)) {
    ++delivered;
    for (size_t i = 4; i < f.size(); ++i) ASSERT_EQ(f[i], e[i] >> 2) << i;
  }
  EXPECT_EQ(delivered, 3);
}

// ---- host-timed exposures, on a clock the test moves ----

class RenmLongExposure : public RenmTest {
 protected:
  void TearDown() override {
    stopCapture();
    pump_.Stop();
    clock_->RunFree();
    RenmTest::TearDown();
  }
  std::shared_ptr<okc::platform::ManualClock> clock_ = std::make_shared<okc::platform::ManualClock>();
  // The worker and the companion sleep on the clock.
  okc::test::ClockPump pump_{clock_, 50, 3};
};

TEST_F(RenmLongExposure, TheSensorIsTriggeredAndLeavesTheModeAtTheClockChosen) {
  Open();
  ASSERT_TRUE(setImageFormat(kW, kH, 1, IMGTYPE_RAW8));
  okc::platform::UseClock(clock_);
  pump_.Start();
  Cam().SetExp(1200000, false);
  ASSERT_TRUE(Cam().longExposure);
  sim->ClearRequests();
  startCapture();
  ASSERT_TRUE(WaitUntil([&] { return CommandCount(0xAE) == 1; }));
  // Parked shutter, triggered read mode, restart, then the controller times it.
  const std::vector<std::pair<int, int>> w = Writes();
  const std::vector<std::pair<int, int>> parked = {{0x1E, 0x8100}, {0x09, 0x3000}, {0x1E, 0x8100}, {0x0B, 1}};
  ASSERT_GE(w.size(), parked.size());
  EXPECT_EQ((std::vector<std::pair<int, int>>(w.begin(), w.begin() + 4)), parked);

  std::vector<uint8_t> f(kW * kH);
  ASSERT_TRUE(getImageData(f.data(), kW * kH, 0xFFFFFFFF));
  const uint64_t beginMs = sim->VendorRequests(0xAE).front().timeMs;
  uint64_t endMs = 0;
  for (const auto& r : sim->VendorRequests(0xAF))
    if (r.timeMs >= beginMs) endMs = r.timeMs;
  EXPECT_GE(endMs - beginMs, 1200u);

  // A short exposure: after the frame in progress, back to the 48 MHz clock and normal reading.
  sim->ClearRequests();
  Cam().SetExp(20000, false);
  ASSERT_TRUE(WaitUntil([&] { return !Cam().longExposure.load(); }));
  EXPECT_EQ(CommandCount(0xA4), 1u);
  EXPECT_EQ(LastWrite(0x1E), 0x8000);
  EXPECT_EQ(LastWrite(0x09), static_cast<int>(Cam().ExposureRows(20000)));
  EXPECT_EQ(LastWrite(0x35), 88) << "the gain (50) is applied again after each long exposure";
}

}  // namespace
}  // namespace okc::test
