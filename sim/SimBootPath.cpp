// The USB 2 controller's own boot path: its RAM and CPU control register
// behind A0, the EEPROM loader program's A9, and the restart that makes the
// device leave the bus and come back running other firmware.
#include <algorithm>
#include <vector>

#include "core/FirmwareImage.h"
#include "okccamera/Clock.h"
#include "sim/SimCameraImpl.h"

namespace okc::sim {

namespace {

constexpr uint16_t kCpuControl = 0xE600;
constexpr uint8_t kBootEepromAccess = 0xA9;
constexpr size_t kMaxBootEepromPiece = 4096;
constexpr std::optional<size_t> kStall = std::nullopt;

}  // namespace

SimCameraImpl::Reply SimCameraImpl::Usb2RamRequest(const usb::RequestRecord& r, uint8_t* data, size_t length) {
  if (r.index != 0) return kStall;  // a 16-bit address space
  if (r.value == kCpuControl) {
    if (length != 1) return kStall;
    if (r.IsIn()) {
      data[0] = processorHeld_ ? 1 : 0;
      return 1;
    }
    if (data[0] & 1) {
      // The held processor runs nothing: no firmware, no loader, no stream.
      processorHeld_ = true;
      loaderRunning_ = false;
      streaming_ = false;
      streamer_.StreamOff();
    } else if (processorHeld_) {
      processorHeld_ = false;
      StartProcessor();
    }
    return 1;
  }
  if (r.IsIn()) return usb2Ram_.Read(r.value, data, length) ? Reply(length) : kStall;
  return usb2Ram_.Write(r.value, data, length) ? Reply(length) : kStall;
}

SimCameraImpl::Reply SimCameraImpl::EepromLoaderRequest(const usb::RequestRecord& r, uint8_t* data, size_t length) {
  // The loader knows one request: the boot EEPROM at the byte address in value.
  if (r.request != kBootEepromAccess || r.index != 0 || length > kMaxBootEepromPiece) return kStall;
  if (r.IsIn()) return eeprom_.Read(kBootEepromSelect, r.value, data, length) ? Reply(length) : kStall;
  return eeprom_.Write(kBootEepromSelect, r.value, data, length) ? Reply(length) : kStall;
}

void SimCameraImpl::StartProcessor() {
  std::vector<uint8_t> boot(core::kMaxC2ImageBytes);
  core::C2Image image;
  bool firmwareInRam = eeprom_.Read(kBootEepromSelect, 0, boot.data(), boot.size()) &&
                       core::CheckC2Image(boot, &image, nullptr);
  for (size_t i = 0; firmwareInRam && i < image.records.size(); ++i) {
    const core::C2Record& rec = image.records[i];
    std::vector<uint8_t> ram(rec.length);
    firmwareInRam = usb2Ram_.Read(rec.address, ram.data(), ram.size()) &&
                    std::equal(ram.begin(), ram.end(), boot.begin() + rec.offset);
  }
  if (!firmwareInRam) {
    loaderRunning_ = true;
    return;
  }
  // The new firmware renumerates: off the bus, back with its own version.
  firmwareVersion_ = core::FirmwareVersionOfRelease(image.release);
  Reenumerate(kRestartOffBusMs);
}

void SimCameraImpl::Reenumerate(uint64_t offBusMs) {
  ++enumeration_;
  ++reenumerations_;
  backOnBusAtMs_ = offBusMs > 0 ? platform::TickCountMs() + offBusMs : 0;
  processorHeld_ = false;
  loaderRunning_ = false;
  streaming_ = false;
  streamer_.StreamOff();
  bulk_.FailAll(usb::kErrNoDevice);
  FailMatching(unansweredControls_, [](const QueuedRequest&) { return true; }, usb::kErrNoDevice);
}

}  // namespace okc::sim
