// A configuration of an opened device with its interfaces (one object per
// alternate setting) and their endpoints, built from the configuration
// descriptor the device returned. The parser trusts no length field: a
// descriptor that is too short, runs past the data, or announces endpoints
// that are not there makes Build fail instead of reading past the buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "okccamera/CCyUSBEndPoint.h"
#include "okccamera/UsbDriver.h"

// Slots in an interface's endpoint list; slot 0 is the device's control endpoint.
constexpr int kEndpointSlots = 32;

class CCyUSBInterface {
 public:
  uint8_t descriptorLength = 0;
  uint8_t descriptorType = 0;
  uint8_t interfaceNumber = 0;
  uint8_t alternateSetting = 0;
  uint8_t numEndpoints = 0;  // as announced by the descriptor
  uint8_t interfaceClass = 0;
  uint8_t interfaceSubClass = 0;
  uint8_t interfaceProtocol = 0;
  uint8_t interfaceString = 0;

  // Slot 0 stays empty until the device selects this interface; slots
  // 1..endpointCount hold the endpoints taken from the descriptors.
  CCyUSBEndPoint* endpoints[kEndpointSlots] = {};
  uint8_t endpointCount = 0;

 private:
  friend class CCyUSBConfig;
  std::vector<std::unique_ptr<CCyUSBEndPoint>> owned_;
};

class CCyUSBConfig {
 public:
  // Builds a configuration from `size` bytes of descriptor data. `superSpeed`
  // selects the USB 3 form, which reads the endpoint companion descriptors.
  // Null when the descriptors are malformed.
  static std::unique_ptr<CCyUSBConfig> Build(const std::shared_ptr<okc::usb::DeviceLink>& link, const uint8_t* data,
                                             size_t size, bool superSpeed);

  uint8_t descriptorLength = 0;
  uint8_t descriptorType = 0;
  uint16_t totalLength = 0;
  uint8_t numInterfaces = 0;  // as announced
  uint8_t configurationValue = 0;
  uint8_t configurationString = 0;
  uint8_t attributes = 0;
  uint8_t maxPower = 0;
  // Every interface descriptor found, alternate settings included, in descriptor order.
  std::vector<std::unique_ptr<CCyUSBInterface>> interfaces;
};
