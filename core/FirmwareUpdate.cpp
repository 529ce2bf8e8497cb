// Renewing the firmware of the USB 2 controllers: UpdateFW writes a 0xC2 image
// into the boot EEPROM through the EEPROM loader program, and the reload of
// OpenCamera runs it for a camera whose firmware is too old, then reopens the
// camera once it has come back on the bus.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "core/ControllerRequests.h"
#include "core/FirmwareImage.h"
#include "core/ModelInfo.h"
#include "okccamera/CCameraBase.h"
#include "okccamera/CUsbDevice.h"
#include "okccamera/Clock.h"
#include "platform/FirmwareFolder.h"

namespace {

// Every request of the EEPROM update waits this long: EEPROM writes are slow.
constexpr uint32_t kUpdateTimeoutMs = 2000;
namespace controller = okc::core::controller;
// The CPU control register: 1 holds the processor, 0 lets it run.
constexpr unsigned short kCpuControl = 0xE600;
constexpr uint32_t kLoaderPiece = 2048;
constexpr uint32_t kEepromBlock = 4096;
constexpr int kAttempts = 3;
// After the restart: the settle time the controller needs, how long to wait for
// the device to come back each time, and how often to try to reopen it.
constexpr uint64_t kSettleMs = 1000;
constexpr uint32_t kReappearMs = 5000;
constexpr int kReopenAttempts = 2;

// Reads and checks one image of the firmware folder. Empty with `problem` set when it cannot be used.
std::vector<uint8_t> ReadFolderImage(const char* name, uint32_t maxBytes, std::string* path, std::string* problem) {
  *path = okc::platform::FindFirmwareFile(name ? name : "");
  if (path->empty()) {
    *problem = std::string("firmware file ") + (name ? name : "(none)") + " was not found";
    return {};
  }
  std::vector<uint8_t> bytes;
  const okc::platform::FileReadResult read = okc::platform::ReadFirmwareFile(*path, maxBytes, &bytes);
  if (read != okc::platform::FileReadResult::Ok) {
    *problem = "firmware file " + *path + " " + okc::platform::DescribeFileRead(read);
    return {};
  }
  return bytes;
}

}  // namespace

bool CCameraBase::UpdateFW(const unsigned char* image, long size) {
  if (!opened || !device || !image || size <= 0) return false;
  std::string path, problem;
  const std::vector<uint8_t> loader =
      ReadFolderImage(okc::core::kEepromLoaderFile, okc::core::kMaxLoaderBytes, &path, &problem);
  if (loader.empty()) {
    std::fprintf(stderr, "okccamera: %s (firmware folders searched: %s)\n", problem.c_str(),
                 okc::platform::FirmwareFoldersText().c_str());
    return false;
  }
  return UpdateFW(image, size, loader.data(), static_cast<long>(loader.size()));
}

