// The simulated camera's frame stream, seen from the host's side of the seam:
// its sensor programmed by register writes (vendor request A6) as a driver would,
// commands sent as control requests, frames taken with real bulk reads.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <memory>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "okccamera/Clock.h"
#include "okccamera/SimCameras.h"
#include "okccamera/UsbDriver.h"
#include "sim/SensorDescription.h"
#include "sim/SimScene.h"
#include "sim/SimStreamer.h"
#include "usb/RequestRecord.h"

namespace okc::sim::test {
namespace {

enum : uint8_t { kWriteRegister = 0xA6, kStreamOn = 0xA9, kStreamOff = 0xAA, kSamples8 = 0xAB, kSamples16 = 0xAC,
                 kLongExposureBegin = 0xAE, kLongExposureEnd = 0xAF };

// A vendor OUT request without data stage (type 0x40), as the control endpoint hands it across the seam.
bool VendorOut(usb::DeviceLink& link, uint8_t code, uint16_t value = 0, uint16_t index = 0) {
  const usb::RequestRecord r{.requestType = 0x40, .request = code, .value = value, .index = index,
                             .timeoutSeconds = 1, .payloadOffset = usb::kRecordSize};
  std::vector<uint8_t> record(usb::kRecordSize, 0);
  r.Encode(record.data());
  auto io = link.SubmitControl(record.data(), record.size());
  return io->Wait(1000) && io->Result().ok;
}

// The window every test reads: 64 x 32 from sensor row 2. Without PLL writes the pixel
// clock is the controller's 48 MHz: 58 lines of 16551 clocks make a 20 ms frame.
constexpr int kX = 0, kY = 2, kWidth = 64, kHeight = 32;
constexpr size_t kFrame8 = kWidth * kHeight;
constexpr uint16_t kLineLength = 16551;
constexpr double kFramePeriodMs = (kHeight + 26) * kLineLength / 48000.0;
constexpr uint16_t kIntegrationLines = 10;
const uint64_t kIntegrationUs = std::llround(kIntegrationLines * kLineLength / 48.0);

// Where a test waits for the camera's thread, it gives up after this long (real time).
constexpr uint32_t kPatienceMs = 3000;

class SimStream : public ::testing::Test {
 protected:
  // Most tests want a TAVC on a clock 20 times faster than real time.
  void SetUp() override {
    platform::UseClock(std::make_shared<platform::FastClock>(20.0));
    Attach();
  }
  // The members go first, the camera's thread with them; then the real clock comes back.
  void TearDown() override {
    link_.reset();
    camera_.reset();
    bus_.reset();
    platform::UseClock(nullptr);
  }

  // Attaches a camera of `model` and opens it; earlier ones stay on the bus.
  void Attach(Model model = Model::TAVC) {
    camera_ = bus_->Attach(model);
    camera_->SetSceneNoise(false);
    const usb::UsbDeviceClass deviceClass{usb::kCameraVendorId, camera_->Options().classProductId};
    uint32_t error = 0;
    link_ = bus_->Open(deviceClass, bus_->CountDevices(deviceClass) - 1, &error);
  }

  void WriteRegister(uint16_t address, uint16_t value) {
    ASSERT_TRUE(VendorOut(*link_, kWriteRegister, address, value));
  }
  void Command(uint8_t code) { ASSERT_TRUE(VendorOut(*link_, code)); }

  // Window, timing, analog x1 and digital x1 on every channel, no black level.
  void Program(uint16_t integrationLines = kIntegrationLines, uint16_t lineLength = kLineLength) {
    const std::pair<uint16_t, int> writes[] = {
        {0x3004, kX}, {0x3002, kY}, {0x3008, kX + kWidth - 1}, {0x3006, kY + kHeight - 1}, {0x300A, kHeight + 26},
        {0x300C, lineLength}, {0x3012, integrationLines}, {0x30B0, 0x1300}, {0x3056, 32}, {0x305C, 32},
        {0x305A, 32}, {0x3058, 32}, {0x305E, 32}, {0x301E, 0}};
    for (const auto& [address, value] : writes) WriteRegister(address, static_cast<uint16_t>(value));
  }

  // The next frame of the bulk stream, read as the capture engine queues its transfers; empty
  // if none comes in time or the read fails (its error kept in lastError_).
  std::vector<uint8_t> ReadFrame(uint32_t timeoutMs = kPatienceMs) {
    std::vector<uint8_t> record(usb::kRecordSize, 0), buffer(16384, 0);  // more than any frame here
    usb::RequestRecord{.endpointAddress = 0x82}.Encode(record.data());
    const auto io = link_->SubmitDirect(record.data(), buffer.data(), buffer.size());  // ends before the buffer
    if (!io->Wait(timeoutMs)) return {};
    lastError_ = io->Result().error;
    if (!io->Result().ok) return {};
    buffer.resize(std::min<size_t>(io->Result().bytesReturned, buffer.size()));
    return buffer;
  }

