// How the simulated controller answers control requests: GET_DESCRIPTOR from
// its descriptors, the camera firmware's vendor requests from its state, and
// in boot-loader mode only the A0 memory requests. Everything else stalls, and
// so does any address or length that would reach outside a memory.
#include <algorithm>
#include <cstring>
#include <initializer_list>

#include "okccamera/Clock.h"
#include "sim/SimCameraImpl.h"
#include "sim/SimGuideLog.h"

namespace okc::sim {

namespace {

enum : uint8_t {
  kGetDescriptor = 0x06,
  kMemoryAccess = 0xA0,
  kWriteRegister = 0xA6,
  kReadRegister = 0xA7,
  kFirmwareVersion = 0xAD,
  kGuideOn = 0xB0,
  kGuideOff = 0xB1,
  kUsb3Host = 0xB4,
  kTransferCount = 0xB5,
  kWriteRegisterByte = 0xB6,
  kReadRegisterByte = 0xB7,
  kEepromWrite = 0xBA,
  kEepromRead = 0xBB,
  kFlashProgram = 0xC2,
  kFlashRead = 0xC3,
  kFlashErase = 0xC4,
};

constexpr uint8_t kTypeStandard = 0;
constexpr uint8_t kTypeVendor = 2;
constexpr uint8_t kRecipientDevice = 0;
constexpr uint16_t kGuideDirections = 4;
// The firmware moves EEPROM and flash data in pieces of at most this size.
constexpr size_t kMaxMemoryPiece = 2048;

using Reply = std::optional<size_t>;
constexpr Reply kStall = std::nullopt;

// Answers an IN request with `bytes`, as much of it as the host asked for.
Reply Answer(uint8_t* data, size_t length, std::initializer_list<uint8_t> bytes) {
  const size_t n = std::min(length, bytes.size());
  std::copy_n(bytes.begin(), n, data);
  return n;
}

}  // namespace

SimCameraImpl::Reply SimCameraImpl::Dispatch(const usb::RequestRecord& r, uint8_t* data, size_t length) {
  if (r.Recipient() != kRecipientDevice) return kStall;
  if (r.Type() == kTypeStandard) return StandardRequest(r, data, length);
  if (r.Type() != kTypeVendor) return kStall;
  if (bootLoader_) return BootLoaderRequest(r, data, length);
  // The USB 2 controller's silicon answers A0 whatever runs, even a held processor.
  if (!IsUsb3Model(options_.model) && r.request == kMemoryAccess) return Usb2RamRequest(r, data, length);
  if (processorHeld_) return kStall;
  if (loaderRunning_) return EepromLoaderRequest(r, data, length);
  return VendorRequest(r, data, length);
}

SimCameraImpl::Reply SimCameraImpl::StandardRequest(const usb::RequestRecord& r, uint8_t* data, size_t length) {
  if (r.request != kGetDescriptor || !r.IsIn()) return kStall;
  // wValue is type << 8 | index; the language in wIndex does not change the strings.
  auto it = descriptors_.find(r.value);
  if (it == descriptors_.end()) return kStall;
  // Like a real device: as much of the stored bytes as asked for, whatever their length fields say.
  const size_t n = std::min(length, it->second.size());
  std::memcpy(data, it->second.data(), n);
  return n;
}

SimCameraImpl::Reply SimCameraImpl::BootLoaderRequest(const usb::RequestRecord& r, uint8_t* data, size_t length) {
  // The boot loader also reaches the I2C EEPROMs and the SPI flash.
  if (r.request != kMemoryAccess) return MemoryRequest(r, data, length);
  const uint32_t address = static_cast<uint32_t>(r.index) << 16 | r.value;
  if (r.IsIn()) return ram_.Read(address, data, length) ? Reply(length) : kStall;
  if (length == 0) {
    // Jump to the loaded program: from now on the device answers as the camera firmware.
    entryPoint_ = address;
    bootLoader_ = false;
    return 0;
  }
  return ram_.Write(address, data, length) ? Reply(length) : kStall;
}

SimCameraImpl::Reply SimCameraImpl::VendorRequest(const usb::RequestRecord& r, uint8_t* data, size_t length) {
  const bool in = r.IsIn();
  if (const std::optional<Reply> reply = StreamCommand(r, length)) return *reply;
  switch (r.request) {
    case kWriteRegister:
      if (in) return kStall;
      registers_[r.value] = r.index;
      if (sensor_.OnRegisterWrite(r.value, r.index, registers_)) streamer_.RestartFrame();
      return length;
    case kReadRegister: {
      if (!in) return kStall;
      const uint16_t v = sensor_.OnRegisterRead(r.value, registers_);
      return Answer(data, length, {static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)});
    }
    case kWriteRegisterByte:
      if (in || r.index > 0xFF) return kStall;
      byteRegisters_[r.value] = static_cast<uint8_t>(r.index);
      return length;
    case kReadRegisterByte:
      if (!in) return kStall;
      return Answer(data, length, {byteRegisters_[r.value]});
    case kFirmwareVersion:
      if (!in) return kStall;
      return Answer(data, length, {'V', firmwareVersion_});
    case kUsb3Host:
      if (!in) return kStall;
      return Answer(data, length, {static_cast<uint8_t>(usb3Host_ ? 1 : 0)});
    case kTransferCount:
      if (in) return kStall;
      transferCount_ = static_cast<uint32_t>(r.value) << 16 | r.index;
      return length;
    case kGuideOn:
    case kGuideOff:
      if (in) return kStall;
      return GuideRequest(r) ? Reply(length) : kStall;
    case kEepromWrite:
    case kEepromRead:
    case kFlashProgram:
    case kFlashRead:
    case kFlashErase:
      return MemoryRequest(r, data, length);
    default:
      return kStall;  // includes A0 on the USB 3 models: their camera firmware has no boot-loader memory access
  }
}