bool CCameraBase::UpdateFW(const unsigned char* image, long size, const unsigned char* loader, long loaderSize) {
  if (!opened || !device || !image || !loader || size <= 0 || loaderSize <= 0) return false;
  // Both images are judged whole before the controller is touched.
  okc::core::C2Image parsed;
  if (!okc::core::CheckC2Image({image, static_cast<size_t>(size)}, &parsed, nullptr) ||
      !okc::core::CheckEepromLoader({loader, static_cast<size_t>(loaderSize)}, nullptr))
    return false;
  const auto imageBytes = static_cast<uint32_t>(size);
  const auto loaderBytes = static_cast<uint32_t>(loaderSize);

  auto ram = [this](unsigned short address, unsigned char* data, uint32_t length, bool in) {
    uint32_t moved = 0;
    return FirmwareTransfer(controller::kRamAccess, address, 0, in, data, length, kUpdateTimeoutMs, &moved) &&
           moved == length;
  };
  auto cpu = [&ram](unsigned char value) { return ram(kCpuControl, &value, 1, false); };

  // 1. Hold the processor, load the loader program and check it, let it run.
  std::vector<unsigned char> buffer(loader, loader + loaderBytes);
  std::vector<unsigned char> readBack(loaderBytes);
  bool loaderRuns = cpu(1);
  for (uint32_t offset = 0; loaderRuns && offset < loaderBytes; offset += kLoaderPiece) {
    const uint32_t length = std::min(kLoaderPiece, loaderBytes - offset);
    loaderRuns = ram(static_cast<unsigned short>(offset), buffer.data() + offset, length, false) &&
                 ram(static_cast<unsigned short>(offset), readBack.data() + offset, length, true);
  }
  // A loader that did not arrive whole must not run: it would write the EEPROM at random.
  loaderRuns = loaderRuns && readBack == buffer && cpu(0);

  // 2. Write the image block by block and read it all back, three attempts at most.
  bool written = false;
  std::vector<unsigned char> imageCopy(image, image + imageBytes);
  std::vector<unsigned char> eeprom(okc::core::kMaxC2ImageBytes);
  const uint32_t blocks = (imageBytes + kEepromBlock - 1) / kEepromBlock;
  ReportProgress(0, 2 * imageBytes);
  for (int attempt = 0; loaderRuns && attempt < kAttempts && !written; ++attempt) {
    bool transfersOk = true;
    for (uint32_t b = 0; transfersOk && b < blocks; ++b) {
      const uint32_t length = std::min(kEepromBlock, imageBytes - b * kEepromBlock);
      uint32_t moved = 0;
      transfersOk = FirmwareTransfer(controller::kLoaderBootEeprom, static_cast<unsigned short>(b * kEepromBlock), 0,
                                     false, imageCopy.data() + b * kEepromBlock, length, kUpdateTimeoutMs, &moved) &&
                    moved == length;
      if (transfersOk) ReportProgress(b * kEepromBlock + length, 2 * imageBytes);
    }
    std::fill(eeprom.begin(), eeprom.end(), 0);
    for (uint32_t b = 0; transfersOk && b < blocks; ++b) {
      const uint32_t length = std::min(kEepromBlock, imageBytes - b * kEepromBlock);
      uint32_t moved = 0;
      transfersOk = FirmwareTransfer(controller::kLoaderBootEeprom, static_cast<unsigned short>(b * kEepromBlock), 0,
                                     true, eeprom.data() + b * kEepromBlock, length, kUpdateTimeoutMs, &moved) &&
                    moved == length;
      if (transfersOk) ReportProgress(imageBytes + b * kEepromBlock + length, 2 * imageBytes);
    }
    if (!transfersOk) break;  // a transfer that fails ends the attempts
    written = std::equal(imageCopy.begin(), imageCopy.end(), eeprom.begin());
  }

  // 3. and 4. Whatever happened, restart the controller with the image's own records.
  cpu(1);
  for (const okc::core::C2Record& r : parsed.records) ram(r.address, imageCopy.data() + r.offset, r.length, false);
  cpu(0);
  return written;
}

