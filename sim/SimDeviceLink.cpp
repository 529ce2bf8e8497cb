#include "sim/SimDeviceLink.h"

#include <atomic>

namespace okc::sim {

namespace {

// Version reported for the simulated driver and bus driver: 1.0.
constexpr uint32_t kSimDriverVersion = 0x00010000;

uint64_t NextLinkId() {
  static std::atomic<uint64_t> next{1};
  return next.fetch_add(1, std::memory_order_relaxed);
}

}  // namespace

SimDeviceLink::SimDeviceLink(std::shared_ptr<SimCameraImpl> camera)
    : camera_(std::move(camera)), id_(NextLinkId()), enumeration_(camera_->Enumeration()) {}

bool SimDeviceLink::Stale() const { return camera_->Enumeration() != enumeration_; }

SimDeviceLink::~SimDeviceLink() { camera_->AbortLink(id_); }

std::unique_ptr<usb::PendingIo> SimDeviceLink::SubmitControl(uint8_t* record, size_t recordLength) {
  if (Stale()) return FailedIo(record, usb::kErrNoDevice);
  return camera_->SubmitControl(id_, record, recordLength);
}

std::unique_ptr<usb::PendingIo> SimDeviceLink::SubmitDirect(uint8_t* record, uint8_t* buffer, size_t length) {
  if (!record) return FailedIo(nullptr, usb::kErrGenFailure);
  if (Stale()) return FailedIo(record, usb::kErrNoDevice);
  if (usb::RequestRecord::Decode(record).endpointAddress != kBulkInEndpoint) {
    return FailedIo(record, usb::kErrGenFailure);  // no such endpoint on the device
  }
  return camera_->SubmitBulk(id_, record, buffer, length, 0);
}

std::unique_ptr<usb::PendingIo> SimDeviceLink::SubmitBuffered(uint8_t* record, size_t recordLength) {
  if (!record || recordLength < usb::kRecordSize) return FailedIo(nullptr, usb::kErrGenFailure);
  if (Stale()) return FailedIo(record, usb::kErrNoDevice);
  if (usb::RequestRecord::Decode(record).endpointAddress != kBulkInEndpoint) {
    return FailedIo(record, usb::kErrGenFailure);
  }
  // The payload travels behind the record; it is what the transfer fills.
  return camera_->SubmitBulk(id_, record, record + usb::kRecordSize, recordLength - usb::kRecordSize,
                             static_cast<uint32_t>(usb::kRecordSize));
}

bool SimDeviceLink::AbortPipe(uint8_t endpointAddress) { return !Stale() && camera_->AbortPipe(endpointAddress); }

bool SimDeviceLink::ResetPipe(uint8_t endpointAddress) { return !Stale() && camera_->ResetPipe(endpointAddress); }

bool SimDeviceLink::SetTransferSize(uint8_t endpointAddress, uint32_t bytes) {
  return !Stale() && camera_->SetTransferSize(endpointAddress, bytes);
}

bool SimDeviceLink::ResetPort() { return !Stale() && camera_->ResetPort(); }

bool SimDeviceLink::CyclePort() { return !Stale() && camera_->CyclePort(); }

uint32_t SimDeviceLink::LinkSpeed() { return camera_->LinkSpeed(); }

uint8_t SimDeviceLink::UsbAddress() {
  if (camera_->Unplugged()) return 0;
  return static_cast<uint8_t>((camera_->PlugNumber() - 1) % 127 + 1);  // addresses 1 to 127
}

uint8_t SimDeviceLink::CurrentAltSetting() { return camera_->Unplugged() ? 0xFF : 0; }

std::string SimDeviceLink::DeviceName() { return camera_->Options().product; }

std::string SimDeviceLink::FriendlyName() {
  return camera_->Options().manufacturer + " " + camera_->Options().product + " (simulated)";
}

uint32_t SimDeviceLink::DriverVersion() { return kSimDriverVersion; }

uint32_t SimDeviceLink::BusDriverVersion() { return kSimDriverVersion; }

std::string SimDeviceLink::DevicePath() { return "sim:1-" + std::to_string(camera_->PlugNumber()); }

}  // namespace okc::sim
