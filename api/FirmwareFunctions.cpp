// The exported functions for firmware downloads and the camera's hot-pixel map.
// Each returns its neutral value when no camera is current.
#include <cstring>
#include <mutex>
#include <vector>

#include "api/CameraCall.h"
#include "api/CameraState.h"
#include "core/FirmwareImage.h"
#include "okccamera/okccamera.h"
#include "platform/FirmwareFolder.h"

namespace {


bool ValidMedia(int media) { return media >= FX3_MEDIA_RAM && media <= FX3_MEDIA_SPI_FLASH; }

}  // namespace

extern "C" void okcSetFirmwareFolder(const char* path) { okc::platform::SetFirmwareFolder(path ? path : ""); }

extern "C" int okcCheckFirmwareFile(const char* path, int media) {
  if (!path) return FX3_FW_INVALID_FILE;
  std::vector<uint8_t> image;
  switch (okc::platform::ReadFirmwareFile(path, okc::core::kMaxFx3ImageBytes, &image)) {
    case okc::platform::FileReadResult::Ok: break;
    case okc::platform::FileReadResult::TooLarge: return FX3_FW_IMAGE_TOO_LARGE;
    default: return FX3_FW_INVALID_FILE;
  }
  if (!ValidMedia(media)) return FX3_FW_INVALID_MEDIA_TYPE;
  okc::core::Fx3Image parsed;
  const FX3_FWDWNLOAD_ERROR_CODE check = okc::core::CheckFx3Image(image, &parsed);
  if (check != FX3_FW_SUCCESS || media != FX3_MEDIA_I2C_EEPROM) return check;
  return okc::core::PlanI2cEepromWrites(static_cast<uint32_t>(image.size()), parsed.i2cSizeCode, nullptr);
}

extern "C" int okcDownloadFirmware(const char* path, int media, okcProgressCallback progress, void* user) {
  okc::api::CameraCall camera;
  if (!camera) return FX3_FW_FAILED;
  if (progress)
    camera->firmwareProgress = [progress, user](uint32_t done, uint32_t total) { progress(done, total, user); };
  const FX3_FWDWNLOAD_ERROR_CODE result = camera->DownloadFw(path, static_cast<FX3_FWDWNLOAD_MEDIA_TYPE>(media));
  camera->firmwareProgress = nullptr;
  return result;
}

extern "C" const char* okcFirmwareResultText(int code) {
  switch (code) {
    case FX3_FW_SUCCESS: return "success";
    case FX3_FW_FAILED: return "a transfer to the camera failed or did not read back equal";
    case FX3_FW_INVALID_MEDIA_TYPE: return "the medium is not ram, eeprom or flash";
    case FX3_FW_INVALID_SIGNATURE: return "the file is not an FX3 boot image (it does not start with \"CY\")";
    case FX3_FW_DEVICE_IO_ERROR: return "device I/O error";
    case FX3_FW_IMAGE_TOO_SHORT: return "the image ends before its sections do";
    case FX3_FW_INVALID_FILE: return "the file cannot be opened, is not a regular file or is empty";
    case FX3_FW_FLASH_ERASE_FAILED: return "a flash sector erase failed";
    case FX3_FW_PIECE_TOO_LONG: return "a section is longer than the whole image";
    case FX3_FW_BAD_EEPROM_SIZE: return "the image names no I2C EEPROM size (size code 0 or 1)";
    case FX3_FW_IMAGE_TOO_LARGE: return "the image is too large for the boot medium";
    case FX3_FW_BAD_CHECKSUM: return "the image's checksum does not match its data";
    default: return "unknown result";
  }
}

extern "C" bool okcSaveHotPixels(void) {
  okc::api::CameraCall camera;
  if (!camera || !camera->SaveHPCTable()) return false;
  std::lock_guard lock(camera->SensorLock());
  camera->hpcEnabled = true;
  return true;
}

extern "C" bool okcLoadHotPixels(void) {
  okc::api::CameraCall camera;
  if (!camera || !camera->LoadHPCTable()) return false;
  std::lock_guard lock(camera->SensorLock());
  camera->hpcEnabled = true;
  return true;
}

extern "C" bool okcClearHotPixels(void) {
  okc::api::CameraCall camera;
  if (!camera) return false;
  std::lock_guard lock(camera->SensorLock());
  camera->hpcEnabled = false;
  return camera->ClearHPCTable();
}

extern "C" int okcGetHotPixelCount(void) {
  okc::api::CameraCall camera;
  return camera ? camera->HotPixelsCorrectedPerFrame() : 0;
}

extern "C" int okcGetHotPixelMapCount(void) {
  okc::api::CameraCall camera;
  return camera ? camera->HotPixelsInMap() : 0;
}

// ---- the camera's controller ----

extern "C" int okcGetFirmwareVersion(void) {
  okc::api::CameraCall camera;
  if (!camera) return 0;
  std::lock_guard lock(camera->SensorLock());
  return camera->GetFWVer();
}

extern "C" bool okcIsUsb3Host(void) {
  okc::api::CameraCall camera;
  if (!camera) return false;
  std::lock_guard lock(camera->SensorLock());
  return camera->usb3Host;
}

extern "C" bool okcIsHotPixelCorrectionOn(void) {
  okc::api::CameraCall camera;
  if (!camera) return false;
  std::lock_guard lock(camera->SensorLock());
  return camera->hpcEnabled;
}
