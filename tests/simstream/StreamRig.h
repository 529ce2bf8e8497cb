// A simulated camera opened through the driver seam, with its sensor
// programmed by register writes (vendor request A6) as a driver would, and
// frames read with real bulk transfers.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "okccamera/Clock.h"
#include "okccamera/SimCameras.h"
#include "okccamera/UsbDriver.h"
#include "usb/RequestRecord.h"

namespace okc::sim::test {

// A vendor OUT request without data stage, as the control endpoint hands it across the seam.
inline bool VendorOut(usb::DeviceLink& link, uint8_t code, uint16_t value = 0, uint16_t index = 0) {
  constexpr uint8_t kVendorType = 2;
  usb::RequestRecord r;
  r.requestType = usb::RequestRecord::MakeRequestType(0, kVendorType, 0);
  r.request = code;
  r.value = value;
  r.index = index;
  r.timeoutSeconds = 1;
  r.payloadOffset = usb::kRecordSize;
  std::vector<uint8_t> record(usb::kRecordSize, 0);
  r.Encode(record.data());
  auto io = link.SubmitControl(record.data(), record.size());
  return io->Wait(1000) && io->Result().ok;
}

// A bulk IN read of `length` bytes with its own record and buffer, as the capture engine queues them.
struct BulkRead {
  std::vector<uint8_t> record;
  std::vector<uint8_t> buffer;
  std::unique_ptr<usb::PendingIo> io;

  BulkRead(usb::DeviceLink& link, size_t length) : record(usb::kRecordSize, 0), buffer(length, 0) {
    usb::RequestRecord r;
    r.endpointAddress = 0x82;
    r.Encode(record.data());
    io = link.SubmitDirect(record.data(), buffer.data(), buffer.size());
  }
  std::vector<uint8_t> Received() const {
    const size_t n = std::min<size_t>(io->Result().bytesReturned, buffer.size());
    return {buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(n)};
  }
};

// An attached camera and an open link to it.
struct OpenedCamera {
  std::shared_ptr<SimCamera> camera;
  std::unique_ptr<usb::DeviceLink> link;
};

inline OpenedCamera AttachAndOpen(SimBus& bus, Model model) {
  OpenedCamera c;
  c.camera = bus.Attach(model);
  const usb::UsbDeviceClass deviceClass{usb::kCameraVendorId, c.camera->Options().classProductId};
  uint32_t error = 0;
  c.link = bus.Open(deviceClass, bus.CountDevices(deviceClass) - 1, &error);
  return c;
}

enum : uint8_t {
  kWriteRegister = 0xA6,
  kStreamOn = 0xA9,
  kStreamOff = 0xAA,
  kSamples8 = 0xAB,
  kSamples16 = 0xAC,
  kLongExposureBegin = 0xAE,
  kLongExposureEnd = 0xAF,
};

// What the rig writes into the sensor. Without PLL writes the pixel clock is the
// controller's 48 MHz; the defaults give a 64 x 32 window and a 20 ms frame period.
struct SensorProgram {
  int x = 0;
  int y = 2;
  int width = 64;
  int height = 32;
  uint16_t lineLength = 16551;  // 58 lines of 16551 clocks at 48 MHz: 20 ms
  uint16_t integrationLines = 10;
  uint16_t coarseGain = 0x1300;  // analog x1
  uint16_t digitalGain = 32;     // x1
  uint16_t blackLevel = 0;

  double FramePeriodUs() const { return (height + 26) * static_cast<double>(lineLength) / 48.0; }
  double IntegrationUs() const { return integrationLines * static_cast<double>(lineLength) / 48.0; }
};

// Where a test waits for something the camera's thread does, it gives up after this long.
constexpr uint32_t kPatienceMs = 3000;

class StreamRig : public ::testing::Test {
 protected:
  void TearDown() override {
    c_.link.reset();
    c_.camera.reset();
    bus_.reset();
    platform::UseClock(nullptr);
  }

  void Attach(Model model = Model::TAVC) {
    c_ = AttachAndOpen(*bus_, model);
    c_.camera->SetSceneNoise(false);
  }
  usb::DeviceLink& Link() { return *c_.link; }
  SimCamera& Camera() { return *c_.camera; }

  void WriteRegister(uint16_t address, uint16_t value) { ASSERT_TRUE(VendorOut(Link(), kWriteRegister, address, value)); }
  void Command(uint8_t code) { ASSERT_TRUE(VendorOut(Link(), code)); }

  void Program(const SensorProgram& p) {
    WriteRegister(0x3004, static_cast<uint16_t>(p.x));
    WriteRegister(0x3002, static_cast<uint16_t>(p.y));
    WriteRegister(0x3008, static_cast<uint16_t>(p.x + p.width - 1));
    WriteRegister(0x3006, static_cast<uint16_t>(p.y + p.height - 1));
    WriteRegister(0x300A, static_cast<uint16_t>(p.height + 26));
    WriteRegister(0x300C, p.lineLength);
    WriteRegister(0x3012, p.integrationLines);
    WriteRegister(0x30B0, p.coarseGain);
    for (uint16_t gain : {0x3056, 0x305C, 0x305A, 0x3058, 0x305E}) WriteRegister(gain, p.digitalGain);
    WriteRegister(0x301E, p.blackLevel);
  }

  // The next chunk of the bulk stream, up to `room` bytes; empty if none comes in time.
  std::vector<uint8_t> ReadFrame(size_t room, uint32_t timeoutMs = kPatienceMs) {
    BulkRead read(Link(), room);
    if (!read.io->Wait(timeoutMs) || !read.io->Result().ok) return {};
    return read.Received();
  }

  // Polls `done` until it holds or the patience runs out.
  static bool Eventually(const std::function<bool()>& done) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(kPatienceMs);
    while (!done()) {
      if (std::chrono::steady_clock::now() > until) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
  }

  // Runs the platform clock `speedup` times faster than real time.
  static void FastClock(double speedup) { platform::UseClock(std::make_shared<platform::FastClock>(speedup)); }

  std::shared_ptr<SimBus> bus_ = CreateSimBus();
  OpenedCamera c_;
};

}  // namespace okc::sim::test
