// DORC streaming: frames in every format against the simulated scene,
// exposure and gain stored while streaming and applied once by the companion
// thread (per camera, also with two cameras), recovery from incomplete frames,
// the marker-recurrence check, and the firmware renewal of version 0.
#include <cstring>
#include <mutex>
#include <numeric>

#include "DorcFixture.h"
#include "core/FirmwareImage.h"
#include "core/FrameMarker.h"
#include "support/ClockPump.h"
#include "tests/firmware/ImageBuilder.h"

namespace okc::test {
namespace {

constexpr int kW = 128, kH = 64;  // 8192 pixels: eight 1024-pixel blocks

class DorcStream : public DorcTest {
 protected:
  void SetUp() override {
    DorcTest::SetUp();
    Open();
    ASSERT_TRUE(SetMisc(false, false));
    Cam().SetGain(64, false);  // 16x: a 20 ms frame shows the sky
    Cam().SetExp(20000, false);
  }
  void TearDown() override {
    stopCapture();
    DorcTest::TearDown();
  }

  // One frame through the camera's own slots.
  std::vector<uint8_t> Frame(size_t bytes) {
    std::vector<uint8_t> frame(bytes);
    EXPECT_TRUE(Cam().StartCapture());
    EXPECT_FALSE(Cam().GetImage(frame.data(), static_cast<int>(bytes) - 1, 2000));
    EXPECT_TRUE(Cam().GetImage(frame.data(), static_cast<int>(bytes), 5000));
    Cam().StopCapture();
    return frame;
  }
  static double Mean(const std::vector<uint8_t>& v) { return std::accumulate(v.begin(), v.end(), 0.0) / v.size(); }
};

TEST_F(DorcStream, RawFramesCarryTheSceneInEightAndSixteenBits) {
  ASSERT_TRUE(Cam().SetResolution(kW, kH, 1, IMAGE_8BIT));
  Cam().rawOutput = true;
  std::vector<int> e = Expected();
  std::vector<uint8_t> f = Frame(kW * kH);
  EXPECT_EQ(sim->BulkTransferSize(), 372736u);
  // The top 8 of 12 bits; the marker's bytes are repaired from 16 rows down.
  for (size_t i = 8; i < f.size(); ++i) ASSERT_EQ(f[i], e[i] >> 4) << i;
  EXPECT_EQ(f[0], e[16 * kW] >> 4);
  EXPECT_GT(Mean(f), 5.0);

  // 16 bits: the 12-bit sample scaled to 16 bits.
  ASSERT_TRUE(Cam().SetResolution(kW, kH, 1, IMAGE_16BIT));
  e = Expected();
  f = Frame(2 * kW * kH);
  for (size_t i = 4; i < e.size(); ++i) {
    uint16_t v;
    std::memcpy(&v, &f[2 * i], 2);
    ASSERT_EQ(v, e[i] << 4) << i;
  }
}

TEST_F(DorcStream, ColourAndLuminanceFramesAtBinOneAndTwo) {
  // Colour at bin 1: a green site keeps its own sample (G R / B G: green where x + y is even).
  ASSERT_TRUE(setImageFormat(kW, kH, 1, IMGTYPE_RGB24));
  const std::vector<int> e = Expected();
  const std::vector<uint8_t> rgb = Frame(3 * kW * kH);
  for (int y = 1; y < kH - 1; ++y)
    for (int x = 2 + (y & 1); x < kW - 1; x += 2) {
      const size_t i = static_cast<size_t>(y) * kW + x;
      ASSERT_EQ(rgb[3 * i + 1], e[i] >> 4) << x << "," << y;
    }
  ASSERT_TRUE(setImageFormat(kW, kH, 1, IMGTYPE_Y8));
  const double y8 = Mean(Frame(kW * kH));
  EXPECT_NEAR(y8, Mean(rgb), Mean(rgb) * 0.5);
  // Bin 2 sums four pixels: brighter, same output size.
  ASSERT_TRUE(setImageFormat(kW, kH, 2, IMGTYPE_RGB24));
  EXPECT_GT(Mean(Frame(3 * kW * kH)), 2 * Mean(rgb));
  ASSERT_TRUE(setImageFormat(kW, kH, 2, IMGTYPE_Y8));
  EXPECT_GT(Mean(Frame(kW * kH)), 2 * y8);
  ASSERT_TRUE(setImageFormat(kW, kH, 2, IMGTYPE_RAW8));
  EXPECT_EQ(Frame(kW * kH).size(), static_cast<size_t>(kW * kH));
}

TEST_F(DorcStream, ExposureAndGainSetWhileStreamingAreAppliedOnceByTheCompanion) {
  ASSERT_TRUE(Cam().SetResolution(kW, kH, 1, IMAGE_8BIT));
  std::vector<uint8_t> f(kW * kH);
  ASSERT_TRUE(Cam().StartCapture());
  ASSERT_TRUE(Cam().GetImage(f.data(), kW * kH, 5000));
  {
    // Holding the sensor lock keeps the companion out while the log is read.
    std::lock_guard lock(Cam().SensorLock());
    sim->ClearRequests();
    ASSERT_TRUE(Cam().SetExp(10000, false));
    EXPECT_EQ(WriteCount(0x3012), 0u);
  }
  ASSERT_TRUE(sim->WaitFor([&] { return WriteCount(0x3012) > 0; }));
  {
    std::lock_guard lock(Cam().SensorLock());
    ASSERT_TRUE(Cam().SetGain(70, false));
    EXPECT_EQ(WriteCount(0x3056), 0u);
  }
  // The gain comes with a later tick: by then the exposure was not written again.
  ASSERT_TRUE(sim->WaitFor([&] { return WriteCount(0x3056) > 0; }));
  EXPECT_EQ(WriteCount(0x3012), 1u);
  EXPECT_EQ(LastWrite(0x3012), (48 * 10000 - 29) / Cam().lineLength);
  EXPECT_EQ(WriteCount(0x3056), 1u);
  EXPECT_EQ(LastWrite(0x3056), CCameraDORC::GainValue2Reg(22.0f));
}

TEST_F(DorcStream, ASecondCameraIsNotSkippedBecauseTheFirstHasTheSameGain) {
  ASSERT_TRUE(Cam().SetResolution(kW, kH, 1, IMAGE_8BIT));
  // Another DORC, driven through its own object, applies gain 70 first.
  okc::sim::SimDeviceOptions options;
  options.model = okc::sim::Model::DORC;
  auto otherSim = bus->Attach(options);
  CCameraDORC other;
  okc::platform::UseClock(std::make_shared<okc::platform::FastClock>(1000.0));
  ASSERT_TRUE(other.OpenCamera(2));
  ASSERT_TRUE(other.InitCamera());
  okc::platform::UseClock(nullptr);
  ASSERT_TRUE(other.SetGain(70, false));
  EXPECT_EQ(otherSim->Register(0x3056), CCameraDORC::GainValue2Reg(22.0f));
  // This one, streaming, is asked for 70 as well: its own sensor must get it.
  ASSERT_TRUE(Cam().StartCapture());
  sim->ClearRequests();
  ASSERT_TRUE(Cam().SetGain(70, false));
  ASSERT_TRUE(sim->WaitFor([&] { return WriteCount(0x3056) > 0; }));
  EXPECT_EQ(sim->Register(0x3056), CCameraDORC::GainValue2Reg(22.0f));
}

TEST_F(DorcStream, IncompleteFramesLengthenTheLineThenResetThePortOnThe52nd) {
  ASSERT_TRUE(Cam().SetResolution(kW, kH, 1, IMAGE_8BIT));
  Cam().rawOutput = true;
  const int nudged = Cam().lineLength + 30;
  std::vector<uint8_t> f(kW * kH);
  ASSERT_TRUE(Cam().StartCapture());
  ASSERT_TRUE(Cam().GetImage(f.data(), kW * kH, 5000));
  sim->ClearRequests();
  sim->ShortenNextFrames(52);
  ASSERT_TRUE(sim->WaitFor([&] { return sim->PortResets() == 1; }));
  // Nothing short reaches the host; whole frames come again, of the longer line's exposure.
  const std::vector<int> e = Expected();
  for (int n = 0; n < 3; ++n) {
    ASSERT_TRUE(Cam().GetImage(f.data(), kW * kH, 5000));
    for (size_t i = 8; i < f.size(); ++i) ASSERT_EQ(f[i], e[i] >> 4) << i;
  }
  EXPECT_EQ(sim->PortResets(), 1);
  // The 3rd lengthened the line once; after the reset the stream was restarted.
  EXPECT_EQ(WriteCount(0x300C), 1u);
  EXPECT_EQ(LastWrite(0x300C), nudged);
  EXPECT_GE(sim->PipeResets(), 1);
  EXPECT_EQ(CommandCount(0xAF), 1u);
  EXPECT_GE(CommandCount(0xA9), 1u);
}

// ---- host-timed exposures, on a clock the test moves ----

class DorcLongExposure : public DorcTest {
 protected:
  void Start(uint64_t exposureUs) {
    Open();
    ASSERT_TRUE(setImageFormat(kW, kH, 1, IMGTYPE_RAW8));
    okc::platform::UseClock(clock_);
    pump_.Start();
    Cam().SetExp(exposureUs, false);
    ASSERT_TRUE(Cam().longExposure);
    sim->ClearRequests();
    ASSERT_TRUE(Cam().StartCapture());
    ASSERT_TRUE(sim->WaitFor([&] { return CommandCount(0xAE) == 1; }));
  }
  void TearDown() override {
    Cam().StopCapture();
    pump_.Stop();
    clock_->RunFree();
    DorcTest::TearDown();
  }
  // Clock time from the exposure's start (0xAE) to its end (the next 0xAF).
  uint64_t TimedMs() const {
    const uint64_t begin = sim->VendorRequests(0xAE).front().timeMs;
    for (const auto& r : sim->VendorRequests(0xAF))
      if (r.timeMs >= begin) return r.timeMs - begin;
    return 0;
  }

