#include "usb/CCyUSBBOS.h"

#include <cstring>

namespace {

constexpr uint8_t kTypeBos = 15;
constexpr uint8_t kTypeDeviceCapability = 16;
constexpr uint8_t kBosHeaderSize = 5;
constexpr uint8_t kCapabilityHeaderSize = 3;

// Capability types and the smallest descriptor that carries all their fields.
constexpr uint8_t kCapUsb20Extension = 2;
constexpr uint8_t kCapSuperSpeed = 3;
constexpr uint8_t kCapContainerId = 4;
constexpr uint8_t kUsb20ExtensionSize = 7;
constexpr uint8_t kSuperSpeedSize = 10;
constexpr uint8_t kContainerIdSize = 20;

uint16_t Read16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

}  // namespace

std::unique_ptr<CCyUSBBOS> CCyUSBBOS::Build(const uint8_t* data, size_t size) {
  if (!data || size < kBosHeaderSize || data[0] < kBosHeaderSize || data[1] != kTypeBos) return nullptr;
  auto bos = std::make_unique<CCyUSBBOS>();
  bos->totalLength = Read16(data + 2);
  bos->numDeviceCaps = data[4];
  if (bos->totalLength < data[0] || bos->totalLength > size) return nullptr;
  size = bos->totalLength;

  size_t pos = data[0];
  for (int i = 0; i < bos->numDeviceCaps; ++i) {
    if (pos + kCapabilityHeaderSize > size) return nullptr;
    const uint8_t* cap = data + pos;
    const uint8_t length = cap[0];
    if (length < kCapabilityHeaderSize || length > size - pos || cap[1] != kTypeDeviceCapability) return nullptr;
    switch (cap[2]) {
      case kCapUsb20Extension:
        if (length < kUsb20ExtensionSize) return nullptr;
        bos->hasUsb20Extension = true;
        bos->usb20Attributes = static_cast<uint32_t>(cap[3]) | (static_cast<uint32_t>(cap[4]) << 8) |
                               (static_cast<uint32_t>(cap[5]) << 16) | (static_cast<uint32_t>(cap[6]) << 24);
        break;
      case kCapSuperSpeed:
        if (length < kSuperSpeedSize) return nullptr;
        bos->hasSuperSpeed = true;
        bos->superSpeedAttributes = cap[3];
        bos->speedsSupported = Read16(cap + 4);
        bos->functionalitySupport = cap[6];
        bos->u1ExitLatency = cap[7];
        bos->u2ExitLatency = Read16(cap + 8);
        break;
      case kCapContainerId:
        if (length < kContainerIdSize) return nullptr;
        bos->hasContainerId = true;
        std::memcpy(bos->containerId, cap + 4, sizeof bos->containerId);
        break;
      default:
        break;  // capabilities we have no use for
    }
    pos += length;
  }
  return bos;
}
