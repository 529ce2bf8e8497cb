// Capture over the libusb backend: whole frames through queued bulk URBs,
// the queue cancelled at stop, and a camera that vanishes mid-stream.
#include <cstdlib>
#include <string>
#include <vector>

#include "libusb/LibusbFixture.h"

namespace okc::test {
namespace {

using sim::Model;

constexpr int kW = 320;
constexpr int kH = 240;
constexpr size_t kFrameBytes = static_cast<size_t>(kW) * kH;
constexpr unsigned long kForever = 0xFFFFFFFF;
constexpr unsigned long kFrameWaitMs = 10000;

class LibusbStreamTest : public LibusbTest, public ::testing::WithParamInterface<Model> {
 protected:
  // Samples off by more than one from the scene, from row 2 on (the repaired marker)
  // up to the last four bytes (the repaired trailer of the USB 3 models).
  int Mismatches(const std::vector<uint8_t>& frame) const {
    const std::vector<int> samples = ExpectedWindow();
    int mismatches = 0;
    for (size_t i = 2 * kW; i + 4 < samples.size(); ++i) mismatches += std::abs(frame[i] - (samples[i] >> 4)) > 1;
    return mismatches;
  }
};

TEST_P(LibusbStreamTest, StreamsWholeFramesAndCancelsTheQueueAtStop) {
  ASSERT_NO_FATAL_FAILURE(OpenOverLibusb(kW, kH, GetParam()));
  startCapture();
  std::vector<uint8_t> frame(kFrameBytes);
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(getImageData(frame.data(), static_cast<int>(kFrameBytes), kFrameWaitMs)) << "frame " << i;
    EXPECT_EQ(Mismatches(frame), 0) << "frame " << i;
  }
  EXPECT_GE(usbfs->Counts().bulkUrbs, 3);
  // With the sensor silent, the next frame's transfers stay queued until stop cancels them.
  sim->SetStreamStalled(true);
  while (getImageData(frame.data(), static_cast<int>(kFrameBytes), 300)) {
  }
  ASSERT_TRUE(sim->WaitFor([&] {
    const UsbfsCounts c = usbfs->Counts();
    return c.bulkUrbs > c.bulkReaped;
  }, 10000));
  stopCapture();
  EXPECT_FALSE(sim->Streaming());
  const UsbfsCounts stopped = usbfs->Counts();
  EXPECT_GE(stopped.discarded, 1) << "no queued transfer was cancelled at stop; discard requests " << stopped.discardRequests;
  EXPECT_EQ(stopped.bulkReaped, stopped.bulkUrbs) << "bulk URBs left in flight after stop";
  closeCamera();
  // Every URB submitted came back to libusb, finished or cancelled.
  const UsbfsCounts closed = usbfs->Counts();
  EXPECT_EQ(closed.controlReaped, closed.controlUrbs);
  EXPECT_EQ(closed.unknownRequests, 0);
}

TEST_P(LibusbStreamTest, ACameraThatVanishesMidStreamStopsAndCloses) {
  ASSERT_NO_FATAL_FAILURE(OpenOverLibusb(kW, kH, GetParam()));
  startCapture();
  std::vector<uint8_t> frame(kFrameBytes);
  ASSERT_TRUE(getImageData(frame.data(), static_cast<int>(kFrameBytes), kFrameWaitMs));
  sim->UnplugAfterFrames(1);
  // Waits end once the device is gone, without the caller's time-out running out.
  int frames = 0;
  while (getImageData(frame.data(), static_cast<int>(kFrameBytes), kForever)) ++frames;
  EXPECT_LE(frames, 3);
  stopCapture();
  EXPECT_FALSE(Cam().capturing.load());
  closeCamera();
  EXPECT_EQ(getWidth(), 0);
  // The URBs the vanished device failed all came back to libusb.
  const UsbfsCounts gone = usbfs->Counts();
  EXPECT_EQ(gone.bulkReaped, gone.bulkUrbs);
  EXPECT_EQ(gone.controlReaped, gone.controlUrbs);

  // The kernel removes the node; libusb follows, and a camera plugged in anew opens and streams.
  usbfs->Unplug(sim);
  EXPECT_TRUE(sim->WaitFor([&] { return driver->CountDevices(ClassOf(GetParam())) == 0; }, 10000));
  auto again = Plug(GetParam(), 1, "2", 5);
  again->SetSceneNoise(false);
  ASSERT_TRUE(driver->WaitForDevices(ClassOf(GetParam()), 1, 10000));
  sim = again;
  okc::api::cameraCount = 0;
  ASSERT_NO_FATAL_FAILURE(OpenAndFormat(kW, kH));
  startCapture();
  ASSERT_TRUE(getImageData(frame.data(), static_cast<int>(kFrameBytes), kFrameWaitMs));
  EXPECT_EQ(Mismatches(frame), 0);
  stopCapture();
  closeCamera();
}

INSTANTIATE_TEST_SUITE_P(Models, LibusbStreamTest, ::testing::Values(Model::TAVC, Model::TAVC_U),
                         [](const ::testing::TestParamInfo<Model>& info) {
                           return std::string(sim::IsUsb3Model(info.param) ? "TAVC_U" : "TAVC");
                         });

}  // namespace
}  // namespace okc::test
