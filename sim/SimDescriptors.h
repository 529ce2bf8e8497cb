// Standard USB descriptors of a simulated camera.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "okccamera/SimCameras.h"

namespace okc::sim {

// USB descriptor type codes.
enum DescriptorType : uint8_t {
  kDescDevice = 1,
  kDescConfiguration = 2,
  kDescString = 3,
  kDescInterface = 4,
  kDescEndpoint = 5,
  kDescBos = 15,
  kDescDeviceCapability = 16,
  kDescSuperSpeedCompanion = 48,
};

// The bulk IN endpoint every camera streams its frames on.
constexpr uint8_t kBulkInEndpoint = 0x82;

// Key of a descriptor in a DescriptorSet: type in the high byte, index in the low byte
// (the layout of the GET_DESCRIPTOR wValue).
inline uint16_t DescriptorKey(uint8_t type, uint8_t index) { return static_cast<uint16_t>(type << 8 | index); }

using DescriptorSet = std::map<uint16_t, std::vector<uint8_t>>;

// Every descriptor the device answers for GET_DESCRIPTOR: device, configuration 0
// (with its interface, endpoint and, on USB 3, companion descriptors), string 0 and
// strings 1 to 3, and on the USB 3 models the BOS descriptor. `options` must have
// its identity fields resolved (vendor, product, strings).
DescriptorSet BuildDescriptors(const SimDeviceOptions& options);

// A string descriptor: UTF-8 text as UTF-16LE, cut to the 126 characters a descriptor can hold.
std::vector<uint8_t> StringDescriptor(std::string_view utf8);

// UTF-8 to UTF-16 code units; malformed sequences become U+FFFD.
std::u16string Utf8ToUtf16(std::string_view utf8);

}  // namespace okc::sim
