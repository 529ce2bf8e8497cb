// Capture runs on the simulated TAVC through the exported functions: frames
// in every format compared with the scene, drops, stream faults, the
// companion thread's writes, saved settings, stopping, closing, unplugging
// and long exposures timed by the host.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "capture/CaptureFixture.h"
#include "support/ClockPump.h"
#include "imaging/Binning.h"
#include "imaging/ColourConvert.h"
#include "imaging/Demosaic.h"
#include "platform/SettingsStore.h"

namespace {

using okc::test::CaptureTest;
using Clock = std::chrono::steady_clock;

constexpr int kW = 320;
constexpr int kH = 240;
constexpr int kTavcBayer = 2;

size_t BytesPerPixel(IMG_TYPE type) { return type == IMGTYPE_RGB24 ? 3 : type == IMGTYPE_RAW16 ? 2 : 1; }

// What the camera should deliver for the scene's samples of the sensor window
// (noiseless, unflipped unless flipRow), built from the image stages.
std::vector<uint8_t> ExpectedImage(const std::vector<int>& samples, IMG_TYPE type, int bin, bool flipRow) {
  const int sw = kW * bin, sh = kH * bin;
  std::vector<uint8_t> out(static_cast<size_t>(kW) * kH * BytesPerPixel(type));
  if (type == IMGTYPE_RAW16) {
    std::vector<uint16_t> raw(samples.size());
    for (size_t i = 0; i < samples.size(); ++i) raw[i] = static_cast<uint16_t>(samples[i] << 4);
    okc::imaging::SoftBinRaw({reinterpret_cast<uint8_t*>(raw.data()), raw.size() * 2}, kH, kW, bin, true);
    std::memcpy(out.data(), raw.data(), out.size());
    return out;
  }
  std::vector<uint8_t> raw8(samples.size());
  for (size_t i = 0; i < samples.size(); ++i) {
    const int x = static_cast<int>(i) % sw, y = static_cast<int>(i) / sw;
    raw8[static_cast<size_t>(y) * sw + (flipRow ? sw - 1 - x : x)] = static_cast<uint8_t>(samples[i] >> 4);
  }
  if (type == IMGTYPE_RAW8 && bin == 1) return raw8;
  std::vector<uint8_t> colour(raw8.size() * 3), binned(static_cast<size_t>(kW) * kH * 3);
  okc::imaging::Bayer2RGB24(raw8, colour, sw, sh, kTavcBayer, flipRow, false);
  okc::imaging::SoftBinRGB(colour, binned, kW, kH, bin);
  if (type == IMGTYPE_RGB24) return binned;
  okc::imaging::RGB24ToY8(binned, out, kW, kH);
  return out;
}

// Samples differing by more than one from the expected image, below rows 0 and 1
// (they hold the repaired marker pixels and their neighbours).
int Mismatches(const std::vector<uint8_t>& frame, const std::vector<uint8_t>& expected, IMG_TYPE type) {
  int mismatches = 0;
  for (size_t i = 2 * kW * BytesPerPixel(type); i < expected.size(); ++i)
    mismatches += std::abs(frame[i] - expected[i]) > 1;
  return mismatches;
}

struct Format {
  IMG_TYPE type;
  int bin;
  bool flipRow;
};

std::string FormatName(const ::testing::TestParamInfo<Format>& info) {
  static const char* const kNames[] = {"Raw8", "Rgb24", "Raw16", "Y8"};
  return std::string(kNames[info.param.type]) + "Bin" + std::to_string(info.param.bin) +
         (info.param.flipRow ? "Flipped" : "");
}

class CaptureFormats : public CaptureTest, public ::testing::WithParamInterface<Format> {};

TEST_P(CaptureFormats, FramesShowTheSceneInTheChosenFormat) {
  const Format f = GetParam();
  OpenTavc(kW, kH, f.bin, f.type);
  ASSERT_TRUE(SetMisc(f.flipRow, false));
  const std::vector<uint8_t> expected = ExpectedImage(ExpectedWindow(), f.type, f.bin, f.flipRow);
  ASSERT_GT(*std::max_element(expected.begin(), expected.end()), *std::min_element(expected.begin(), expected.end()) + 40)
      << "the scene shows stars";
  startCapture();
  std::vector<uint8_t> frame(expected.size() + 16, 0xEE);
  ASSERT_TRUE(getImageData(frame.data(), static_cast<int>(expected.size()), 3000));
  EXPECT_TRUE(std::all_of(frame.end() - 16, frame.end(), [](uint8_t b) { return b == 0xEE; }));
  EXPECT_EQ(Mismatches(frame, expected, f.type), 0);
  if (f.type == IMGTYPE_RAW8 && f.bin == 1 && !f.flipRow) {
    EXPECT_TRUE(std::equal(frame.begin(), frame.begin() + 4, frame.begin() + 16 * kW)) << "marker repaired";
  }
  stopCapture();
}

INSTANTIATE_TEST_SUITE_P(TavcFormats, CaptureFormats,
                         ::testing::Values(Format{IMGTYPE_RAW8, 1, false}, Format{IMGTYPE_RAW8, 1, true},
                                           Format{IMGTYPE_Y8, 1, false}, Format{IMGTYPE_RGB24, 1, true},
                                           Format{IMGTYPE_RAW16, 1, false}, Format{IMGTYPE_RAW8, 2, false},
                                           Format{IMGTYPE_Y8, 2, true}, Format{IMGTYPE_RGB24, 2, false},
                                           Format{IMGTYPE_RAW16, 2, false}),
                         FormatName);

TEST_F(CaptureTest, FormatChangeWhileCapturingRestartsWithTheNewFrameSize) {
  OpenTavc(kW, kH, 1, IMGTYPE_RAW8);
  startCapture();
  std::vector<uint8_t> frame(kW * kH * 2);
  ASSERT_TRUE(getImageData(frame.data(), kW * kH, 3000));
  ASSERT_TRUE(setImageFormat(kW, kH, 1, IMGTYPE_RAW16));
  ASSERT_TRUE(getImageData(frame.data(), kW * kH * 2, 3000));
  EXPECT_EQ(Mismatches(frame, ExpectedImage(ExpectedWindow(), IMGTYPE_RAW16, 1, false), IMGTYPE_RAW16), 0);
  stopCapture();
}

TEST_F(CaptureTest, ThirdUnreadFrameIsDroppedAndTheCountEndsWithTheRun) {
  OpenTavc(kW, kH, 1, IMGTYPE_RAW8, 120000);
  startCapture();
  ASSERT_TRUE(WaitUntil([] { return getDroppedFrames() >= 1; }));
  EXPECT_EQ(Cam().frameQueue->Count(), 2);
  std::vector<uint8_t> frame(kW * kH);
  EXPECT_TRUE(getImageData(frame.data(), kW * kH, 0));
  EXPECT_TRUE(getImageData(frame.data(), kW * kH, 0));
  stopCapture();
  EXPECT_EQ(getDroppedFrames(), 0u);
}

TEST_F(CaptureTest, FrameWithoutMarkerIsCountedOnceAndTheStreamGoesOn) {
  OpenTavc(kW, kH, 1, IMGTYPE_RAW8, 120000);
  startCapture();
  std::vector<uint8_t> frame(kW * kH);
  ASSERT_TRUE(getImageData(frame.data(), kW * kH, 3000));
  const int abortsBefore = sim->PipeAborts();
  const uint64_t producedBefore = sim->FramesProduced();
  sim->DropMarkerOfNextFrames(1);
  while (sim->FramesProduced() < producedBefore + 4) ASSERT_TRUE(getImageData(frame.data(), kW * kH, 3000));
  EXPECT_EQ(getDroppedFrames(), 1u);
  EXPECT_GT(sim->PipeAborts(), abortsBefore);  // the pipe was flushed to find the next frame start
  stopCapture();
}

TEST_F(CaptureTest, ShortFrameAndStalledStreamAreRecoveredFrom) {
  OpenTavc(kW, kH, 1, IMGTYPE_RAW8);
  startCapture();
  std::vector<uint8_t> frame(kW * kH);
  ASSERT_TRUE(getImageData(frame.data(), kW * kH, 3000));
  sim->ShortenNextFrames(1);
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(getImageData(frame.data(), kW * kH, 3000));

  sim->SetStreamStalled(true);
  const int nudged = [&] {
    std::lock_guard lock(Cam().SensorLock());
    return Cam().lineLength + 30;
  }();
  EXPECT_TRUE(WaitUntil([&] { return LastRegisterWrite(0x300C) == nudged; })) << "third failure nudges the line";
  while (getImageData(frame.data(), kW * kH, 0)) {
  }
  EXPECT_FALSE(getImageData(frame.data(), kW * kH, 100));
  sim->SetStreamStalled(false);
  EXPECT_TRUE(getImageData(frame.data(), kW * kH, 3000));
  stopCapture();
}

TEST_F(CaptureTest, ExposureAndGainSetWhileCapturingReachTheSensor) {
  OpenTavc(kW, kH, 1, IMGTYPE_RAW8);
  startCapture();
  ASSERT_TRUE(WaitUntil([&] { return Cam().capturing.load(); }));
  setValue(CTRL_GAIN, 17, false);
  setValue(CTRL_EXPOSURE, 30000, false);
  const unsigned lines = [&] {
    std::lock_guard lock(Cam().SensorLock());
    return (30000u * Cam().cmosClk - 26) / Cam().lineLength;
  }();
  EXPECT_TRUE(WaitUntil([&] { return sim->Register(0x30B0) == 0x1310 && sim->Register(0x3056) == 34; }));
  EXPECT_TRUE(WaitUntil([&] { return sim->Register(0x3012) == lines; }));
  stopCapture();
}

TEST_F(CaptureTest, StopCaptureSavesTheSettings) {
  OpenTavc(kW, kH, 1, IMGTYPE_RAW8);
  startCapture();
  setValue(CTRL_GAIN, 77, false);
  ASSERT_FALSE(okc::platform::SettingsKey::Open(L"SOFTWARE\\OKCTAVC"));
  stopCapture();
  auto key = okc::platform::SettingsKey::Open(L"SOFTWARE\\OKCTAVC");
  ASSERT_TRUE(key);
  EXPECT_EQ(key->ValueCount(), 27u);
  int32_t gain = 0;
  EXPECT_TRUE(key->QueryNumber("Gain", &gain, 4));
  EXPECT_EQ(gain, 77);
}

TEST_F(CaptureTest, SecondStartWhileStartingStartsNoSecondWorkerAndStopEndsIt) {
  OpenTavc(kW, kH, 1, IMGTYPE_RAW8);
  sim->ClearRequests();
  startCapture();
  startCapture();
  ASSERT_TRUE(WaitUntil([&] { return Cam().capturing.load(); }));
  EXPECT_EQ(CommandCount(0xAF), 1u);
  EXPECT_EQ(CommandCount(0xA9), 1u);
  stopCapture();
  startCapture();
  stopCapture();  // while the new worker is still starting
  EXPECT_FALSE(Cam().capturing);
  EXPECT_FALSE(sim->Streaming());
}

TEST_F(CaptureTest, UnplugAndCloseWhileCapturingReturnPromptly) {
  OpenTavc(kW, kH, 1, IMGTYPE_RAW8);
  startCapture();
  std::vector<uint8_t> frame(kW * kH);
  ASSERT_TRUE(getImageData(frame.data(), kW * kH, 3000));
  sim->UnplugAfterFrames(2);
  int delivered = 0;
  while (getImageData(frame.data(), kW * kH, 0xFFFFFFFF)) ++delivered;  // ends once the camera is gone
  EXPECT_LE(delivered, 2);
  closeCamera();
  EXPECT_EQ(getWidth(), 0);
}

// ---- long exposures, on a clock the test moves ----

class LongExposure : public CaptureTest {
 protected:
  void Start(int exposureUs) {
    OpenTavc(kW, kH, 1, IMGTYPE_RAW8);
    okc::platform::UseClock(clock_);
    // Worker, companion and the simulated sensor sleep on the clock.
    pump_.Start();
    setValue(CTRL_EXPOSURE, exposureUs, false);
    ASSERT_TRUE(Cam().longExposure);
    sim->ClearRequests();
    startCapture();
    ASSERT_TRUE(WaitUntil([&] { return CommandCount(0xAE) == 1; }, 60000));
  }
  void TearDown() override {
    pump_.Stop();
    clock_->RunFree();
    CaptureTest::TearDown();
  }
  // Clock time from the long exposure's start (0xAE) to its end (0xAF).
  uint64_t TimedMs() const {
    const uint64_t begin = sim->VendorRequests(0xAE).front().timeMs;
    for (const auto& r : sim->VendorRequests(0xAF))
      if (r.timeMs >= begin) return r.timeMs - begin;
    return 0;
  }

