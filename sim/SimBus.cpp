// The simulated bus: lists the attached cameras by class and opens them.
#include <algorithm>
#include <cstdio>

#include "okccamera/Clock.h"
#include "sim/SimCameraImpl.h"
#include "sim/SimDeviceLink.h"

namespace okc::sim {

namespace {

constexpr int kMaxDevicesPerClass = 255;

class SimBusImpl final : public SimBus {
 public:
  using SimBus::Attach;

  std::shared_ptr<SimCamera> Attach(const SimDeviceOptions& options) override {
    std::lock_guard lock(mutex_);
    auto camera = std::make_shared<SimCameraImpl>(Resolve(options), nextPlug_++);
    cameras_.push_back(camera);
    return camera;
  }

  void Detach(const std::shared_ptr<SimCamera>& camera) override {
    if (!camera) return;
    std::lock_guard lock(mutex_);
    auto it = std::find_if(cameras_.begin(), cameras_.end(),
                           [&camera](const std::shared_ptr<SimCameraImpl>& c) { return c.get() == camera.get(); });
    if (it == cameras_.end()) return;
    (*it)->Unplug();
    cameras_.erase(it);
  }

  std::vector<std::shared_ptr<SimCamera>> Cameras() const override {
    std::lock_guard lock(mutex_);
    std::vector<std::shared_ptr<SimCamera>> out;
    for (const auto& c : cameras_) {
      if (c->Listed()) out.push_back(c);
    }
    return out;
  }

  int CountDevices(const usb::UsbDeviceClass& deviceClass) override {
    std::lock_guard lock(mutex_);
    return static_cast<int>(std::min<size_t>(Members(deviceClass).size(), kMaxDevicesPerClass));
  }

  // Sleeps (platform clock) until the devices away re-enumerating are back, or the time is up.
  bool WaitForDevices(const usb::UsbDeviceClass& deviceClass, int count, uint32_t timeoutMs) override {
    constexpr uint64_t kPollMs = 20;  // a test may attach a device meanwhile
    const uint64_t deadline = platform::TickCountMs() + timeoutMs;
    for (;;) {
      uint64_t nextBack = 0;
      {
        std::lock_guard lock(mutex_);
        if (static_cast<int>(Members(deviceClass).size()) >= count) return true;
        for (const auto& c : cameras_) {
          const uint64_t back = c->BackOnBusAtMs();
          if (c->Options().classProductId == deviceClass.productId && back > 0 && (nextBack == 0 || back < nextBack))
            nextBack = back;
        }
      }
      const uint64_t now = platform::TickCountMs();
      if (now >= deadline) return false;
      uint64_t wake = std::min(deadline, now + kPollMs);
      if (nextBack > now) wake = std::min(wake, nextBack);
      platform::SleepMs(std::max<uint64_t>(wake - now, 1));
    }
  }

  std::unique_ptr<usb::DeviceLink> Open(const usb::UsbDeviceClass& deviceClass, int n, uint32_t* error) override {
    std::lock_guard lock(mutex_);
    const auto members = Members(deviceClass);
    if (n < 0 || n >= static_cast<int>(std::min<size_t>(members.size(), kMaxDevicesPerClass))) {
      if (error) *error = usb::kErrNoMoreItems;
      return nullptr;
    }
    const auto& camera = members[static_cast<size_t>(n)];
    if (camera->Busy()) {
      if (error) *error = usb::kErrBusy;  // what claiming a claimed interface answers
      return nullptr;
    }
    if (error) *error = usb::kErrNone;
    return std::make_unique<SimDeviceLink>(camera);
  }

 private:
  // Fills in what the options leave to the bus: class, identity and strings.
  SimDeviceOptions Resolve(SimDeviceOptions o) {
    const uint16_t modelPid = ProductIdOf(o.model);
    if (o.classProductId == 0) o.classProductId = modelPid;
    if (o.vendorId == 0) o.vendorId = usb::kCameraVendorId;
    if (o.productId == 0) o.productId = modelPid;
    if (o.product.empty()) o.product = std::string("OKC") + ShortNameOf(o.model);
    if (o.serialNumber.empty()) {
      char serial[32];
      std::snprintf(serial, sizeof serial, "SIM%s%04d", ShortNameOf(o.model), nextSerial_++);
      o.serialNumber = serial;
    }
    return o;
  }

  // The devices bound to the class's driver, in plug order (called with mutex_ held).
  std::vector<std::shared_ptr<SimCameraImpl>> Members(const usb::UsbDeviceClass& deviceClass) const {
    std::vector<std::shared_ptr<SimCameraImpl>> out;
    if (deviceClass.vendorId != usb::kCameraVendorId) return out;
    for (const auto& c : cameras_) {
      if (c->Options().classProductId == deviceClass.productId && c->Listed()) out.push_back(c);
    }
    return out;
  }

  mutable std::mutex mutex_;
  std::vector<std::shared_ptr<SimCameraImpl>> cameras_;
  int nextPlug_ = 1;
  int nextSerial_ = 1;
};

}  // namespace

std::shared_ptr<SimBus> CreateSimBus() { return std::make_shared<SimBusImpl>(); }

std::shared_ptr<SimBus> InstallSimulator() {
  auto bus = CreateSimBus();
  usb::UseDriver(bus);
  return bus;
}

void RemoveSimulator() { usb::UseDriver(nullptr); }

}  // namespace okc::sim