  std::shared_ptr<okc::platform::ManualClock> clock_ = std::make_shared<okc::platform::ManualClock>();
  // Worker, companion and the waiting GetImage sleep on the clock; waiting for
  // one more paces it at 50 ms per 5 ms of real time, so a busy worker cannot
  // be overtaken by the clock.
  okc::test::ClockPump pump_{clock_, 50, 4};
};

TEST_F(DorcLongExposure, TheHostTimesTheExposureLessTheSensorsOwnRowsThenAShortOneEndsIt) {
  // 15 s at 24 MHz is 87 912 rows of 4095 clocks: beyond the shutter.
  Start(15000000);
  EXPECT_EQ(LastWrite(0x3012), 0x2FFF);
  std::vector<uint8_t> f(kW * kH);
  ASSERT_TRUE(Cam().GetImage(f.data(), kW * kH, 0xFFFFFFFF));
  // 30 steps of 500 ms less the 0x2FFF rows' own 2096 ms (4 steps); not the whole
  // 15 s (a loaded machine may stretch the clock a little past the steps).
  EXPECT_GE(TimedMs(), 13000u);
  EXPECT_LT(TimedMs(), 15000u);
  // A short exposure ends host timing; the companion brings back 48 MHz and the frame-rate line.
  Cam().SetExp(20000, false);
  ASSERT_TRUE(sim->WaitFor([&] {
    std::lock_guard lock(Cam().SensorLock());
    return !Cam().longExposure && Cam().cmosClk == 48;
  }));
  ASSERT_TRUE(sim->WaitFor([&] { return LastWrite(0x3012) == (48 * 20000 - 29) / 338; }));
  EXPECT_EQ(Cam().lineLength, 338);
  EXPECT_EQ(sim->SensorClockMhz(), 48u);
  EXPECT_TRUE(Cam().GetImage(f.data(), kW * kH, 0xFFFFFFFF));
}

TEST(DorcFrameCheck, AMarkerFromTheEleventhWordOnSpoilsTheFrame) {
  std::vector<uint8_t> frame(64, 0x10);
  std::memcpy(frame.data(), &core::kFrameMarker, 4);
  EXPECT_FALSE(core::FrameMarkerRecurs(frame.data(), frame.size()));
  std::memcpy(frame.data() + 9 * 4, &core::kFrameMarker, 4);  // word 9: still the header's
  EXPECT_FALSE(core::FrameMarkerRecurs(frame.data(), frame.size()));
  for (size_t word : {size_t{10}, size_t{15}}) {
    std::vector<uint8_t> spoilt = frame;
    std::memcpy(spoilt.data() + word * 4, &core::kFrameMarker, 4);
    EXPECT_TRUE(core::FrameMarkerRecurs(spoilt.data(), spoilt.size())) << word;
  }
  // A marker cut by the frame's end is not a marker; nothing past the end is read.
  EXPECT_FALSE(core::FrameMarkerRecurs(frame.data(), 63));
}

class DorcFirmware : public DorcTest {};

TEST_F(DorcFirmware, VersionZeroIsRenewedFromTheFolderAndReopened) {
  const Bytes image = C2Builder::Of4346Bytes(0x6107, 0x0300).Build();
  ASSERT_EQ(image.size(), 4346u);
  WriteFile(FirmwareDir() + "/" + core::kDorcFirmwareFile, image);
  WriteFile(FirmwareDir() + "/" + core::kEepromLoaderFile, Loader());
  Attach(0);
  ASSERT_TRUE(OpenAttached());
  EXPECT_EQ(sim->Reenumerations(), 1);
  EXPECT_EQ(sim->FirmwareVersion(), 3);
  EXPECT_EQ(Cam().GetFWVer(), 3);
  EXPECT_EQ(sim->ReadEeprom(okc::sim::SimCamera::kBootEepromSelect, 0, image.size()), image);
  // The reopened camera works.
  ASSERT_TRUE(Cam().SetResolution(kW, kH, 1, IMAGE_8BIT));
  std::vector<uint8_t> f(kW * kH);
  ASSERT_TRUE(Cam().StartCapture());
  EXPECT_TRUE(Cam().GetImage(f.data(), kW * kH, 5000));
}

TEST_F(DorcFirmware, CurrentFirmwareIsLeftAlone) {
  Attach();
  ASSERT_TRUE(OpenAttached());
  EXPECT_EQ(sim->Reenumerations(), 0);
  EXPECT_TRUE(sim->VendorRequests(0xA0).empty());
  EXPECT_EQ(Cam().GetFWVer(), 3);
}

}  // namespace
}  // namespace okc::test
