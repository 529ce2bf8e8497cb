// An opened simulated device: the DeviceLink the camera code talks through.
#pragma once

#include <memory>

#include "okccamera/UsbDriver.h"
#include "sim/SimCameraImpl.h"

namespace okc::sim {

class SimDeviceLink final : public usb::DeviceLink {
 public:
  explicit SimDeviceLink(std::shared_ptr<SimCameraImpl> camera);
  // Requests still pending complete as aborted; their buffers are not touched afterwards.
  ~SimDeviceLink() override;

  std::unique_ptr<usb::PendingIo> SubmitControl(uint8_t* record, size_t recordLength) override;
  std::unique_ptr<usb::PendingIo> SubmitDirect(uint8_t* record, uint8_t* buffer, size_t length) override;
  std::unique_ptr<usb::PendingIo> SubmitBuffered(uint8_t* record, size_t recordLength) override;
  bool AbortPipe(uint8_t endpointAddress) override;
  bool ResetPipe(uint8_t endpointAddress) override;
  bool SetTransferSize(uint8_t endpointAddress, uint32_t bytes) override;
  bool ResetPort() override;
  bool CyclePort() override;
  uint32_t LinkSpeed() override;
  uint8_t UsbAddress() override;
  uint8_t CurrentAltSetting() override;
  std::string DeviceName() override;
  std::string FriendlyName() override;
  uint32_t DriverVersion() override;
  uint32_t BusDriverVersion() override;
  std::string DevicePath() override;

 private:
  // True once the device re-enumerated after this link was opened: the link reaches nothing any more.
  bool Stale() const;

  std::shared_ptr<SimCameraImpl> camera_;
  const uint64_t id_;
  const uint64_t enumeration_;
};

}  // namespace okc::sim
