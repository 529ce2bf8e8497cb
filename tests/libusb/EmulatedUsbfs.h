// Simulated cameras behind real libusb: an umockdev testbed shows each camera
// in sysfs and /dev/bus/usb as a USB device with the camera's identity and
// descriptors, and answers the usbfs ioctls that libusb sends to its device
// node by passing them on to the simulated camera (SimDeviceLink), so the
// library's libusb backend runs unchanged against it.
//
// The program must run under umockdev-wrapper (its preload library reroutes
// /sys, /dev and ioctl() into the testbed).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "okccamera/SimCameras.h"

namespace okc::test {

// Counts of the usbfs requests that reached the emulation, by kind.
struct UsbfsCounts {
  int opens = 0;
  int controlUrbs = 0;  // URBs taken (not those refused at submission)
  int bulkUrbs = 0;
  int controlReaped = 0;  // URBs handed back to libusb, finished or cancelled
  int bulkReaped = 0;
  int discardRequests = 0;  // DISCARDURB requests, also those for URBs that had finished
  int discarded = 0;        // URBs withdrawn before they completed
  int clearHalts = 0;
  int resets = 0;
  int claims = 0;
  int unknownRequests = 0;  // ioctls the emulation does not know (answered ENOTTY)
};

class EmulatedUsbfs {
 public:
  EmulatedUsbfs();
  ~EmulatedUsbfs();
  EmulatedUsbfs(const EmulatedUsbfs&) = delete;
  EmulatedUsbfs& operator=(const EmulatedUsbfs&) = delete;

  // Whether the umockdev preload library is active (the program runs under umockdev-wrapper).
  static bool Available();

  // Plugs a simulated camera into `bus` at `ports` ("3", or "1.4" behind a hub) with
  // device number `address`. Each camera sits on a simulated bus of its own.
  std::shared_ptr<sim::SimCamera> Plug(const sim::SimDeviceOptions& options, int bus, const std::string& ports,
                                       int address);
  // The camera leaves the bus: the device vanishes from sysfs with a remove event;
  // its simulated camera is unplugged too, so open handles see it gone.
  void Unplug(const std::shared_ptr<sim::SimCamera>& camera);
  // The same camera shows up again at its port under a new device number (after
  // it re-enumerated): the old node is removed, a new one added with an add event.
  void Reenumerate(const std::shared_ptr<sim::SimCamera>& camera, int newAddress);
  // A hub at `ports` (no camera): cameras at "ports.N" sit behind it.
  void AddHub(int bus, const std::string& ports, int address);
  // Bulk URBs of every camera are refused at submission with this errno, as usbfs
  // does when its memory limit is reached (ENOMEM); 0 takes them again.
  void RefuseBulkSubmissions(int error);
  // The usbcore module parameter that caps the memory of all queued transfers.
  void SetUsbfsMemoryLimit(int megabytes);
  // Nobody may open the device node (mode 0; tests run as root also drop their file-permission overrides).
  void RestrictAccess(const std::shared_ptr<sim::SimCamera>& camera);

  // The node libusb opens for a camera, "/dev/bus/usb/BBB/DDD".
  std::string DeviceNode(const std::shared_ptr<sim::SimCamera>& camera) const;
  UsbfsCounts Counts() const;

 private:
  struct Device;
  Device& Find(const std::shared_ptr<sim::SimCamera>& camera) const;
  static std::string NodeOf(const Device& device);
  void AddToTestbed(Device& device);
  void RemoveFromTestbed(Device& device);

  struct Testbed;
  std::unique_ptr<Testbed> testbed_;
  std::vector<std::unique_ptr<Device>> devices_;
};

}  // namespace okc::test