  // The samples between marker and end (trailer aside) are the scene's at their sensor places.
  void ExpectScene(const std::vector<uint8_t>& frame, std::optional<uint64_t> exposureUs = {}, size_t trailer = 0) {
    ASSERT_EQ(frame.size(), kFrame8);
    for (size_t i = 4; i + trailer < frame.size(); ++i) {
      const int x = kX + static_cast<int>(i) % kWidth, y = kY + static_cast<int>(i) / kWidth;
      ASSERT_EQ(frame[i], camera_->ExpectedSceneValue(x, y, exposureUs) >> 4) << x << "," << y;
    }
  }

  // Polls `done` until it holds or the patience runs out.
  template <typename Done>
  static bool Eventually(Done done) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(kPatienceMs);
    while (!done()) {
      if (std::chrono::steady_clock::now() > until) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
  }

  std::shared_ptr<SimBus> bus_ = CreateSimBus();
  std::shared_ptr<SimCamera> camera_;
  std::unique_ptr<usb::DeviceLink> link_;
  uint32_t lastError_ = 0;
};

TEST_F(SimStream, MarkedFramesOfTheProgrammedWindowComeAtTheRegisterPeriod) {
  const std::vector<uint8_t> marker{0x11, 0xAA, 0x00, 0xBB}, trailer{0xBB, 0x00, 0xAA, 0x11};
  for (Model model : {Model::TAVC, Model::TAVC_U}) {
    SCOPED_TRACE(ShortNameOf(model));
    const bool usb3 = IsUsb3Model(model);
    Attach(model);
    EXPECT_EQ(camera_->ExpectedSceneValue(10, 10), -1);  // nothing programmed: nothing to see
    Program();
    const uint64_t start = platform::TickCountMs();
    Command(kStreamOn);
    for (int i = 0; i < 3; ++i) {
      const std::vector<uint8_t> frame = ReadFrame();
      ASSERT_EQ(frame.size(), kFrame8);
      EXPECT_EQ(std::vector<uint8_t>(frame.begin(), frame.begin() + 4), marker);
      if (usb3) {
        EXPECT_EQ(std::vector<uint8_t>(frame.end() - 4, frame.end()), trailer);
      }
      ExpectScene(frame, {}, usb3 ? 4 : 0);
    }
    EXPECT_GE(platform::TickCountMs() - start + 1, 3 * kFramePeriodMs);
    EXPECT_EQ(camera_->LastFrameExposureUs(), kIntegrationUs);
  }
  // With noise on, each frame has its own (past the two frames that may have started without it).
  camera_->SetSceneNoise(true);
  ReadFrame();
  ReadFrame();
  EXPECT_NE(ReadFrame(), ReadFrame());
}

TEST_F(SimStream, NothingStreamsBeforeStreamOnOrAfterStreamOff) {
  Program();
  platform::SleepMs(5 * 20);
  EXPECT_EQ(camera_->FramesProduced(), 0u);

  Command(kStreamOn);
  ASSERT_EQ(ReadFrame().size(), kFrame8);
  Command(kStreamOff);
  const uint64_t produced = camera_->FramesProduced();
  // A frame finished before AA may still wait on the device; nothing follows it.
  if (camera_->PendingBulkBytes() > 0) {
    EXPECT_EQ(ReadFrame().size(), kFrame8);
  }
  EXPECT_TRUE(ReadFrame(20).empty());
  EXPECT_EQ(camera_->FramesProduced(), produced);
}

TEST_F(SimStream, SampleWidthAndWindowChangesShowInTheFollowingFrames) {
  Program();
  Command(kStreamOn);
  ASSERT_EQ(ReadFrame().size(), kFrame8);

  Command(kSamples16);
  std::vector<uint8_t> frame;
  for (int i = 0; i < 4 && frame.size() != 2 * kFrame8; ++i) frame = ReadFrame();
  ASSERT_EQ(frame.size(), 2 * kFrame8);
  EXPECT_TRUE(HasFrameMarker(frame));
  EXPECT_EQ(frame[2 * kFrame8 - 2] << 4 | frame[2 * kFrame8 - 1], camera_->ExpectedSceneValue(63, 33));  // 12 bits

  WriteRegister(0x3008, 31);  // 32 columns
  for (int i = 0; i < 4 && frame.size() != 2 * 32 * 32; ++i) frame = ReadFrame();
  EXPECT_EQ(frame.size(), 2u * 32 * 32);
  EXPECT_EQ(ReadFrame().size(), 2u * 32 * 32);  // and it stays
}

TEST_F(SimStream, LongExposureDeliversOneHostTimedFrameThenNormalFramesResume) {
  Program();
  Command(kStreamOn);
  ASSERT_EQ(ReadFrame().size(), kFrame8);

  Command(kLongExposureBegin);
  const uint64_t produced = camera_->FramesProduced();
  platform::SleepMs(1000);
  EXPECT_EQ(camera_->FramesProduced(), produced);  // no frames while the host times the exposure
  // A normal frame finished before AE may still wait on the device: take it first.
  while (camera_->PendingBulkBytes() > 0) ASSERT_EQ(ReadFrame().size(), kFrame8);

  const uint64_t ended = platform::TickCountMs();  // no later than the camera's end of exposure
  Command(kLongExposureEnd);
  // Nobody reads yet: the frame waits on the device and the normal frames after it are dropped.
  ASSERT_TRUE(Eventually([this] { return camera_->PendingBulkBytes() > 0; }));
  EXPECT_GE(platform::TickCountMs() - ended + 1, kFramePeriodMs);  // after its readout
  const uint64_t exposureUs = camera_->LastFrameExposureUs();
  EXPECT_GE(exposureUs, 1000000u);
  const std::vector<uint8_t> exposed = ReadFrame();
  EXPECT_TRUE(HasFrameMarker(exposed));
  ExpectScene(exposed, exposureUs);

  ASSERT_EQ(ReadFrame().size(), kFrame8);
  EXPECT_EQ(camera_->LastFrameExposureUs(), kIntegrationUs);
}

TEST_F(SimStream, FramesTheHostDoesNotTakeAreDroppedAtTheDevice) {
  Program();
  Command(kStreamOn);
  ASSERT_TRUE(Eventually([this] { return camera_->FramesProduced() >= 4; }));
  Command(kStreamOff);
  EXPECT_EQ(camera_->FramesDroppedAtDevice(), camera_->FramesProduced() - 1);
  EXPECT_EQ(camera_->PendingBulkBytes(), kFrame8);  // one frame waits, no more
  EXPECT_TRUE(HasFrameMarker(ReadFrame()));
  EXPECT_EQ(camera_->PendingBulkBytes(), 0u);
}

TEST_F(SimStream, FaultsStalledStreamThenFramesWithoutMarkerOrShort) {
  Program();
  camera_->SetStreamStalled(true);
  camera_->DropMarkerOfNextFrames(1);
  camera_->ShortenNextFrames(2);
  Command(kStreamOn);
  platform::SleepMs(5 * 20);
  EXPECT_TRUE(ReadFrame(10).empty());
  EXPECT_EQ(camera_->FramesProduced(), 0u);

  camera_->SetStreamStalled(false);
  const std::pair<size_t, bool> expected[] = {{kFrame8 / 2, false}, {kFrame8 / 2, true}, {kFrame8, true}};
  for (const auto& [bytes, marked] : expected) {
    const std::vector<uint8_t> frame = ReadFrame();
    EXPECT_EQ(frame.size(), bytes);
    EXPECT_EQ(HasFrameMarker(frame), marked);
  }
}

TEST_F(SimStream, FaultDeviceDisappearsAfterItsLastFrames) {
  Program();
  camera_->UnplugAfterFrames(2);
  Command(kStreamOn);
  EXPECT_EQ(ReadFrame().size(), kFrame8);
  EXPECT_EQ(ReadFrame().size(), kFrame8);
  ASSERT_TRUE(Eventually([this] { return camera_->Unplugged(); }));

  EXPECT_TRUE(ReadFrame().empty());
  EXPECT_EQ(lastError_, usb::kErrNoDevice);
  EXPECT_FALSE(VendorOut(*link_, kStreamOn));
  platform::SleepMs(5 * 20);
  EXPECT_EQ(camera_->FramesProduced(), 2u);

  Attach();  // zero frames: gone at once
  camera_->UnplugAfterFrames(0);
  EXPECT_TRUE(camera_->Unplugged());
}

TEST_F(SimStream, DestroyingAStreamingCameraEndsItsThreadPromptly) {
  platform::UseClock(nullptr);
  Program(20000);  // the next frame is seven seconds away
  Command(kStreamOn);
  platform::SleepMs(5);
  const auto start = std::chrono::steady_clock::now();
  link_.reset();
  bus_->Detach(camera_);
  camera_.reset();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

TEST_F(SimStream, AHostReadingSlowlyInPiecesGetsWholeFramesInOrder) {
  // With noise on every frame differs, so a frame overwritten by a later one while
  // the host still reads it would show: each frame received must be exactly one the
  // stream made (its noise seed known by its number), later than the one before.
  camera_->SetSceneNoise(true);
  Program();
  SimSensorState sensor = camera_->Sensor();
  const SensorDescription& tav = *SensorOf(Model::TAVC);
  std::optional<StreamSnapshot> snap = SnapshotOf(sensor, tav.array);
  ASSERT_TRUE(snap);
  FrameSettings settings = snap->frame;
  settings.sampleBits = tav.sampleBits;
  settings.light = camera_->GetSceneLight();
  const SimScene& scene = *SimScene::Shared(tav.array);

  Command(kStreamOn);
  constexpr size_t kPiece = 256;  // eight reads a frame, with a pause between them
  uint64_t next = 0;              // the first frame number the next frame may have
  for (int frame = 0; frame < 6; ++frame) {
    std::vector<uint8_t> received;
    while (received.size() < kFrame8) {
      std::vector<uint8_t> record(usb::kRecordSize, 0), piece(kPiece, 0);
      usb::RequestRecord{.endpointAddress = 0x82}.Encode(record.data());
      const auto io = link_->SubmitDirect(record.data(), piece.data(), piece.size());
      ASSERT_TRUE(io->Wait(kPatienceMs) && io->Result().ok);
      received.insert(received.end(), piece.begin(), piece.begin() + io->Result().bytesReturned);
      std::this_thread::sleep_for(std::chrono::milliseconds(2));  // several frame periods of the fast clock
    }
    ASSERT_EQ(received.size(), kFrame8) << "pieces of one frame end at its end";
    ASSERT_TRUE(HasFrameMarker(received));
    std::vector<uint8_t> expected;
    bool found = false;
    for (uint64_t n = next; n < next + 5000 && !found; ++n) {
      ASSERT_TRUE(scene.Render(settings, NoiseSeedOfFrame(n), expected));
      if (std::equal(received.begin() + 4, received.end(), expected.begin() + 4)) {
        found = true;
        next = n + 1;
      }
    }
    ASSERT_TRUE(found) << "frame " << frame << " is no frame the stream made after frame number " << next;
  }
  EXPECT_GT(camera_->FramesDroppedAtDevice(), 0u) << "frames came while the host was reading";
}

TEST(SimStreamSchedule, TheNextFrameStartsWhenThisOneWasDueUnlessFarBehind) {
  const struct {
    uint64_t dueUs;
    double periodUs;
    uint64_t nowUs;
    uint64_t startUs;
  } cases[] = {
      {10000, 4716.4, 10000, 10000},     // on time
      {10000, 4716.4, 10900, 10000},     // woken late: the lateness is not carried on
      {10000, 4716.4, 14716, 13716},     // far behind: 1 ms taken back, not the whole lateness
      {10000, 100000.0, 22500, 10000},   // an eighth of a long period is made up
      {10000, 100000.0, 40000, 27500},   // beyond it, frames stay 7/8 of a period apart
      {10000, 100.0, 50000, 49900},      // never more than a period
  };
  for (const auto& c : cases) EXPECT_EQ(NextFrameStartUs(c.dueUs, c.periodUs, c.nowUs), c.startUs) << c.nowUs;
}

TEST_F(SimStream, FramesComeAtTheRegisterPeriodFromEachDueTimeOnAManualClock) {
  // A 10.5004 ms frame (58 lines of 8690 clocks at 48 MHz) on a clock moved one
  // millisecond at a time: frame k is due at 10.5 k ms and leaves on the first tick
  // at or after that. Timing each frame from the tick that delivered the one before
  // would make every frame 11 ms long.
  const auto clock = std::make_shared<platform::ManualClock>(1000);
  platform::UseClock(clock);
  // However the test ends, the stream's thread must not be left waiting on this clock.
  const std::shared_ptr<void> runFreeAtEnd(nullptr, [clock](void*) { clock->RunFree(); });
  Program(kIntegrationLines, 8690);
  Command(kStreamOn);
  const uint64_t start = platform::TickCountMs();
  std::vector<uint64_t> ticks;
  for (uint64_t elapsed = 1; elapsed <= 215 && ticks.size() < 20; ++elapsed) {
    ASSERT_TRUE(clock->WaitForSleepers(1, kPatienceMs)) << "the stream sleeps on the clock";
    const uint64_t produced = camera_->FramesProduced();
    clock->Advance(1);
    ASSERT_TRUE(clock->WaitForSleepers(1, kPatienceMs));
    if (camera_->FramesProduced() > produced) ticks.push_back(elapsed);
  }
  std::vector<uint64_t> expected;
  for (uint64_t k = 1; k <= 20; ++k) expected.push_back((10500 * k + 999) / 1000);
  EXPECT_EQ(ticks, expected);
  EXPECT_EQ(platform::TickCountMs() - start, expected.back());
}

}  // namespace
}  // namespace okc::sim::test
