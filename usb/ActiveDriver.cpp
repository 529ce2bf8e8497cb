// The process-wide choice of USB backend. The libusb backend is created the
// first time it is needed, so a host that only uses simulated cameras never
// touches the system's USB devices.
#include <algorithm>
#include <mutex>

#include "okccamera/Clock.h"
#include "okccamera/UsbDriver.h"
#include "usb/LibusbDriver.h"
#include "usb/SharedDriver.h"

namespace okc::usb {

namespace {

struct DriverChoice {
  std::mutex mutex;
  std::shared_ptr<UsbDriver> chosen;
  std::shared_ptr<UsbDriver> libusb;
};

// Created on first use and never destroyed: a camera left open is closed by the exit
// handlers, after static destructors have run, and still needs its driver then.
DriverChoice& Choice() {
  static auto* choice = new DriverChoice;
  return *choice;
}

}  // namespace

std::shared_ptr<UsbDriver> SharedActiveDriver() {
  DriverChoice& choice = Choice();
  std::lock_guard lock(choice.mutex);
  if (choice.chosen) return choice.chosen;
  if (!choice.libusb) choice.libusb = std::make_shared<LibusbDriver>();
  return choice.libusb;
}

bool UsbDriver::WaitForDevices(const UsbDeviceClass& deviceClass, int count, uint32_t timeoutMs) {
  constexpr uint64_t kPollMs = 50;
  const uint64_t deadline = platform::TickCountMs() + timeoutMs;
  for (;;) {
    if (CountDevices(deviceClass) >= count) return true;
    const uint64_t now = platform::TickCountMs();
    if (now >= deadline) return false;
    platform::SleepMs(std::min(kPollMs, deadline - now));
  }
}

UsbDriver& ActiveDriver() { return *SharedActiveDriver(); }

void UseDriver(std::shared_ptr<UsbDriver> driver) {
  DriverChoice& choice = Choice();
  std::lock_guard lock(choice.mutex);
  choice.chosen = std::move(driver);
}

}  // namespace okc::usb
