// The FX3 boot loader's downloads: a boot image into the controller's RAM, its
// I2C EEPROMs or its SPI flash, and the flash primitives the hot-pixel map
// uses too. Every image is checked whole before the first request that changes
// the device, and every piece written is read back and compared.
#include <algorithm>
#include <cstring>
#include <vector>

#include "core/ControllerRequests.h"
#include "core/FirmwareImage.h"
#include "okccamera/CCameraBase.h"
#include "okccamera/CCyUSBEndPoint.h"
#include "okccamera/CUsbDevice.h"
#include "okccamera/Clock.h"
#include "platform/FirmwareFolder.h"

namespace {

constexpr uint32_t kRequestTimeoutMs = 200;
constexpr int kAttempts = 3;
namespace controller = okc::core::controller;
constexpr uint32_t kFlashPage = 256;
constexpr uint32_t kFlashSector = 64 * 1024;
constexpr uint32_t kMaxFlashAddress = 0xFFFFu * kFlashPage;  // the index field holds address / 256
// A 64 KiB sector erase takes well under a second on SPI NOR flash; give up after this.
// Polls count too, so a slow host (or a sped-up clock) never gives up on an erase early.
constexpr uint64_t kEraseLimitMs = 5000;
constexpr uint64_t kErasePollMs = 10;
constexpr int kMinErasePolls = 100;

uint16_t Low(uint32_t v) { return static_cast<uint16_t>(v & 0xFFFF); }
uint16_t High(uint32_t v) { return static_cast<uint16_t>(v >> 16); }

}  // namespace

bool CCameraBase::FirmwareTransfer(unsigned char code, unsigned short value, unsigned short index, bool in,
                                   unsigned char* data, uint32_t length, uint32_t timeoutMs, uint32_t* moved) {
  return VendorTransfer(code, value, index, in, data, length, timeoutMs, false, moved);
}

void CCameraBase::ReportProgress(uint32_t done, uint32_t total) {
  if (firmwareProgress) firmwareProgress(done, total);
}

bool CCameraBase::DownloadBufferToDevice(unsigned int address, unsigned short length, const unsigned char* data,
                                         unsigned char request) {
  std::vector<unsigned char> copy(data, data + length);
  uint32_t moved = 0;
  return FirmwareTransfer(request, Low(address), High(address), false, copy.data(), length, kRequestTimeoutMs,
                          &moved) &&
         moved == length;
}

bool CCameraBase::UploadBufferFromDevice(unsigned int address, unsigned short length, unsigned char* data,
                                         unsigned char request) {
  uint32_t moved = 0;
  return FirmwareTransfer(request, Low(address), High(address), true, data, length, kRequestTimeoutMs, &moved) &&
         moved == length;
}

bool CCameraBase::SetProgramEntry(unsigned char request, unsigned int address) {
  return FirmwareTransfer(request, Low(address), High(address), false, nullptr, 0, kRequestTimeoutMs, nullptr);
}

bool CCameraBase::IsBootLoaderRunning() {
  unsigned char byte = 0;
  uint32_t moved = 0;
  return FirmwareTransfer(controller::kRamAccess, 0, 0, true, &byte, 1, kRequestTimeoutMs, &moved);
}

FX3_FWDWNLOAD_ERROR_CODE CCameraBase::DownloadFw(const char* path, FX3_FWDWNLOAD_MEDIA_TYPE media) {
  if (!opened || !device) return FX3_FW_FAILED;
  if (!path) return FX3_FW_INVALID_FILE;
  std::vector<uint8_t> image;
  switch (okc::platform::ReadFirmwareFile(path, okc::core::kMaxFx3ImageBytes, &image)) {
    case okc::platform::FileReadResult::Ok: break;
    case okc::platform::FileReadResult::TooLarge: return FX3_FW_IMAGE_TOO_LARGE;
    default: return FX3_FW_INVALID_FILE;
  }
  const auto size = static_cast<unsigned int>(image.size());
  switch (media) {
    case FX3_MEDIA_RAM: return DownloadFwToRam(image.data(), size, controller::kRamAccess);
    case FX3_MEDIA_I2C_EEPROM: return DownloadBuftoI2CE2PROM(image.data(), size, controller::kI2cEepromWrite);
    case FX3_MEDIA_SPI_FLASH: return DownloadBuftoSPIFLASH(image.data(), size, controller::kFlashErase);
    default: return FX3_FW_INVALID_MEDIA_TYPE;
  }
}

