// The libusb-1.0 backend: real cameras on Linux.
//
// A class is the set of attached devices with the class's vendor and product
// ID, numbered by bus number, then port path, so a camera keeps its number
// while it stays plugged into the same port. Opening claims interface 0
// (detaching a kernel driver if one is bound). Control requests and bulk
// transfers run through libusb's asynchronous API so that several can be
// queued at once; one event thread per process handles their completions
// while any device is open.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>

#include "okccamera/UsbDriver.h"

struct libusb_context;

namespace okc::usb {

// The libusb context and its event thread, shared by the driver and every open device.
class LibusbContext {
 public:
  LibusbContext();
  ~LibusbContext();
  LibusbContext(const LibusbContext&) = delete;
  LibusbContext& operator=(const LibusbContext&) = delete;

  // Null when libusb could not be initialised (no USB on this machine).
  libusb_context* Get() const { return context_; }
  // The event thread runs while at least one device is open.
  void DeviceOpened();
  void DeviceClosed();

 private:
  void EventLoop();

  libusb_context* context_ = nullptr;
  std::mutex mutex_;
  int openDevices_ = 0;
  std::atomic<bool> stop_{false};
  std::thread eventThread_;
};

class LibusbDriver final : public UsbDriver {
 public:
  LibusbDriver();
  int CountDevices(const UsbDeviceClass& deviceClass) override;
  std::unique_ptr<DeviceLink> Open(const UsbDeviceClass& deviceClass, int n, uint32_t* error) override;
  // Wakes on hot-plug arrivals where libusb offers them, else polls.
  bool WaitForDevices(const UsbDeviceClass& deviceClass, int count, uint32_t timeoutMs) override;

 private:
  std::shared_ptr<LibusbContext> context_;
};

// libusb result codes as the transport's error numbers.
uint32_t MapLibusbError(int code);

}  // namespace okc::usb
