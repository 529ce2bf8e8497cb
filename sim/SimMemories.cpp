#include "sim/SimMemories.h"

#include <algorithm>
#include <cstring>

namespace okc::sim {

// --- ControllerRam ---

ControllerRam ControllerRam::Usb2Controller() {
  ControllerRam ram;
  ram.regions_ = {{0x0000, 16 * 1024, {}}, {0xE000, 512, {}}};
  return ram;
}

ControllerRam::Region* ControllerRam::Find(uint32_t address, size_t length) {
  return const_cast<Region*>(static_cast<const ControllerRam*>(this)->Find(address, length));
}

const ControllerRam::Region* ControllerRam::Find(uint32_t address, size_t length) const {
  for (const Region& r : regions_) {
    if (address >= r.base && address - r.base <= r.size && length <= r.size - (address - r.base)) return &r;
  }
  return nullptr;
}

bool ControllerRam::Write(uint32_t address, const uint8_t* data, size_t length) {
  Region* r = Find(address, length);
  if (!r) return false;
  if (length == 0) return true;
  if (r->bytes.empty()) r->bytes.assign(r->size, 0);
  std::memcpy(r->bytes.data() + (address - r->base), data, length);
  return true;
}

bool ControllerRam::Read(uint32_t address, uint8_t* out, size_t length) const {
  const Region* r = Find(address, length);
  if (!r) return false;
  if (length == 0) return true;
  if (r->bytes.empty()) {
    std::memset(out, 0, length);
  } else {
    std::memcpy(out, r->bytes.data() + (address - r->base), length);
  }
  return true;
}

// --- EepromBank ---

bool EepromBank::InRange(uint32_t deviceSelect, uint32_t address, size_t length) {
  return deviceSelect < kDevices && address <= kDeviceSize && length <= kDeviceSize - address;
}

bool EepromBank::Write(uint32_t deviceSelect, uint32_t address, const uint8_t* data, size_t length) {
  if (!InRange(deviceSelect, address, length)) return false;
  if (length == 0) return true;
  std::vector<uint8_t>& device = devices_[deviceSelect];
  if (device.empty()) device.assign(kDeviceSize, 0xFF);
  std::memcpy(device.data() + address, data, length);
  return true;
}

bool EepromBank::Read(uint32_t deviceSelect, uint32_t address, uint8_t* out, size_t length) const {
  if (!InRange(deviceSelect, address, length)) return false;
  if (length == 0) return true;
  const std::vector<uint8_t>& device = devices_[deviceSelect];
  if (device.empty()) {
    std::memset(out, 0xFF, length);
  } else {
    std::memcpy(out, device.data() + address, length);
  }
  return true;
}

// --- NorFlash ---

bool NorFlash::InRange(uint32_t address, size_t length) { return address <= kSize && length <= kSize - address; }

void NorFlash::Allocate() {
  if (bytes_.empty()) bytes_.assign(kSize, 0xFF);
}

bool NorFlash::Program(uint32_t address, const uint8_t* data, size_t length) {
  if (!InRange(address, length)) return false;
  if (length == 0) return true;
  Allocate();
  for (size_t i = 0; i < length; ++i) bytes_[address + i] &= data[i];
  return true;
}

bool NorFlash::EraseSector(uint32_t sector) {
  if (sector >= kSize / kSectorSize) return false;
  if (bytes_.empty()) return true;  // never written: already erased
  std::fill_n(bytes_.begin() + static_cast<std::ptrdiff_t>(sector) * kSectorSize, kSectorSize, uint8_t{0xFF});
  return true;
}

bool NorFlash::Read(uint32_t address, uint8_t* out, size_t length) const {
  if (!InRange(address, length)) return false;
  if (length == 0) return true;
  if (bytes_.empty()) {
    std::memset(out, 0xFF, length);
  } else {
    std::memcpy(out, bytes_.data() + address, length);
  }
  return true;
}

void NorFlash::Overwrite(uint32_t address, const uint8_t* data, size_t length) {
  if (address >= kSize || length == 0) return;
  length = std::min<size_t>(length, kSize - address);
  Allocate();
  std::memcpy(bytes_.data() + address, data, length);
}

}  // namespace okc::sim
