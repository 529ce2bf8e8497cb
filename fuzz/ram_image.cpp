// The check of an FX3 RAM image before anything is sent to the boot loader. The
// input is the image. Property: the verdict of the loader on a closed device agrees
// with a reference walk of the sections (bad signature, image too short, a piece
// longer than the image, or well-formed - which on a closed device means "failed").
#include <cstdint>
#include <cstdlib>

#include "okccamera/CUsbDevice.h"

namespace {

uint32_t Get32(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24); }

FX3_FWDWNLOAD_ERROR_CODE Reference(const uint8_t* image, uint64_t size) {
  if (size < 2 || image[0] != 'C' || image[1] != 'Y') return FX3_FW_INVALID_SIGNATURE;
  uint64_t pos = 4;
  while (true) {
    if (pos + 8 > size) return FX3_FW_IMAGE_TOO_SHORT;
    const uint64_t bytes = uint64_t{Get32(image + pos)} * 4;
    pos += 8;
    if (bytes == 0) return FX3_FW_SUCCESS;
    if ((bytes < 2048 ? bytes : 2048) > size) return FX3_FW_PIECE_TOO_LONG;
    if (pos + bytes > size) return FX3_FW_IMAGE_TOO_SHORT;
    pos += bytes;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static CUsbDevice* closed = [] {
    okc::usb::UsbDeviceClass deviceClass;
    return new CUsbDevice(nullptr, deviceClass, false);
  }();
  const FX3_FWDWNLOAD_ERROR_CODE expected = Reference(data, size);
  const FX3_FWDWNLOAD_ERROR_CODE got = closed->LoadRamImage(data, static_cast<uint32_t>(size), 0xA0);
  if (got != (expected == FX3_FW_SUCCESS ? FX3_FW_FAILED : expected)) std::abort();
  return 0;
}
