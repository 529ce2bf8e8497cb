#include "core/FirmwareImage.h"

#include <algorithm>

namespace okc::core {

namespace {

constexpr uint32_t kFirstSection = 4;
constexpr uint32_t kC2Header = 8;
constexpr uint8_t kC2Signature = 0xC2;
// The terminating record: length 0x8001 (last record, one byte) at 0xE600, the CPU control register.
constexpr uint8_t kC2Terminator[4] = {0x80, 0x01, 0xE6, 0x00};
constexpr uint32_t kC2TerminatorBytes = 5;
constexpr uint32_t kAddressSpace = 0x10000;
constexpr uint32_t kEepromBlock = 2048;
constexpr uint32_t kEepromPadding = 64;
constexpr uint32_t kEepromDevices = 8;
// Size code 7: two 64 KiB halves per chip; the half is bit 2 of the device select.
constexpr uint8_t kLargeDeviceCode = 7;
constexpr uint16_t kLargeDeviceOrder[kEepromDevices] = {0, 4, 1, 5, 2, 6, 3, 7};

uint32_t Read32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}

uint16_t Read16Le(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint16_t Read16Be(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }

}  // namespace

FX3_FWDWNLOAD_ERROR_CODE CheckFx3Image(std::span<const uint8_t> image, Fx3Image* parsed) {
  if (image.size() > kMaxFx3ImageBytes) return FX3_FW_IMAGE_TOO_LARGE;
  const uint64_t size = image.size();
  if (size < 2 || image[0] != 'C' || image[1] != 'Y') return FX3_FW_INVALID_SIGNATURE;
  Fx3Image out;
  out.i2cSizeCode = size > 2 ? static_cast<uint8_t>((image[2] >> 1) & 7) : 0;
  uint32_t sum = 0;
  uint64_t pos = kFirstSection;
  for (;;) {
    if (pos + 8 > size) return FX3_FW_IMAGE_TOO_SHORT;
    const uint32_t words = Read32(&image[pos]);
    const uint32_t address = Read32(&image[pos + 4]);
    pos += 8;
    if (words == 0) {
      out.entry = address;
      break;
    }
    const uint64_t bytes = uint64_t{words} * 4;
    if (std::min<uint64_t>(bytes, kFx3PieceBytes) > size) return FX3_FW_PIECE_TOO_LONG;
    if (pos + bytes > size) return FX3_FW_IMAGE_TOO_SHORT;
    for (uint64_t i = 0; i < bytes; i += 4) sum += Read32(&image[pos + i]);
    out.sections.push_back({static_cast<uint32_t>(pos), static_cast<uint32_t>(bytes), address});
    pos += bytes;
  }
  if (pos + 4 > size) return FX3_FW_IMAGE_TOO_SHORT;
  if (Read32(&image[pos]) != sum) return FX3_FW_BAD_CHECKSUM;
  if (parsed) *parsed = std::move(out);
  return FX3_FW_SUCCESS;
}

uint32_t I2cEepromDeviceBytes(uint8_t sizeCode) {
  switch (sizeCode) {
    case 2: return 4096;
    case 3: return 8192;
    case 4: return 16384;
    case 5: return 32768;
    case 6:
    case 7: return 65536;
    default: return 0;
  }
}

FX3_FWDWNLOAD_ERROR_CODE PlanI2cEepromWrites(uint32_t size, uint8_t sizeCode, std::vector<EepromWrite>* writes) {
  const uint32_t deviceBytes = I2cEepromDeviceBytes(sizeCode);
  if (deviceBytes == 0) return FX3_FW_BAD_EEPROM_SIZE;
  if (uint64_t{size} > uint64_t{deviceBytes} * kEepromDevices) return FX3_FW_IMAGE_TOO_LARGE;
  std::vector<EepromWrite> out;
  for (uint32_t offset = 0; offset < size; offset += kEepromBlock) {
    const uint32_t device = offset / deviceBytes;
    EepromWrite w;
    w.deviceSelect = sizeCode == kLargeDeviceCode ? kLargeDeviceOrder[device] : static_cast<uint16_t>(device);
    w.address = static_cast<uint16_t>(offset % deviceBytes);
    w.offset = offset;
    w.bytes = std::min(kEepromBlock, size - offset);
    w.paddedBytes = (w.bytes + kEepromPadding - 1) / kEepromPadding * kEepromPadding;
    out.push_back(w);
  }
  if (writes) *writes = std::move(out);
  return FX3_FW_SUCCESS;
}

bool CheckC2Image(std::span<const uint8_t> image, C2Image* parsed, std::string* problem) {
  auto fail = [problem](std::string why) {
    if (problem) *problem = std::move(why);
    return false;
  };
  const size_t size = image.size();
  if (size == 0) return fail("the image is empty");
  if (size > kMaxC2ImageBytes) return fail("the image is larger than 64 KiB");
  if (image[0] != kC2Signature) return fail("the image does not start with 0xC2");
  if (size < kC2Header + kC2TerminatorBytes) return fail("the image ends inside its header");
  C2Image out;
  out.vendorId = Read16Le(&image[1]);
  out.productId = Read16Le(&image[3]);
  out.release = Read16Le(&image[5]);
  size_t pos = kC2Header;
  for (;;) {
    if (pos + 4 > size) return fail("the image ends before its terminating record");
    if (std::equal(std::begin(kC2Terminator), std::end(kC2Terminator), &image[pos])) {
      if (pos + kC2TerminatorBytes > size) return fail("the terminating record is cut short");
      if (image[pos + 4] != 0) return fail("the terminating record does not start the processor");
      break;
    }
    C2Record r;
    r.length = Read16Be(&image[pos]);
    r.address = Read16Be(&image[pos + 2]);
    r.offset = static_cast<uint32_t>(pos + 4);
    if (r.length == 0 || (r.length & 0x8000) != 0)
      return fail("a record at offset " + std::to_string(pos) + " has an impossible length");
    if (uint32_t{r.address} + r.length > kAddressSpace)
      return fail("a record at offset " + std::to_string(pos) + " runs past the controller's memory");
    if (pos + 4 + r.length > size)
      return fail("a record at offset " + std::to_string(pos) + " runs past the end of the image");
    out.records.push_back(r);
    pos += 4 + r.length;
  }
  if (parsed) *parsed = std::move(out);
  return true;
}

bool CheckEepromLoader(std::span<const uint8_t> program, std::string* problem) {
  if (program.empty()) {
    if (problem) *problem = "the loader program is empty";
    return false;
  }
  if (program.size() > kMaxLoaderBytes) {
    if (problem) *problem = "the loader program is larger than the controller's 16 KiB of RAM";
    return false;
  }
  return true;
}

}  // namespace okc::core