FX3_FWDWNLOAD_ERROR_CODE CCameraBase::DownloadFwToRam(const unsigned char* image, unsigned int size,
                                                      unsigned char request) {
  if (!opened || !device) return FX3_FW_FAILED;
  if (!image) return FX3_FW_INVALID_SIGNATURE;
  okc::core::Fx3Image parsed;
  const FX3_FWDWNLOAD_ERROR_CODE check = okc::core::CheckFx3Image({image, size}, &parsed);
  if (check != FX3_FW_SUCCESS) return check;

  uint32_t total = 0;
  for (const okc::core::Fx3Section& s : parsed.sections) total += s.bytes;
  uint32_t done = 0;
  ReportProgress(0, total);
  uint8_t readBack[okc::core::kFx3PieceBytes];
  for (const okc::core::Fx3Section& section : parsed.sections) {
    for (uint32_t offset = 0; offset < section.bytes;) {
      const uint32_t length = std::min(section.bytes - offset, okc::core::kFx3PieceBytes);
      const unsigned char* piece = image + section.offset + offset;
      const uint32_t address = section.address + offset;
      bool verified = false;
      for (int attempt = 0; attempt < kAttempts && !verified; ++attempt) {
        if (!DownloadBufferToDevice(address, static_cast<unsigned short>(length), piece, request)) continue;
        std::memset(readBack, 0, length);
        if (!UploadBufferFromDevice(address, static_cast<unsigned short>(length), readBack, request)) continue;
        verified = std::memcmp(piece, readBack, length) == 0;
      }
      if (!verified) return FX3_FW_FAILED;
      offset += length;
      done += length;
      ReportProgress(done, total);
    }
  }
  // The controller starts the program at once and may drop off the bus before
  // it answers: the jump counts as done whatever the transfer reports.
  SetProgramEntry(request, parsed.entry);
  return FX3_FW_SUCCESS;
}

FX3_FWDWNLOAD_ERROR_CODE CCameraBase::DownloadBuftoI2CE2PROM(const unsigned char* image, unsigned int size,
                                                             unsigned char request) {
  if (!opened || !device) return FX3_FW_FAILED;
  if (!image) return FX3_FW_INVALID_SIGNATURE;
  okc::core::Fx3Image parsed;
  FX3_FWDWNLOAD_ERROR_CODE check = okc::core::CheckFx3Image({image, size}, &parsed);
  if (check != FX3_FW_SUCCESS) return check;
  std::vector<okc::core::EepromWrite> writes;
  check = okc::core::PlanI2cEepromWrites(size, parsed.i2cSizeCode, &writes);
  if (check != FX3_FW_SUCCESS) return check;

  std::vector<unsigned char> block(okc::core::kFx3PieceBytes);
  std::vector<unsigned char> readBack(okc::core::kFx3PieceBytes);
  ReportProgress(0, size);
  for (const okc::core::EepromWrite& w : writes) {
    std::fill(block.begin(), block.end(), 0);
    std::memcpy(block.data(), image + w.offset, w.bytes);
    uint32_t moved = 0;
    if (!FirmwareTransfer(request, w.deviceSelect, w.address, false, block.data(), w.paddedBytes, kRequestTimeoutMs,
                          &moved) ||
        moved != w.paddedBytes)
      return FX3_FW_FAILED;
    std::fill(readBack.begin(), readBack.end(), 0);
    if (!FirmwareTransfer(controller::kI2cEepromRead, w.deviceSelect, w.address, true, readBack.data(), w.paddedBytes,
                          kRequestTimeoutMs, &moved) ||
        moved != w.paddedBytes || std::memcmp(block.data(), readBack.data(), w.paddedBytes) != 0)
      return FX3_FW_FAILED;
    ReportProgress(w.offset + w.bytes, size);
  }
  return FX3_FW_SUCCESS;
}