std::optional<SimCameraImpl::Reply> SimCameraImpl::StreamCommand(const usb::RequestRecord& r, size_t length) {
  const StreamCommands& c = sensor_.Commands();
  const uint8_t code = r.request;
  if (code != c.clock24 && code != c.clock48 && code != c.streamOn && code != c.streamOff && code != c.samples8 &&
      code != c.samples16 && code != c.longExposureBegin && code != c.longExposureEnd)
    return std::nullopt;
  if (r.IsIn()) return kStall;
  if (code == c.clock24 || code == c.clock48) {
    clockMhz_ = code == c.clock24 ? 24 : 48;
  } else if (code == c.streamOn || code == c.streamOff) {
    streaming_ = code == c.streamOn;
    if (streaming_) {
      streamer_.StreamOn();
    } else {
      streamer_.StreamOff();
    }
  } else if (code == c.samples8 || code == c.samples16) {
    sixteenBit_ = code == c.samples16;
  } else {
    longExposure_ = code == c.longExposureBegin;
    if (longExposure_) {
      streamer_.LongExposureBegin();
    } else {
      streamer_.LongExposureEnd();
    }
  }
  return Reply(length);
}

SimCameraImpl::Reply SimCameraImpl::GuideRequest(const usb::RequestRecord& r) {
  const uint16_t direction = r.value;
  if (direction >= kGuideDirections) return kStall;
  // The output of this direction that is on, if any.
  auto on = std::find_if(guidePulses_.rbegin(), guidePulses_.rend(),
                         [direction](const GuidePulse& p) { return p.direction == direction && p.offMs == 0; });
  const uint64_t now = platform::TickCountMs();
  if (r.request == kGuideOn) {
    if (on == guidePulses_.rend()) guidePulses_.push_back({direction, now, 0});
  } else if (on != guidePulses_.rend()) {
    on->offMs = std::max<uint64_t>(now, 1);  // 0 means "still on"
  }
  LogGuideOutput(ShortNameOf(options_.model), direction, r.request == kGuideOn, now);
  return 0;
}

SimCameraImpl::Reply SimCameraImpl::MemoryRequest(const usb::RequestRecord& r, uint8_t* data, size_t length) {
  const bool in = r.IsIn();
  switch (r.request) {
    case kEepromWrite:
      if (in || length > kMaxMemoryPiece) return kStall;
      return eeprom_.Write(r.value, r.index, data, length) ? Reply(length) : kStall;
    case kEepromRead:
      if (!in || length > kMaxMemoryPiece) return kStall;
      return eeprom_.Read(r.value, r.index, data, length) ? Reply(length) : kStall;
    case kFlashProgram:
      if (in || length > kMaxMemoryPiece) return kStall;
      return flash_.Program(static_cast<uint32_t>(r.index) * 256, data, length) ? Reply(length) : kStall;
    case kFlashRead:
      if (!in || length > kMaxMemoryPiece) return kStall;
      return flash_.Read(static_cast<uint32_t>(r.index) * 256, data, length) ? Reply(length) : kStall;
    case kFlashErase:
      if (r.index >= NorFlash::kSize / NorFlash::kSectorSize) return kStall;
      if (in) {
        // Busy (1) for a few polls after an erase starts, then idle (0); a negative count never ends.
        if (erasePollsLeft_ == 0) return Answer(data, length, {0});
        if (erasePollsLeft_ > 0) --erasePollsLeft_;
        return Answer(data, length, {1});
      }
      if (r.value != 1 || !flash_.EraseSector(r.index)) return kStall;
      erasePollsLeft_ = eraseBusyPolls_;
      return length;
    default:
      return kStall;
  }
}

}  // namespace okc::sim
