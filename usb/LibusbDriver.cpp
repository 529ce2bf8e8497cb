#include "usb/LibusbDriver.h"

#include <libusb.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "usb/LibusbLink.h"

namespace okc::usb {

namespace {

constexpr int kMaxPortDepth = 7;
constexpr int kCameraInterface = 0;

// Where a device sits: bus number, then the ports from the root hub down.
struct Location {
  uint8_t bus = 0;
  std::vector<uint8_t> ports;
  uint8_t address = 0;  // tie-break only
  bool operator<(const Location& other) const {
    if (bus != other.bus) return bus < other.bus;
    if (ports != other.ports) return ports < other.ports;
    return address < other.address;
  }
};

Location LocationOf(libusb_device* device) {
  Location location;
  location.bus = libusb_get_bus_number(device);
  std::array<uint8_t, kMaxPortDepth> ports{};
  const int depth = libusb_get_port_numbers(device, ports.data(), static_cast<int>(ports.size()));
  if (depth > 0) location.ports.assign(ports.begin(), ports.begin() + depth);
  location.address = libusb_get_device_address(device);
  return location;
}

std::string PathOf(const Location& location) {
  std::string path = std::to_string(location.bus);
  for (size_t i = 0; i < location.ports.size(); ++i) path += (i == 0 ? "-" : ".") + std::to_string(location.ports[i]);
  return path;
}

// The attached devices of a class in their stable order. Holds libusb's device list.
class ClassList {
 public:
  ClassList(libusb_context* context, const UsbDeviceClass& deviceClass) {
    if (!context) return;
    const ssize_t count = libusb_get_device_list(context, &all_);
    for (ssize_t i = 0; i < count; ++i) {
      libusb_device_descriptor descriptor{};
      if (libusb_get_device_descriptor(all_[i], &descriptor) != LIBUSB_SUCCESS) continue;
      if (descriptor.idVendor != deviceClass.vendorId || descriptor.idProduct != deviceClass.productId) continue;
      devices_.push_back({LocationOf(all_[i]), all_[i]});
    }
    std::sort(devices_.begin(), devices_.end(),
              [](const Entry& a, const Entry& b) { return a.location < b.location; });
  }
  ~ClassList() {
    if (all_) libusb_free_device_list(all_, 1);
  }
  ClassList(const ClassList&) = delete;
  ClassList& operator=(const ClassList&) = delete;

  int Count() const { return static_cast<int>(std::min<size_t>(devices_.size(), 255)); }
  libusb_device* Device(int n) const { return devices_[n].device; }
  const Location& LocationAt(int n) const { return devices_[n].location; }

