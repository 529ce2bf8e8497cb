// Firmware images as bytes: the checks that run before anything is sent to a
// camera, and the plans the downloads follow. Nothing here touches a device,
// so every image can be judged whole (and fuzzed) on its own.
//
// Two formats:
//  - the FX3 boot image: "CY", a control byte, an image type byte, sections of
//    (uint32 length in words, uint32 address, data), an end section
//    (0, entry address) and a checksum word, all little-endian;
//  - the 0xC2 EEPROM image of the USB 2 controllers: 0xC2, vendor ID, product
//    ID, device release (little-endian), a configuration byte, records of
//    (big-endian uint16 length, big-endian uint16 RAM address, data) and the
//    terminating record 0x80 0x01 0xE6 0x00 0x00 that starts the processor.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "okccamera/Fx3Download.h"

namespace okc::core {

// ---- FX3 boot image ----

// The largest boot image: the FX3 boot loader runs images from its 512 KiB system RAM.
constexpr uint32_t kMaxFx3ImageBytes = 512 * 1024;
// Data moves to and from the controller's memories in pieces of at most this size.
constexpr uint32_t kFx3PieceBytes = 2048;

struct Fx3Section {
  uint32_t offset = 0;   // of the data in the image
  uint32_t bytes = 0;
  uint32_t address = 0;  // in the controller's RAM
};

struct Fx3Image {
  std::vector<Fx3Section> sections;
  uint32_t entry = 0;
  uint8_t i2cSizeCode = 0;  // control byte bits 3..1
};

// Checks the whole image: size, signature, every section against the image
// size, the end section and the checksum word (the 32-bit sum of all section
// data words). FX3_FW_SUCCESS with `parsed` filled, else the code of the first
// fault found: 10 too large, 3 no "CY", 8 a piece longer than the whole image,
// 5 the image ends before its sections (or its checksum word), 11 checksum.
FX3_FWDWNLOAD_ERROR_CODE CheckFx3Image(std::span<const uint8_t> image, Fx3Image* parsed);

// Bytes per I2C EEPROM device for a size code; 0 for the codes 0 and 1, which name no size.
uint32_t I2cEepromDeviceBytes(uint8_t sizeCode);

// One write of an I2C EEPROM download: `bytes` image bytes from `offset`,
// sent as `paddedBytes` (zero-filled) to `address` of device `deviceSelect`.
struct EepromWrite {
  uint16_t deviceSelect = 0;
  uint16_t address = 0;
  uint32_t offset = 0;
  uint32_t bytes = 0;
  uint32_t paddedBytes = 0;
};

// The writes that put an image of `size` bytes into the I2C EEPROMs: full
// 2048-byte blocks, then the rest padded to a multiple of 64 bytes. Device
// selects count 0 to 7; size code 7 (two 64 KiB halves per chip, the half in
// bit 2 of the select) goes 0, 4, 1, 5, 2, 6, 3, 7. FX3_FW_BAD_EEPROM_SIZE for
// the size codes 0 and 1, FX3_FW_IMAGE_TOO_LARGE when eight devices cannot hold it.
FX3_FWDWNLOAD_ERROR_CODE PlanI2cEepromWrites(uint32_t size, uint8_t sizeCode, std::vector<EepromWrite>* writes);

// ---- 0xC2 EEPROM image ----

// The read-back buffer of the boot EEPROM is 64 KiB: no image may be larger.
constexpr uint32_t kMaxC2ImageBytes = 65536;
// The USB 2 controllers' program RAM; the EEPROM loader program must fit it.
constexpr uint32_t kMaxLoaderBytes = 16 * 1024;

struct C2Record {
  uint32_t offset = 0;  // of the data in the image
  uint16_t length = 0;
  uint16_t address = 0;
};

struct C2Image {
  uint16_t vendorId = 0;
  uint16_t productId = 0;
  uint16_t release = 0;
  std::vector<C2Record> records;  // the terminating record not included
};

// Checks the whole image: first byte 0xC2, at most 64 KiB, every record inside
// the image and the controller's 64 KiB address space, ending with the
// terminating record. False with a one-line reason when it is not sound.
bool CheckC2Image(std::span<const uint8_t> image, C2Image* parsed, std::string* problem);

// The firmware version a 0xC2 image carries: the high byte of its device release
// (release 0x0300 is version 3), as its firmware answers the version request.
inline uint8_t FirmwareVersionOfRelease(uint16_t release) { return static_cast<uint8_t>(release >> 8); }

// The EEPROM loader program is plain bytes for RAM address 0: not empty, at most 16 KiB.
bool CheckEepromLoader(std::span<const uint8_t> program, std::string* problem);

}  // namespace okc::core

namespace okc::core {

// File names of the images in the firmware folder (platform/FirmwareFolder.h).
inline constexpr const char* kTavcFirmwareFile = "okc-tavc.iic";       // 0xC2 image of the TAVC
inline constexpr const char* kTavmFirmwareFile = "okc-tavm.iic";       // 0xC2 image of the TAVM
inline constexpr const char* kDorcFirmwareFile = "okc-dorc.iic";       // 0xC2 image of the DORC
inline constexpr const char* kEepromLoaderFile = "okc-eeprom-loader.bin";  // the EEPROM loader program
inline constexpr const char* kUsb3BootFile = "okc-usb3-boot.img";      // FX3 boot image of the USB 3 models

}  // namespace okc::core