  std::shared_ptr<okc::platform::ManualClock> clock_ = std::make_shared<okc::platform::ManualClock>();
  okc::test::ClockPump pump_{clock_, 50, 3};
};

TEST_F(LongExposure, HostTimesTheExposureBetweenBeginAndEnd) {
  Start(61000000);
  std::vector<uint8_t> frame(kW * kH);
  ASSERT_TRUE(getImageData(frame.data(), kW * kH, 0xFFFFFFFF));
  EXPECT_EQ(Cam().GetCMOSClk(), 24);
  EXPECT_EQ(sim->Register(0x3012), 4095);
  // 122 steps of 500 ms less the 4 that the 2096 ms readout of 4095 lines takes.
  EXPECT_GE(TimedMs(), 118u * 500u);
  // Loose above: on a loaded machine a clock step may pass while the worker is
  // between two of its sleeps.
  EXPECT_LT(TimedMs(), 70000u);
  stopCapture();
}

TEST_F(LongExposure, StopDuringTheExposureEndsItAtOnce) {
  Start(999000000);
  const uint64_t begin = sim->VendorRequests(0xAE).front().timeMs;
  ASSERT_TRUE(WaitUntil([&] { return clock_->NowMs() >= begin + 10000; }, 60000));
  stopCapture();
  EXPECT_FALSE(Cam().capturing);
  // Ended soon after the stop, not after 997 s. (The clock goes on while
  // stopCapture saves the settings, so only a loose bound is exact here.)
  EXPECT_GE(TimedMs(), 10000u);
  EXPECT_LT(TimedMs(), 100000u);
}

TEST_F(LongExposure, ShorterExposureEndsTheModeAndNormalFramesFollow) {
  Start(999000000);
  const uint64_t begin = sim->VendorRequests(0xAE).front().timeMs;
  ASSERT_TRUE(WaitUntil([&] { return clock_->NowMs() >= begin + 5000; }, 60000));
  setValue(CTRL_EXPOSURE, 20000, false);
  ASSERT_TRUE(WaitUntil([&] { return !Cam().longExposure; }, 60000));
  EXPECT_LT(TimedMs(), 100000u) << "a new exposure ends the host-timed one";
  std::vector<uint8_t> frame(kW * kH);
  EXPECT_TRUE(getImageData(frame.data(), kW * kH, 5000));
  EXPECT_EQ(Cam().GetCMOSClk(), 80);
  EXPECT_EQ(sim->SensorClockMhz(), 48u);
  stopCapture();
}

}  // namespace