 private:
  struct Entry {
    Location location;
    libusb_device* device;
  };
  libusb_device** all_ = nullptr;
  std::vector<Entry> devices_;
};

// Transfer types of the endpoints of the camera's interface, by address.
std::array<uint8_t, 256> EndpointTypes(libusb_device* device) {
  std::array<uint8_t, 256> types;
  types.fill(0xFF);
  libusb_config_descriptor* config = nullptr;
  if (libusb_get_active_config_descriptor(device, &config) != LIBUSB_SUCCESS || !config) return types;
  for (int i = 0; i < config->bNumInterfaces; ++i) {
    const libusb_interface& iface = config->interface[i];
    for (int a = 0; a < iface.num_altsetting; ++a) {
      const libusb_interface_descriptor& alt = iface.altsetting[a];
      if (alt.bInterfaceNumber != kCameraInterface) continue;
      for (int e = 0; e < alt.bNumEndpoints; ++e)
        types[alt.endpoint[e].bEndpointAddress] = alt.endpoint[e].bmAttributes & 3;
    }
  }
  libusb_free_config_descriptor(config);
  return types;
}

}  // namespace

uint32_t MapLibusbError(int code) {
  switch (code) {
    case LIBUSB_SUCCESS: return kErrNone;
    case LIBUSB_ERROR_ACCESS: return kErrAccessDenied;
    case LIBUSB_ERROR_NO_DEVICE:
    case LIBUSB_ERROR_NOT_FOUND: return kErrNoDevice;
    case LIBUSB_ERROR_NO_MEM: return kErrNotEnoughMemory;
    case LIBUSB_ERROR_TIMEOUT: return kErrTimeout;
    case LIBUSB_ERROR_INTERRUPTED: return kErrOperationAborted;
    default: return kErrGenFailure;  // pipe (stall), I/O, overflow, busy, ...
  }
}

// ---- LibusbContext ----

LibusbContext::LibusbContext() {
  if (libusb_init(&context_) != LIBUSB_SUCCESS) context_ = nullptr;
}

LibusbContext::~LibusbContext() {
  {
    std::lock_guard lock(mutex_);
    if (eventThread_.joinable()) {
      stop_ = true;
      libusb_interrupt_event_handler(context_);
      eventThread_.join();
    }
  }
  if (context_) libusb_exit(context_);
}

void LibusbContext::DeviceOpened() {
  std::lock_guard lock(mutex_);
  if (++openDevices_ == 1 && context_ && !eventThread_.joinable()) {
    stop_ = false;
    eventThread_ = std::thread([this] { EventLoop(); });
  }
}

void LibusbContext::DeviceClosed() {
  std::lock_guard lock(mutex_);
  if (openDevices_ > 0 && --openDevices_ == 0 && eventThread_.joinable()) {
    stop_ = true;
    libusb_interrupt_event_handler(context_);
    eventThread_.join();
  }
}

void LibusbContext::EventLoop() {
  while (!stop_) {
    timeval wakeUp{0, 200000};  // also re-checks stop_ should an interrupt be missed
    libusb_handle_events_timeout_completed(context_, &wakeUp, nullptr);
  }
}

// ---- LibusbDriver ----

LibusbDriver::LibusbDriver() : context_(std::make_shared<LibusbContext>()) {}

int LibusbDriver::CountDevices(const UsbDeviceClass& deviceClass) {
  return ClassList(context_->Get(), deviceClass).Count();
}

std::unique_ptr<DeviceLink> LibusbDriver::Open(const UsbDeviceClass& deviceClass, int n, uint32_t* error) {
  uint32_t ignored = 0;
  if (!error) error = &ignored;
  ClassList list(context_->Get(), deviceClass);
  if (n < 0 || n >= list.Count()) {
    *error = kErrNoMoreItems;
    return nullptr;
  }
  libusb_device* device = list.Device(n);
  libusb_device_handle* handle = nullptr;
  int rc = libusb_open(device, &handle);
  if (rc != LIBUSB_SUCCESS) {
    *error = MapLibusbError(rc);
    return nullptr;
  }
  bool detached = false;
  if (libusb_kernel_driver_active(handle, kCameraInterface) == 1)
    detached = libusb_detach_kernel_driver(handle, kCameraInterface) == LIBUSB_SUCCESS;
  rc = libusb_claim_interface(handle, kCameraInterface);
  // A device without interface 0 (a bare boot loader) still answers control requests.
  if (rc != LIBUSB_SUCCESS && rc != LIBUSB_ERROR_NOT_FOUND) {
    if (detached) libusb_attach_kernel_driver(handle, kCameraInterface);
    libusb_close(handle);
    // Busy here means another program holds the interface: the camera is in use, not faulty.
    *error = rc == LIBUSB_ERROR_BUSY ? kErrBusy : MapLibusbError(rc);
    return nullptr;
  }
  *error = kErrNone;
  return std::make_unique<LibusbLink>(context_, handle, rc == LIBUSB_SUCCESS, detached, PathOf(list.LocationAt(n)),
                                      EndpointTypes(device));
}

}  // namespace okc::usb

namespace okc::usb {

namespace {

// Its only job is to be an event: handling it ends the wait for events early.
int LIBUSB_CALL NoteArrival(libusb_context*, libusb_device*, libusb_hotplug_event, void*) {
  return 0;  // stay registered
}

}  // namespace

bool LibusbDriver::WaitForDevices(const UsbDeviceClass& deviceClass, int count, uint32_t timeoutMs) {
  libusb_context* context = context_->Get();
  if (!context) return count <= 0;  // no USB on this machine: nothing will come
  // Device time, not the platform clock: the bus takes as long as it takes.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  libusb_hotplug_callback_handle callback = 0;
  const bool hotplug = libusb_has_capability(LIBUSB_CAP_HAS_HOTPLUG) &&
                       libusb_hotplug_register_callback(context, LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED,
                                                        LIBUSB_HOTPLUG_NO_FLAGS, deviceClass.vendorId,
                                                        deviceClass.productId, LIBUSB_HOTPLUG_MATCH_ANY,
                                                        NoteArrival, nullptr, &callback) == LIBUSB_SUCCESS;
  bool found = false;
  for (;;) {
    if (CountDevices(deviceClass) >= count) {
      found = true;
      break;
    }
    if (std::chrono::steady_clock::now() >= deadline) break;
    if (hotplug) {
      // Wakes on an arrival; a late count still re-checks after the slice.
      timeval slice{0, 100000};
      libusb_handle_events_timeout_completed(context, &slice, nullptr);
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  }
  if (hotplug) libusb_hotplug_deregister_callback(context, callback);
  return found;
}

}  // namespace okc::usb
