// The USB 3 capability object: what a SuperSpeed device's BOS descriptor
// says about it, parsed without trusting any of its length fields.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

class CCyUSBBOS {
 public:
  // Null when the BOS descriptor or one of its capabilities is malformed
  // (too short, running past the data, fewer capabilities than announced).
  static std::unique_ptr<CCyUSBBOS> Build(const uint8_t* data, size_t size);

  uint16_t totalLength = 0;
  uint8_t numDeviceCaps = 0;

  bool hasUsb20Extension = false;
  uint32_t usb20Attributes = 0;  // bit 1: link power management

  bool hasSuperSpeed = false;
  uint8_t superSpeedAttributes = 0;
  uint16_t speedsSupported = 0;
  uint8_t functionalitySupport = 0;
  uint8_t u1ExitLatency = 0;
  uint16_t u2ExitLatency = 0;

  bool hasContainerId = false;
  uint8_t containerId[16] = {};
};
