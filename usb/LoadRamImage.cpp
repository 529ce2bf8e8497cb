// Loading an FX3 boot image into the controller's RAM through its boot loader.
//
// Image: "CY", two bytes not examined here, then sections of a uint32 length
// in 32-bit words, a uint32 target address and the data; a section of length 0
// ends the image and carries the program entry point.
#include <algorithm>
#include <cstring>
#include <vector>

#include "okccamera/CUsbDevice.h"

using namespace okc::usb;

namespace {

constexpr uint32_t kPieceBytes = 2048;
constexpr int kAttempts = 3;
constexpr uint32_t kFirstSection = 4;

uint32_t Read32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}

struct Section {
  uint32_t offset;   // of the data in the image
  uint32_t bytes;
  uint32_t address;  // in the controller's RAM
};

// Walks the whole image without sending anything: every length is checked
// against the image size before a byte behind it is looked at.
FX3_FWDWNLOAD_ERROR_CODE ParseImage(const uint8_t* image, uint32_t size, std::vector<Section>& sections,
                                    uint32_t& entry) {
  if (!image || size < 2 || image[0] != 'C' || image[1] != 'Y') return FX3_FW_INVALID_SIGNATURE;
  uint64_t pos = kFirstSection;
  for (;;) {
    if (pos + 8 > size) return FX3_FW_IMAGE_TOO_SHORT;
    const uint32_t words = Read32(image + pos);
    const uint32_t address = Read32(image + pos + 4);
    pos += 8;
    if (words == 0) {
      entry = address;
      return FX3_FW_SUCCESS;
    }
    const uint64_t bytes = uint64_t{words} * 4;
    if (std::min<uint64_t>(bytes, kPieceBytes) > size) return FX3_FW_PIECE_TOO_LONG;
    if (pos + bytes > size) return FX3_FW_IMAGE_TOO_SHORT;
    sections.push_back({static_cast<uint32_t>(pos), static_cast<uint32_t>(bytes), address});
    pos += bytes;
  }
}

}  // namespace

FX3_FWDWNLOAD_ERROR_CODE CUsbDevice::LoadRamImage(const uint8_t* image, uint32_t size, uint8_t request) {
  std::vector<Section> sections;
  uint32_t entry = 0;
  const FX3_FWDWNLOAD_ERROR_CODE parsed = ParseImage(image, size, sections, entry);
  if (parsed != FX3_FW_SUCCESS) return parsed;
  if (!IsOpen()) {
    lastError = kErrInvalidHandle;
    return FX3_FW_FAILED;
  }

  uint8_t piece[kPieceBytes];
  uint8_t readBack[kPieceBytes];
  for (const Section& section : sections) {
    uint32_t address = section.address;
    for (uint32_t done = 0; done < section.bytes;) {
      const uint32_t length = std::min(section.bytes - done, kPieceBytes);
      std::memcpy(piece, image + section.offset + done, length);
      bool verified = false;
      for (int attempt = 0; attempt < kAttempts && !verified; ++attempt) {
        uint32_t moved = 0;
        if (!VendorTransfer(request, address, length, piece, false, moved)) continue;
        std::memset(readBack, 0, length);
        if (!VendorTransfer(request, address, length, readBack, true, moved) || moved != length) continue;
        verified = std::memcmp(piece, readBack, length) == 0;
      }
      if (!verified) return FX3_FW_FAILED;
      address += length;
      done += length;
    }
  }
  uint32_t moved = 0;
  return VendorTransfer(request, entry, 0, nullptr, false, moved) ? FX3_FW_SUCCESS : FX3_FW_FAILED;
}
