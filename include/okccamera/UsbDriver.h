// The seam between the camera code and the operating system's USB access.
//
// CUsbDevice and the endpoint classes talk to a camera only through the two
// interfaces below. Two backends implement them: libusb-1.0 for real cameras
// and the simulated cameras of sim/. The camera code cannot tell them apart.
//
// Transfers cross the seam the way they would cross a kernel driver: the
// endpoint builds the 38-byte request record (RequestRecord.h) and hands it
// over, either with the payload behind it (control and buffered transfers) or
// together with the caller's buffer (direct transfers). The backend returns a
// PendingIo, which stands for the overlapped request and its event.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace okc::usb {

// Vendor ID carried by every supported camera.
constexpr uint16_t kCameraVendorId = 0x6A5D;

// Waits without limit.
constexpr uint32_t kInfinite = 0xFFFFFFFF;

// Operating-system style error numbers recorded in lastError.
enum UsbError : uint32_t {
  kErrNone = 0,
  kErrAccessDenied = 5,      // no permission to open the device (udev rules missing)
  kErrInvalidHandle = 6,     // the device is closed
  kErrNotEnoughMemory = 8,   // usbfs memory limit reached
  kErrGenFailure = 31,       // the device or the backend failed the request (stall, I/O error)
  kErrBusy = 170,            // another program has claimed the device's interface
  kErrNoDevice = 433,        // the device is gone
  kErrNoMoreItems = 259,     // no such device number in the class
  kErrOperationAborted = 995,// the request was cancelled (AbortPipe)
  kErrIoPending = 997,       // started, not yet complete
  kErrTimeout = 1460,        // the backend's own time-out expired
};

// Whether a device that is listed in its class but failed to open with this
// error still holds its place in the class's numbering. Only a device that has
// left the bus gives its place up; one that another program has claimed, that
// this user may not open or whose descriptors are faulty keeps it, so the
// devices after it keep their numbers.
inline bool KeepsItsPlace(uint32_t openError) { return openError != kErrNoMoreItems && openError != kErrNoDevice; }

// The class of a model: the attached devices with this vendor and product ID.
struct UsbDeviceClass {
  uint16_t vendorId = kCameraVendorId;
  uint16_t productId = 0;
};

// What an overlapped request returned once it completed.
struct IoResult {
  bool ok = false;              // the request succeeded
  uint32_t bytesReturned = 0;   // bytes written back into the output (record or buffer)
  uint32_t error = kErrNone;    // error number when !ok
};

// One request in flight. Destroying it before it completed withdraws the
// request: afterwards the backend no longer touches its record or buffer.
class PendingIo {
 public:
  virtual ~PendingIo() = default;
  // Waits at most timeoutMs (kInfinite: no limit) for completion; true once complete.
  virtual bool Wait(uint32_t timeoutMs) = 0;
  // Completed (successfully or not)?
  virtual bool IsDone() const = 0;
  // The outcome; meaningful once IsDone() is true.
  virtual IoResult Result() const = 0;
};

// An opened device: everything the driver handle offers.
class DeviceLink {
 public:
  virtual ~DeviceLink() = default;

  // Control transfer on endpoint 0. `record` holds the 38-byte request record
  // followed by `recordLength - 38` payload bytes and must stay valid until the
  // request completes. The backend fills the payload of IN requests and the two
  // status words; bytesReturned is 38 plus the data-stage bytes moved.
  virtual std::unique_ptr<PendingIo> SubmitControl(uint8_t* record, size_t recordLength) = 0;

  // Direct transfer on another endpoint: `record` is the 38-byte record naming
  // the endpoint; the payload moves straight between the endpoint and `buffer`.
  // bytesReturned is the payload length moved. Both must stay valid until completion.
  virtual std::unique_ptr<PendingIo> SubmitDirect(uint8_t* record, uint8_t* buffer, size_t length) = 0;

  // Buffered transfer on another endpoint: record followed by the payload, as for control.
  virtual std::unique_ptr<PendingIo> SubmitBuffered(uint8_t* record, size_t recordLength) = 0;

  // Cancels every pending transfer of the endpoint (address 0 = the control
  // endpoint); returns once they have all completed.
  virtual bool AbortPipe(uint8_t endpointAddress) = 0;
  // Clears a halted endpoint.
  virtual bool ResetPipe(uint8_t endpointAddress) = 0;
  // Tells the backend the transfer size used on an endpoint.
  virtual bool SetTransferSize(uint8_t endpointAddress, uint32_t bytes) = 0;
  // Resets the device's port (the device stays the same device).
  virtual bool ResetPort() = 0;
  // Makes the device drop off the bus and enumerate again.
  virtual bool CyclePort() = 0;

  // 2 high speed, 4 SuperSpeed, other values: full or low speed, unknown.
  virtual uint32_t LinkSpeed() = 0;
  virtual uint8_t UsbAddress() = 0;
  // Alternate setting of the current interface; 0xFF when it cannot be read.
  virtual uint8_t CurrentAltSetting() = 0;
  virtual std::string DeviceName() = 0;
  virtual std::string FriendlyName() = 0;
  virtual uint32_t DriverVersion() = 0;
  virtual uint32_t BusDriverVersion() = 0;
  // Path identifying the device (bus and port path on libusb).
  virtual std::string DevicePath() = 0;
};

// A backend: lists and opens the devices of a class.
class UsbDriver {
 public:
  virtual ~UsbDriver() = default;
  // Number of attached devices of the class, in a stable order (at most 255).
  virtual int CountDevices(const UsbDeviceClass& deviceClass) = 0;
  // Opens device number n (0-based) of the class; null on failure with *error set
  // (kErrBusy when another program has claimed it, kErrAccessDenied without
  // permission, kErrNoDevice when it has gone). Reports nothing itself: the
  // caller knows whether this was the camera the user asked for.
  virtual std::unique_ptr<DeviceLink> Open(const UsbDeviceClass& deviceClass, int n, uint32_t* error) = 0;
  // Waits at most timeoutMs until at least `count` devices of the class are
  // attached: a device that restarts its firmware or has its port cycled
  // leaves the bus and comes back a little later. True once they are there.
  // This default polls CountDevices on the platform clock.
  virtual bool WaitForDevices(const UsbDeviceClass& deviceClass, int count, uint32_t timeoutMs);
};

// The backend used by every CUsbDevice created from now on. Until a host
// chooses otherwise this is the libusb backend (real cameras).
UsbDriver& ActiveDriver();
// Chooses the backend; null goes back to libusb. Meant to be called while no
// device is open.
void UseDriver(std::shared_ptr<UsbDriver> driver);

}  // namespace okc::usb
