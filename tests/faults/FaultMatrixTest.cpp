// Every fault a simulated camera can inject, against a camera that is streaming,
// through the exported functions. For each: the calls return, the camera recovers
// (or, when the device is gone, stops), frames delivered afterwards are whole, the
// drop count says what was lost, and the camera can be closed and opened again.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "capture/CaptureFixture.h"

namespace {

using okc::sim::Model;
using okc::sim::SimCamera;

constexpr int kW = 320;
constexpr int kH = 240;
constexpr size_t kFrameBytes = static_cast<size_t>(kW) * kH;
constexpr unsigned long kForever = 0xFFFFFFFF;
// Far longer than a frame takes; a frame not there by then is not coming.
constexpr unsigned long kFrameWaitMs = 10000;

constexpr unsigned kAnyDrops = ~0u;

enum class After {
  Recovers,  // the stream goes on with whole frames
  Stops,     // the device is gone: frame waits end, the camera can be closed
};

struct Fault {
  const char* name;
  Model model;
  std::function<void(SimCamera&)> inject;
  // Undoes a lasting fault once it has had its effect (nullptr: none).
  std::function<void(SimCamera&)> clear;
  After after;
  // What getDroppedFrames() adds up once the fault has passed; kAnyDrops when the host
  // itself was blocked (frames that find the queue full are dropped then, as many as came).
  unsigned droppedFrames;
  // The camera's reaction to a lasting fault that is waited for before clearing it.
  std::function<bool(SimCamera&, int pipeAborts, int portResets)> reacted = nullptr;
};

std::string FaultName(const ::testing::TestParamInfo<Fault>& info) { return info.param.name; }

class FaultMatrix : public okc::test::CaptureTest, public ::testing::WithParamInterface<Fault> {
 protected:
  // Samples off by more than one from the scene, from row 2 on (the repaired marker)
  // up to the last four bytes (the repaired trailer of the USB 3 models).
  int Mismatches(const std::vector<uint8_t>& frame) const {
    const std::vector<int> samples = ExpectedWindow();
    int mismatches = 0;
    for (size_t i = 2 * kW; i + 4 < samples.size(); ++i)
      mismatches += std::abs(frame[i] - (samples[i] >> 4)) > 1;
    return mismatches;
  }

  // Reads frames until `frames` more have left the sensor, so the fault has passed.
  void ReadWhileSensorSends(uint64_t frames) {
    std::vector<uint8_t> frame(kFrameBytes);
    const uint64_t until = sim->FramesProduced() + frames;
    ASSERT_TRUE(WaitUntil([&] {
      getImageData(frame.data(), static_cast<int>(kFrameBytes), 0);
      return sim->FramesProduced() >= until;
    })) << "the sensor stopped sending";
  }

