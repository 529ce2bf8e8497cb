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

std::mutex g_mutex;
std::shared_ptr<UsbDriver> g_chosen;
std::shared_ptr<UsbDriver> g_libusb;

}  // namespace

std::shared_ptr<UsbDriver> SharedActiveDriver() {
  std::lock_guard lock(g_mutex);
  if (g_chosen) return g_chosen;
  if (!g_libusb) g_libusb = std::make_shared<LibusbDriver>();
  return g_libusb;
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
  std::lock_guard lock(g_mutex);
  g_chosen = std::move(driver);
}

}  // namespace okc::usb
