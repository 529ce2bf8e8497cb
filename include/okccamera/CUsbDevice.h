// One camera's USB device: finds and opens the n-th attached device of a
// model's class, reads its descriptors and identity, builds its endpoints,
// and offers the vendor-request helpers used for memory access and the
// FX3 boot loader's RAM load.
//
// The device talks to the hardware only through the backend chosen with
// okc::usb::UseDriver when it was constructed (libusb, or the simulated cameras).
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "okccamera/CCyUSBEndPoint.h"
#include "okccamera/Fx3Download.h"
#include "okccamera/UsbDriver.h"

class CCyUSBConfig;
class CCyUSBBOS;

class CUsbDevice {
 public:
  // `windowHandle` is kept but unused: there are no device-change window
  // messages on Linux. With `openAtOnce` device 0 of the class is opened.
  CUsbDevice(void* windowHandle, okc::usb::UsbDeviceClass deviceClass, bool openAtOnce);
  ~CUsbDevice();
  CUsbDevice(const CUsbDevice&) = delete;
  CUsbDevice& operator=(const CUsbDevice&) = delete;

  // Devices of the class attached now (also stored in deviceCount).
  uint8_t CountDevices();
  // Closes any open device, then opens device n (0-based) of the class.
  bool OpenDevice(uint8_t n);
  // Releases the device, its descriptors and endpoints; it can be opened again.
  void CloseDevice();
  bool IsOpen() const { return link_ != nullptr; }
  // Makes the device re-enumerate (after a firmware load); it must be opened again afterwards.
  bool CyclePort();
  // Resets the device's port.
  bool ResetPort();
  // Endpoints in the list of the selected interface, the control endpoint included.
  uint8_t EndPointCount() const;

  // A vendor request to the device on the control endpoint with its current
  // time-out: value = low half of `address`, index = high half. Data longer
  // than 65535 bytes goes as several requests with the same value and index.
  bool VendorRequest(uint8_t request, uint32_t address, uint32_t length, uint8_t* buffer, bool in);
  bool WriteMemory(uint32_t address, uint32_t length, uint8_t* buffer, uint8_t request);
  bool ReadMemory(uint32_t address, uint32_t length, uint8_t* buffer, uint8_t request);
  // True when the FX3 boot loader answers its one-byte 0xA0 probe.
  bool ProbeBootLoader();
  // Loads an FX3 boot image ("CY") into the controller's RAM through the boot
  // loader and jumps to its entry point. The whole image is checked before the
  // first byte is sent, so a corrupt image never loads partly.
  FX3_FWDWNLOAD_ERROR_CODE LoadRamImage(const uint8_t* image, uint32_t size, uint8_t request);

  // Held from setting the control endpoint's fields to the end of the request
  // by VendorRequest and its family; other code driving controlEndpoint
  // directly may take it too (it is recursive).
  std::recursive_mutex requestLock;

  // ---- endpoints (valid while open) ----
  CCyUSBEndPoint** endpoints = nullptr;  // 32-slot list of the selected interface; [0] is controlEndpoint
  CCyControlEndPoint* controlEndpoint = nullptr;  // owned
  CCyUSBEndPoint* isocInEndpoint = nullptr;
  CCyUSBEndPoint* isocOutEndpoint = nullptr;
  CCyUSBEndPoint* bulkInEndpoint = nullptr;
  CCyUSBEndPoint* bulkOutEndpoint = nullptr;
  CCyUSBEndPoint* interruptInEndpoint = nullptr;
  CCyUSBEndPoint* interruptOutEndpoint = nullptr;
  std::unique_ptr<CCyUSBBOS> usb3Capability;  // SuperSpeed devices
  std::unique_ptr<CCyUSBConfig> configurations[2];

  // ---- identity ----
  uint16_t languageId = 0;
  uint32_t lastError = 0;
  uint32_t usbdStatus = 0;  // of the last descriptor request
  uint32_t ntStatus = 0;
  uint32_t driverVersion = 0;
  uint32_t busDriverVersion = 0;
  std::string deviceName;
  std::string friendlyName;
  std::u16string manufacturer;
  std::u16string product;
  std::u16string serialNumber;
  std::string devicePath;
  uint16_t bcdUsb = 0;
  uint16_t vendorId = 0;
  uint16_t productId = 0;
  uint8_t usbAddress = 0;
  uint8_t deviceClassCode = 0;
  uint8_t deviceSubClass = 0;
  uint8_t deviceProtocol = 0;
  uint32_t maxPacketSize0 = 0;
  uint16_t bcdDevice = 0;
  uint8_t interfaceClass = 0;
  uint8_t interfaceSubClass = 0;
  uint8_t interfaceProtocol = 0;
  bool highSpeed = false;
  bool superSpeed = false;
  uint32_t bytesReturned = 0;
  uint8_t deviceDescriptor[18] = {};
  std::vector<uint8_t> bosDescriptor;

  void* windowHandle = nullptr;
  okc::usb::UsbDeviceClass deviceClass;
  uint8_t deviceCount = 0;
  uint8_t interfaceCount = 0;
  uint8_t altSettingCount = 0;
  uint8_t configurationCount = 0;
  uint8_t deviceNumber = 0;
  uint8_t configurationNumber = 0;
  uint8_t interfaceNumber = 0;
  uint8_t altSettingNumber = 0;

 private:
  bool ReadDeviceDescriptor();
  void ReadLanguageAndStrings();
  std::u16string ReadString(uint8_t index);
  bool ReadBos();
  bool BuildConfiguration(uint8_t index);
  void ReadDriverInfo();
  void SelectInterface();
  void ClearIdentity();
  // A standard GET_DESCRIPTOR into `buffer`; true only when exactly `length` bytes came back.
  bool GetDescriptor(uint8_t type, uint8_t index, uint16_t languageIndex, uint8_t* buffer, uint32_t length);
  // VendorRequest that also reports the bytes moved.
  bool VendorTransfer(uint8_t request, uint32_t address, uint32_t length, uint8_t* buffer, bool in,
                      uint32_t& moved);

  std::shared_ptr<okc::usb::UsbDriver> driver_;
  std::shared_ptr<okc::usb::DeviceLink> link_;  // the driver handle; null while closed
  std::unique_ptr<CCyControlEndPoint> controlEndpointOwner_;
};