  // Two frames in a row, each whole and showing the scene. The recovery may have
  // lengthened the line, which lengthens the exposure: frames are compared once
  // two have left the sensor with the line it has now.
  void ExpectWholeFrames() {
    for (int tries = 0; tries < 10; ++tries) {
      const uint32_t lineLength = sim->Sensor().lineLength;
      ReadWhileSensorSends(2);
      if (sim->Sensor().lineLength == lineLength) break;
    }
    std::vector<uint8_t> frame(kFrameBytes);
    for (int i = 0; i < 2; ++i) {
      ASSERT_TRUE(getImageData(frame.data(), static_cast<int>(kFrameBytes), kFrameWaitMs))
          << "no frame " << i << " after the fault; sensor sent " << sim->FramesProduced() << ", dropped "
          << getDroppedFrames();
      EXPECT_EQ(Mismatches(frame), 0) << "frame " << i << " after the fault";
    }
  }
};

TEST_P(FaultMatrix, StreamingCameraSurvivesTheFault) {
  const Fault& fault = GetParam();
  OpenTavc(kW, kH, 1, IMGTYPE_RAW8, 20000, fault.model);
  startCapture();
  std::vector<uint8_t> frame(kFrameBytes);
  ASSERT_TRUE(getImageData(frame.data(), static_cast<int>(kFrameBytes), kForever));
  ReadWhileSensorSends(2);
  const unsigned droppedBefore = getDroppedFrames();
  const int pipeAborts = sim->PipeAborts();
  const int portResets = sim->PortResets();

  fault.inject(*sim);
  if (fault.after == After::Stops) {
    // Waits end once the device is gone, without the caller's timeout running out.
    while (getImageData(frame.data(), static_cast<int>(kFrameBytes), kForever)) {
    }
    stopCapture();
    EXPECT_FALSE(Cam().capturing.load());
    closeCamera();
    EXPECT_EQ(getWidth(), 0);
    // Plugged in again, it opens and streams as before.
    bus->Detach(sim);
    okc::api::cameraCount = 0;
    OpenTavc(kW, kH, 1, IMGTYPE_RAW8, 20000, fault.model);
    startCapture();
    ExpectWholeFrames();
    stopCapture();
    closeCamera();
    return;
  }

  if (fault.reacted) {
    std::vector<uint8_t> scratch(kFrameBytes);
    EXPECT_TRUE(WaitUntil([&] {
      getImageData(scratch.data(), static_cast<int>(kFrameBytes), 0);
      return fault.reacted(*sim, pipeAborts, portResets);
    })) << "no reaction to the fault";
  } else {
    ReadWhileSensorSends(6);
  }
  if (fault.clear) {
    fault.clear(*sim);
    ReadWhileSensorSends(4);
  }
  ExpectWholeFrames();
  if (fault.droppedFrames != kAnyDrops) {
    // At least the frames the fault spoiled; a host slowed by a busy machine may also
    // find a frame dropped for a full queue.
    EXPECT_GE(getDroppedFrames() - droppedBefore, fault.droppedFrames);
  }
  EXPECT_TRUE(Cam().capturing.load());
  stopCapture();
  EXPECT_FALSE(sim->Streaming());
  closeCamera();

  // The same camera opens again and streams whole frames.
  okc::platform::UseClock(std::make_shared<okc::platform::FastClock>(1000.0));
  ASSERT_TRUE(openCamera(0));
  ASSERT_TRUE(initCamera());
  ASSERT_TRUE(SetMisc(false, false));
  setValue(CTRL_EXPOSURE, 20000, false);
  ASSERT_TRUE(setImageFormat(kW, kH, 1, IMGTYPE_RAW8));
  okc::platform::UseClock(nullptr);
  startCapture();
  ExpectWholeFrames();
  stopCapture();
  closeCamera();
}

// A control request the controller takes but never answers, or refuses, while the
// stream runs: the call returns (its transfer times out or fails), streaming goes on.
void ReadTemperatureWhileControlFails(SimCamera&) { getSensorTemp(); }

const Fault kFaults[] = {
    {"UnmarkedFrame", Model::TAVC, [](SimCamera& s) { s.DropMarkerOfNextFrames(1); }, nullptr, After::Recovers, 1},
    {"ThreeUnmarkedFrames", Model::TAVC, [](SimCamera& s) { s.DropMarkerOfNextFrames(3); }, nullptr, After::Recovers, 3},
    {"ShortFrame", Model::TAVC, [](SimCamera& s) { s.ShortenNextFrames(1); }, nullptr, After::Recovers, 0},
    {"StalledStream", Model::TAVC, [](SimCamera& s) { s.SetStreamStalled(true); },
     [](SimCamera& s) { s.SetStreamStalled(false); }, After::Recovers, 0,
     [](SimCamera& s, int aborts, int) { return s.PipeAborts() > aborts; }},
    {"ControlNoAnswer", Model::TAVC,
     [](SimCamera& s) {
       s.SetControlNoAnswer(true);
       ReadTemperatureWhileControlFails(s);
     },
     [](SimCamera& s) { s.SetControlNoAnswer(false); }, After::Recovers, kAnyDrops},
    {"ControlStalled", Model::TAVC,
     [](SimCamera& s) {
       s.SetStallRequest(0xA7);
       ReadTemperatureWhileControlFails(s);
     },
     [](SimCamera& s) { s.SetStallRequest(std::nullopt); }, After::Recovers, 0},
    {"VanishedAtOnce", Model::TAVC, [](SimCamera& s) { s.Unplug(); }, nullptr, After::Stops, 0},
    {"UnpluggedAfterTwoFrames", Model::TAVC, [](SimCamera& s) { s.UnplugAfterFrames(2); }, nullptr, After::Stops, 0},
    {"Usb3MissingTrailer", Model::TAVC_U, [](SimCamera& s) { s.DropTrailerOfNextFrames(1); }, nullptr,
     After::Recovers, 1},
    {"Usb3UnmarkedFrame", Model::TAVC_U, [](SimCamera& s) { s.DropMarkerOfNextFrames(1); }, nullptr,
     After::Recovers, 1},
    {"Usb3ShortFrame", Model::TAVC_U, [](SimCamera& s) { s.ShortenNextFrames(1); }, nullptr, After::Recovers, 0},
    {"Usb3StalledStream", Model::TAVC_U, [](SimCamera& s) { s.SetStreamStalled(true); },
     [](SimCamera& s) { s.SetStreamStalled(false); }, After::Recovers, 0,
     [](SimCamera& s, int, int resets) { return s.PortResets() > resets; }},
    {"Usb3Vanished", Model::TAVC_U, [](SimCamera& s) { s.Unplug(); }, nullptr, After::Stops, 0},
};

INSTANTIATE_TEST_SUITE_P(Faults, FaultMatrix, ::testing::ValuesIn(kFaults), FaultName);

}  // namespace
