// Frames from the PIMC family: every format at bin 1 and 2 against the
// simulated scene, host-timed exposures on a clock the test moves, and the
// recovery after 22 bad frames in a row.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <numeric>
#include <string>
#include <vector>

#include "PimcFixture.h"
#include "support/ClockPump.h"

namespace okc::test {
namespace {

constexpr int kW = 160, kH = 120;

class PimcStream : public PimcTest, public ::testing::WithParamInterface<PimcModel> {
 protected:
  void SetUp() override {
    PimcTest::SetUp();
    Open(GetParam());
    ASSERT_TRUE(SetMisc(false, false));
    setValue(CTRL_GAIN, 100, false);  // 22x: a 20 ms frame shows the sky
    setValue(CTRL_EXPOSURE, 20000, false);
  }
  void TearDown() override {
    stopCapture();
    PimcTest::TearDown();
  }

  // Sum of the 2 x 2 block of expected samples under output pixel i of a bin-2 image.
  static int Block(const std::vector<int>& e, size_t i, int shift) {
    const size_t x = i % kW, y = i / kW, w = 2 * kW;
    return (e[2 * y * w + 2 * x] >> shift) + (e[2 * y * w + 2 * x + 1] >> shift) +
           (e[(2 * y + 1) * w + 2 * x] >> shift) + (e[(2 * y + 1) * w + 2 * x + 1] >> shift);
  }
};
INSTANTIATE_TEST_SUITE_P(Family, PimcStream, ::testing::Values(kPimc, kSelc, kSelm),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_P(PimcStream, RawFramesAtBinOneAndTwoCarryTheScene) {
  const bool mono = !GetParam().colour;
  // 8-bit: the top 8 of the 10 bits; the first 4 bytes are repaired from 4 rows down.
  ASSERT_TRUE(Cam().SetResolution(kW, kH, 1, IMAGE_8BIT));
  Cam().rawOutput = true;
  std::vector<int> e = Expected();
  std::vector<uint8_t> f = Frame(kW * kH);
  for (size_t i = 4; i < f.size(); ++i) ASSERT_EQ(f[i], e[i] >> 2) << i;
  EXPECT_GT(std::accumulate(f.begin(), f.end(), 0.0) / f.size(), 5.0);

  // 16-bit: the 10-bit value, high byte first on the wire.
  ASSERT_TRUE(Cam().SetResolution(kW, kH, 1, IMAGE_16BIT));
  e = Expected();
  f = Frame(2 * kW * kH);
  for (size_t i = 2; i < e.size(); ++i) ASSERT_EQ(Sample16(f, i), e[i]) << i;

  // Bin 2 sums 2 x 2 samples: 16-bit in full, a mono 8-bit image saturating at 255.
  ASSERT_TRUE(Cam().SetResolution(kW, kH, 2, IMAGE_16BIT));
  e = Expected();
  f = Frame(2 * kW * kH);
  for (size_t i = 1; i < e.size() / 4; ++i) ASSERT_EQ(Sample16(f, i), Block(e, i, 0)) << i;
  if (mono) {
    ASSERT_TRUE(Cam().SetResolution(kW, kH, 2, IMAGE_8BIT));
    e = Expected();
    f = Frame(kW * kH);
    // Pixels 0 and 1 hold the repaired marker bytes.
    for (size_t i = 2; i < f.size(); ++i) ASSERT_EQ(f[i], std::min(Block(e, i, 2), 255)) << i;
    // The spread 16-bit output: three 10-bit fields, the binned sum limited to 1023.
    ASSERT_TRUE(Cam().SetResolution(kW, kH, 2, IMAGE_16BIT_ALT));
    e = Expected();
    f = Frame(4 * kW * kH);
    for (size_t i = 1; i < e.size() / 4; ++i) {
      uint32_t word;
      std::memcpy(&word, &f[4 * i], 4);
      ASSERT_EQ(word, static_cast<uint32_t>(std::min(Block(e, i, 0), 1023)) * 0x100401u) << i;
    }
  }
}

TEST_P(PimcStream, SixteenBitSamplesForEightBitOutputAreLimitedTo255) {
  ASSERT_TRUE(Cam().SetResolution(kW, kH, 1, IMAGE_8BIT));
  Cam().rawOutput = true;
  ASSERT_TRUE(Cam().SetOutput16Bits(true));
  const std::vector<int> e = Expected();
  const std::vector<uint8_t> f = Frame(kW * kH);
  int above255 = 0;
  for (size_t i = 2; i < f.size(); ++i) {
    ASSERT_EQ(f[i], std::min(e[i], 255)) << i;
    above255 += e[i] > 255;
  }
  EXPECT_GT(above255, 0);
}

TEST_P(PimcStream, AutomaticExposureBrightensADarkSky) {
  ASSERT_TRUE(Cam().SetResolution(kW, kH, 1, IMAGE_8BIT));
  setValue(CTRL_GAIN, 1, false);
  setValue(CTRL_EXPOSURE, 2000, true);
  startCapture();
  // Steps come about every 200 ms of frames, each lengthening by at most half.
  EXPECT_TRUE(WaitUntil([&] { return Cam().exposure > 8000; }, 30000));
  stopCapture();  // no step half-way through its writes
  EXPECT_EQ(LastWrite(0x0B), static_cast<int>(Cam().ExposureRows(Cam().exposure)));
}

TEST_P(PimcStream, ColourAndLuminanceFramesHaveTheirSizeAndTheSensorsGreen) {
  if (!GetParam().colour) {
    // SELM: grey colour frames, and no luma/chroma output.
    ASSERT_TRUE(Cam().SetResolution(kW, kH, 1, IMAGE_RGB24));
    const std::vector<int> e = Expected();
    const std::vector<uint8_t> f = Frame(3 * kW * kH);
    for (size_t i = 4; i < e.size(); ++i) ASSERT_EQ(f[3 * i + 1], e[i] >> 2) << i;
    return;
  }
  // Colour at bin 1: a green site keeps its own sample (B G / G R: green where x + y is odd).
  ASSERT_TRUE(Cam().SetResolution(kW, kH, 1, IMAGE_RGB24));
  const std::vector<int> e = Expected();
  const std::vector<uint8_t> rgb = Frame(3 * kW * kH);
  for (int y = 1; y < kH; ++y)
    for (int x = (y + 1) & 1; x < kW; x += 2) {
      const size_t i = static_cast<size_t>(y) * kW + x;
      ASSERT_EQ(rgb[3 * i + 1], e[i] >> 2) << x << "," << y;
    }
  const auto mean = [](const std::vector<uint8_t>& v) { return std::accumulate(v.begin(), v.end(), 0.0) / v.size(); };
  // Luminance, and both at bin 2 (sums of four pixels: brighter).
  ASSERT_TRUE(Cam().SetResolution(kW, kH, 1, IMAGE_8BIT));
  Cam().rawOutput = false;
  const double y8 = mean(Frame(kW * kH));
  EXPECT_NEAR(y8, mean(rgb), mean(rgb) * 0.5);
  ASSERT_TRUE(Cam().SetResolution(kW, kH, 2, IMAGE_RGB24));
  EXPECT_GT(mean(Frame(3 * kW * kH)), 2 * mean(rgb));
  ASSERT_TRUE(Cam().SetResolution(kW, kH, 2, IMAGE_8BIT));
  EXPECT_GT(mean(Frame(kW * kH)), 2 * y8);
}

TEST_P(PimcStream, TwentyTwoBadFramesInARowResetThePortOnce) {
  ASSERT_TRUE(Cam().SetResolution(kW, kH, 1, IMAGE_8BIT));
  Cam().rawOutput = true;
  const std::vector<int> e = Expected();
  std::vector<uint8_t> f(kW * kH);
  startCapture();
  ASSERT_TRUE(getImageData(f.data(), kW * kH, 3000));
  // 21 short frames: counted, never delivered, no reset.
  sim->ShortenNextFrames(21);
  ASSERT_TRUE(WaitUntil([&] { return sim->FramesProduced() - sim->FramesDroppedAtDevice() > 30; }));
  EXPECT_EQ(sim->PortResets(), 0);
  sim->ClearRequests();
  sim->ShortenNextFrames(22);
  ASSERT_TRUE(WaitUntil([&] { return sim->PortResets() == 1; }));
  // Frames come again, whole; nothing short ever reached the host.
  int delivered = 0;
  while (delivered < 5 && getImageData(f.data(), kW * kH, 3000)) {
    ++delivered;
    for (size_t i = 4; i < f.size(); ++i) ASSERT_EQ(f[i], e[i] >> 2) << i;
  }
  EXPECT_EQ(delivered, 5);
  EXPECT_EQ(sim->PortResets(), 1);
  // After frames that did not arrive whole: end any host-timed exposure, restart the sensor.
  EXPECT_EQ(CommandCount(0xAF), 1u);
  EXPECT_EQ(LastWrite(0x0C), 1);
  EXPECT_EQ(LastWrite(0x07), 0x188);
}

// ---- host-timed exposures, on a clock the test moves ----

class PimcLongExposure : public PimcTest {
 protected:
  void Start(const PimcModel& model, uint64_t exposureUs) {
    Open(model);
    ASSERT_TRUE(setImageFormat(kW, kH, 1, IMGTYPE_RAW8));
    okc::platform::UseClock(clock_);
    pump_.Start();
    Cam().SetExp(exposureUs, false);
    ASSERT_TRUE(Cam().longExposure);
    sim->ClearRequests();
    startCapture();
    ASSERT_TRUE(WaitUntil([&] { return CommandCount(0xAE) == 1; }));
  }
  void TearDown() override {
    stopCapture();
    pump_.Stop();
    clock_->RunFree();
    PimcTest::TearDown();
  }
  uint64_t BeginMs() const { return sim->VendorRequests(0xAE).front().timeMs; }
  // Clock time from the exposure's start (0xAE) to its end (the next 0xAF), 0 while it runs.
  uint64_t TimedMs() const {
    for (const auto& r : sim->VendorRequests(0xAF))
      if (r.timeMs >= BeginMs()) return r.timeMs - BeginMs();
    return 0;
  }

  std::shared_ptr<okc::platform::ManualClock> clock_ = std::make_shared<okc::platform::ManualClock>();
  // The worker and the auto-adjustment thread sleep on the clock; waiting for
  // one more paces the clock at 50 ms per 5 ms of real time.
  okc::test::ClockPump pump_{clock_, 50, 3};
};

TEST_F(PimcLongExposure, StopInTheMiddleEndsTheExposureAtOnce) {
  Start(kSelc, 600000000);
  // The shutter is parked at 0x6000 rows before the controller starts timing.
  EXPECT_EQ(LastWrite(0x0B), 0x6000);
  ASSERT_TRUE(WaitUntil([&] { return clock_->NowMs() >= BeginMs() + 10000; }));
  stopCapture();
  EXPECT_FALSE(Cam().capturing);
  ASSERT_GE(CommandCount(0xAF), 2u) << "one before streaming, one ending the exposure";
  EXPECT_GE(TimedMs(), 10000u);
  // Ended soon after the stop, not after 600 s. (The clock goes on while
  // stopCapture saves the settings, so only a loose bound is exact here.)
  EXPECT_LT(TimedMs(), 100000u);
  std::vector<uint8_t> f(kW * kH);
  EXPECT_FALSE(getImageData(f.data(), kW * kH, 0));
}

TEST_F(PimcLongExposure, TheWholeExposureIsTimedAndItsFrameDelivered) {
  // 4 steps of 500 ms and the 300 ms left over.
  Start(kSelc, 2300000);
  std::vector<uint8_t> f(kW * kH);
  ASSERT_TRUE(getImageData(f.data(), kW * kH, 0xFFFFFFFF));
  EXPECT_GE(TimedMs(), 2300u);
  EXPECT_TRUE(Cam().longExposure) << "still too long for the shutter";
  // A new short exposure ends host timing after the frame in progress.
  Cam().SetExp(20000, false);
  ASSERT_TRUE(WaitUntil([&] { return !Cam().longExposure.load(); }));
  EXPECT_EQ(LastWrite(0x0B), static_cast<int>(Cam().ExposureRows(20000)));
}

}  // namespace
}  // namespace okc::test