FX3_FWDWNLOAD_ERROR_CODE CCameraBase::DownloadBuftoSPIFLASH(const unsigned char* image, unsigned int size,
                                                            unsigned char request) {
  if (!opened || !device) return FX3_FW_FAILED;
  if (!image) return FX3_FW_INVALID_SIGNATURE;
  const FX3_FWDWNLOAD_ERROR_CODE check = okc::core::CheckFx3Image({image, size}, nullptr);
  if (check != FX3_FW_SUCCESS) return check;

  const uint32_t sectors = (size + kFlashSector - 1) / kFlashSector;
  const uint32_t programmed = (size + kFlashPage - 1) / kFlashPage * kFlashPage;
  const uint32_t total = sectors * kFlashSector / 16 + programmed;  // erasing counts for a sixteenth
  ReportProgress(0, total);
  for (uint32_t sector = 0; sector < sectors; ++sector) {
    if (EraseSectorOfSPIFlash(sector, request) != FX3_FW_SUCCESS) return FX3_FW_FLASH_ERASE_FAILED;
    ReportProgress((sector + 1) * kFlashSector / 16, total);
  }
  std::vector<unsigned char> piece(okc::core::kFx3PieceBytes);
  std::vector<unsigned char> readBack(okc::core::kFx3PieceBytes);
  for (uint32_t address = 0; address < programmed; address += okc::core::kFx3PieceBytes) {
    const uint32_t length = std::min(programmed - address, okc::core::kFx3PieceBytes);
    // Filler past the end of the image is the erased state, so it programs nothing.
    std::fill(piece.begin(), piece.end(), 0xFF);
    std::memcpy(piece.data(), image + address, std::min(length, size - address));
    if (!WriteToSPIFlash(piece.data(), length, address, controller::kFlashProgram)) return FX3_FW_FAILED;
    if (!ReadFromSPIFlash(readBack.data(), length, address, controller::kFlashRead) ||
        std::memcmp(piece.data(), readBack.data(), length) != 0)
      return FX3_FW_FAILED;
    ReportProgress(sectors * kFlashSector / 16 + address + length, total);
  }
  return FX3_FW_SUCCESS;
}

FX3_FWDWNLOAD_ERROR_CODE CCameraBase::EraseSectorOfSPIFlash(unsigned int sector, unsigned char request) {
  if (!opened || !device || sector > 0xFFFF) return FX3_FW_FAILED;
  const auto index = static_cast<unsigned short>(sector);
  if (!FirmwareTransfer(request, 1, index, false, nullptr, 0, kRequestTimeoutMs, nullptr)) return FX3_FW_FAILED;
  const uint64_t deadline = okc::platform::TickCountMs() + kEraseLimitMs;
  for (int polls = 1;; ++polls) {
    unsigned char busy = 0xFF;
    uint32_t moved = 0;
    if (!FirmwareTransfer(request, 0, index, true, &busy, 1, kRequestTimeoutMs, &moved) || moved != 1)
      return FX3_FW_FAILED;
    if (busy == 0) return FX3_FW_SUCCESS;
    if (polls >= kMinErasePolls && okc::platform::TickCountMs() >= deadline) return FX3_FW_FLASH_ERASE_FAILED;
    okc::platform::SleepMs(kErasePollMs);
  }
}

bool CCameraBase::WriteToSPIFlash(const unsigned char* data, unsigned int length, unsigned int address,
                                  unsigned char request) {
  if (!data || length == 0 || length > okc::core::kFx3PieceBytes || address % kFlashPage != 0 ||
      address > kMaxFlashAddress)
    return false;
  std::vector<unsigned char> copy(data, data + length);
  uint32_t moved = 0;
  return FirmwareTransfer(request, 0, static_cast<unsigned short>(address / kFlashPage), false, copy.data(), length,
                          kRequestTimeoutMs, &moved) &&
         moved == length;
}

bool CCameraBase::ReadFromSPIFlash(unsigned char* data, unsigned int length, unsigned int address,
                                   unsigned char request) {
  if (!data || length == 0 || length > okc::core::kFx3PieceBytes || address % kFlashPage != 0 ||
      address > kMaxFlashAddress)
    return false;
  uint32_t moved = 0;
  return FirmwareTransfer(request, 0, static_cast<unsigned short>(address / kFlashPage), true, data, length,
                          kRequestTimeoutMs, &moved) &&
         moved == length;
}