bool CCameraBase::ReloadFirmwareIfOlder(int ordinal, unsigned char minimumVersion, const char* imageName) {
  if (!opened || !device || !modelInfo_) return false;
  if (fwVersion >= minimumVersion) return true;

  std::string path, loaderPath, problem;
  std::vector<uint8_t> image = ReadFolderImage(imageName, okc::core::kMaxC2ImageBytes, &path, &problem);
  okc::core::C2Image parsed;
  std::string why;
  if (!image.empty() && !okc::core::CheckC2Image(image, &parsed, &why)) {
    problem = "firmware file " + path + " is not a sound 0xC2 image: " + why;
  } else if (!image.empty() && (parsed.vendorId != device->vendorId || parsed.productId != device->productId)) {
    char ids[96];
    std::snprintf(ids, sizeof ids, "is for device %04x:%04x, not this %s (%04x:%04x)", parsed.vendorId,
                  parsed.productId, modelInfo_->modelName, device->vendorId, device->productId);
    problem = "firmware file " + path + " " + ids;
  }
  std::vector<uint8_t> loader;
  if (problem.empty()) {
    loader = ReadFolderImage(okc::core::kEepromLoaderFile, okc::core::kMaxLoaderBytes, &loaderPath, &problem);
    if (!loader.empty() && !okc::core::CheckEepromLoader(loader, &why))
      problem = "firmware file " + loaderPath + ": " + why;
  }
  if (!problem.empty()) {
    std::fprintf(stderr,
                 "okccamera: %s runs firmware version %u, older than %u; %s (firmware folders searched: %s). "
                 "It opens with the firmware it has.\n",
                 modelInfo_->modelName, static_cast<unsigned>(fwVersion), static_cast<unsigned>(minimumVersion),
                 problem.c_str(), okc::platform::FirmwareFoldersText().c_str());
    return true;
  }

  if (!UpdateFW(image.data(), static_cast<long>(image.size()), loader.data(), static_cast<long>(loader.size())))
    std::fprintf(stderr, "okccamera: writing %s into the %s's boot EEPROM failed; the controller restarts with it "
                 "from RAM\n", path.c_str(), modelInfo_->modelName);

  // The controller restarts and re-enumerates: the old device is gone.
  device->CyclePort();
  if (!ReopenAfterRestart(ordinal)) return false;
  fwVersion = 0;
  GetFirmwareVer(&fwVersion);
  if (fwVersion < minimumVersion)
    std::fprintf(stderr, "okccamera: the %s still reports firmware version %u after the update\n",
                 modelInfo_->modelName, static_cast<unsigned>(fwVersion));
  return true;
}

bool CCameraBase::ReopenAfterRestart(int ordinal) {
  const okc::usb::UsbDeviceClass deviceClass = device->deviceClass;
  void* const window = device->windowHandle;
  device->CloseDevice();
  delete device;
  device = nullptr;
  opened = false;
  for (int attempt = 0; attempt < kReopenAttempts; ++attempt) {
    okc::platform::SleepMs(kSettleMs);
    okc::usb::ActiveDriver().WaitForDevices(deviceClass, ordinal, kReappearMs);
    device = new CUsbDevice(window, deviceClass, false);
    if (OpenDeviceByOrdinal(ordinal, modelInfo_->checksManufacturer)) return true;
    delete device;
    device = nullptr;
  }
  // A closed device object stays, so a later OpenCamera can look for the camera again.
  device = new CUsbDevice(window, deviceClass, false);
  opened = false;
  std::fprintf(stderr, "okccamera: the %s did not come back on the bus after its firmware was loaded\n",
               modelInfo_->modelName);
  return false;
}

bool CCameraBase::LoadBootImageIfBootLoader(int ordinal, const char* imageName) {
  if (!opened || !device || !modelInfo_) return false;
  if (!device->ProbeBootLoader()) return true;  // the camera's firmware runs already

  // Without its firmware the controller is no camera: a missing image fails the open.
  std::string path, problem;
  std::vector<uint8_t> image = ReadFolderImage(imageName, okc::core::kMaxFx3ImageBytes, &path, &problem);
  okc::core::Fx3Image parsed;
  FX3_FWDWNLOAD_ERROR_CODE checked = FX3_FW_SUCCESS;
  if (!image.empty() && (checked = okc::core::CheckFx3Image(image, &parsed)) != FX3_FW_SUCCESS)
    problem = "firmware file " + path + " is not a sound boot image (result " + std::to_string(checked) + ")";
  if (!problem.empty()) {
    std::fprintf(stderr, "okccamera: the %s waits in its boot loader for its firmware; %s (firmware folders "
                 "searched: %s)\n", modelInfo_->modelName, problem.c_str(), okc::platform::FirmwareFoldersText().c_str());
    device->CloseDevice();
    opened = false;
    return false;
  }
  const FX3_FWDWNLOAD_ERROR_CODE loaded =
      device->LoadRamImage(image.data(), static_cast<uint32_t>(image.size()), controller::kRamAccess);
  if (loaded != FX3_FW_SUCCESS) {
    std::fprintf(stderr, "okccamera: loading %s into the %s's RAM failed (result %d)\n", path.c_str(),
                 modelInfo_->modelName, static_cast<int>(loaded));
    device->CloseDevice();
    opened = false;
    return false;
  }
  return ReopenAfterRestart(ordinal);
}
