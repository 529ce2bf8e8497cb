// Builds requests the way the endpoint classes hand them across the driver
// seam, so the simulated cameras are tested through the same door, and the
// fixture every simulator test starts from.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

#include "okccamera/SimCameras.h"
#include "okccamera/UsbDriver.h"
#include "usb/RequestRecord.h"

namespace okc::sim::test {

constexpr uint8_t kVendorType = 2;
constexpr uint8_t kStandardType = 0;

// A control request: the record and its data stage behind it.
struct ControlRequest {
  std::vector<uint8_t> record;

  ControlRequest(uint8_t type, uint8_t request, bool in, uint16_t value, uint16_t index, uint16_t length,
                 const std::vector<uint8_t>& outData = {}) {
    usb::RequestRecord r;
    r.requestType = usb::RequestRecord::MakeRequestType(0, type, in ? 1 : 0);
    r.request = request;
    r.value = value;
    r.index = index;
    r.length = length;
    r.timeoutSeconds = 1;
    r.payloadOffset = usb::kRecordSize;
    r.payloadLength = length;
    record.assign(usb::kRecordSize + length, 0);
    r.Encode(record.data());
    for (size_t i = 0; i < outData.size() && i < length; ++i) record[usb::kRecordSize + i] = outData[i];
  }
  uint32_t UsbdStatus() const { return usb::RequestRecord::Decode(record.data()).usbdStatus; }
};

// The outcome of a control request that completed at once.
struct ControlReply {
  usb::IoResult result;
  std::vector<uint8_t> data;  // IN: the bytes answered
  uint32_t usbdStatus = 0;
};

inline ControlReply RunControl(usb::DeviceLink& link, ControlRequest request) {
  auto io = link.SubmitControl(request.record.data(), request.record.size());
  ControlReply reply;
  if (!io->Wait(1000)) return reply;
  reply.result = io->Result();
  const auto& r = request.record;
  const size_t end = std::min<size_t>(reply.result.bytesReturned, r.size());
  if (end > usb::kRecordSize) reply.data.assign(r.begin() + usb::kRecordSize, r.begin() + end);
  reply.usbdStatus = request.UsbdStatus();
  return reply;
}

inline ControlReply VendorOut(usb::DeviceLink& link, uint8_t code, uint16_t value = 0, uint16_t index = 0,
                              const std::vector<uint8_t>& data = {}) {
  const auto length = static_cast<uint16_t>(data.size());
  return RunControl(link, ControlRequest(kVendorType, code, false, value, index, length, data));
}

inline ControlReply VendorIn(usb::DeviceLink& link, uint8_t code, uint16_t value, uint16_t index, uint16_t length) {
  return RunControl(link, ControlRequest(kVendorType, code, true, value, index, length));
}

inline ControlReply GetDescriptor(usb::DeviceLink& link, uint8_t type, uint8_t index, uint16_t length,
                                  uint16_t language = 0) {
  return RunControl(link,
             ControlRequest(kStandardType, 6, true, static_cast<uint16_t>(type << 8 | index), language, length));
}

// A 38-byte record naming a non-control endpoint, for a direct transfer.
inline std::vector<uint8_t> EndpointRecord(uint8_t endpoint) {
  usb::RequestRecord r;
  r.endpointAddress = endpoint;
  std::vector<uint8_t> record(usb::kRecordSize, 0);
  r.Encode(record.data());
  return record;
}

// A bulk IN read of `length` bytes with its own record and buffer, as the capture engine queues them.
struct BulkRead {
  std::vector<uint8_t> record = EndpointRecord(0x82);
  std::vector<uint8_t> buffer;
  std::unique_ptr<usb::PendingIo> io;
  BulkRead(usb::DeviceLink& link, size_t length) : buffer(length, 0) {
    io = link.SubmitDirect(record.data(), buffer.data(), buffer.size());
  }
  std::vector<uint8_t> Received() const {
    const auto n = io->Result().bytesReturned;
    return {buffer.begin(), buffer.begin() + n};
  }
};

// Counting bytes: first, first + step, ...
inline std::vector<uint8_t> Bytes(size_t n, uint8_t first, uint8_t step = 1) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(first + i * step);
  return v;
}

inline usb::UsbDeviceClass ClassOf(Model model) { return {usb::kCameraVendorId, ProductIdOf(model)}; }

// A fresh bus; Open attaches a camera and opens a link to it, the last one of its class.
class SimTest : public ::testing::Test {
 protected:
  std::shared_ptr<SimCamera> Open(const SimDeviceOptions& options) {
    camera = bus->Attach(options);
    const usb::UsbDeviceClass deviceClass = {usb::kCameraVendorId, camera->Options().classProductId};
    uint32_t error = 0;
    link = bus->Open(deviceClass, bus->CountDevices(deviceClass) - 1, &error);
    EXPECT_NE(link, nullptr);
    return camera;
  }
  std::shared_ptr<SimCamera> Open(Model model) {
    SimDeviceOptions o;
    o.model = model;
    return Open(o);
  }
  usb::DeviceLink& Link() { return *link; }
  SimCamera& Camera() { return *camera; }

  std::shared_ptr<SimBus> bus = CreateSimBus();
  std::shared_ptr<SimCamera> camera;
  std::unique_ptr<usb::DeviceLink> link;
};

}  // namespace okc::sim::test
