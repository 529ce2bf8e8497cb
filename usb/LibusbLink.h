// An opened device on the libusb backend. Every request is an asynchronous
// libusb transfer whose completion wakes a condition variable; the link keeps
// track of what is in flight so AbortPipe can cancel an endpoint's transfers
// and wait until their completions have come in.
#pragma once

#include <array>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "okccamera/UsbDriver.h"
#include "usb/LibusbDriver.h"

struct libusb_device_handle;

namespace okc::usb {

struct LibusbTransfer;

// What a link shares with the transfers it started (they may outlive it).
struct LibusbInFlight {
  std::mutex mutex;
  std::condition_variable completed;
  std::map<uint64_t, LibusbTransfer*> transfers;  // by submission number
  uint64_t nextId = 1;
};

class LibusbLink final : public DeviceLink {
 public:
  // Takes over `handle`; `endpointTypes` holds the transfer type (low two
  // attribute bits) of every endpoint address of interface 0, 0xFF if absent.
  LibusbLink(std::shared_ptr<LibusbContext> context, libusb_device_handle* handle, bool claimed,
             bool kernelDriverDetached, std::string path, const std::array<uint8_t, 256>& endpointTypes);
  ~LibusbLink() override;

  std::unique_ptr<PendingIo> SubmitControl(uint8_t* record, size_t recordLength) override;
  std::unique_ptr<PendingIo> SubmitDirect(uint8_t* record, uint8_t* buffer, size_t length) override;
  std::unique_ptr<PendingIo> SubmitBuffered(uint8_t* record, size_t recordLength) override;
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
  // Submits a prepared transfer; the PendingIo reports an immediate failure if libusb refuses it.
  std::unique_ptr<PendingIo> Start(std::unique_ptr<LibusbTransfer> transfer);
  // Cancels the matching transfers in flight and waits for their completions.
  void CancelAndWait(bool allEndpoints, uint8_t endpointAddress);

  std::shared_ptr<LibusbContext> context_;
  libusb_device_handle* handle_;
  bool claimed_;
  bool kernelDriverDetached_;
  std::string path_;
  std::array<uint8_t, 256> endpointTypes_;
  std::shared_ptr<LibusbInFlight> inFlight_;
};

}  // namespace okc::usb
