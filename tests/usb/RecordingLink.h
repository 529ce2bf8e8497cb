// A DeviceLink that keeps a copy of every request record it is handed, for
// the tests that must look at the raw record. Each request completes at once
// with a result the test chooses; IN payloads are filled with `fill`.
#pragma once

#include <cstring>
#include <optional>
#include <vector>

#include "okccamera/UsbDriver.h"
#include "usb/RequestRecord.h"

namespace okc::usb::testing {

class DoneIo final : public PendingIo {
 public:
  explicit DoneIo(IoResult result) : result_(result) {}
  bool Wait(uint32_t) override { return true; }
  bool IsDone() const override { return true; }
  IoResult Result() const override { return result_; }

 private:
  IoResult result_;
};

class RecordingLink final : public DeviceLink {
 public:
  enum class Route { Control, Direct, Buffered };
  struct Submitted {
    Route route;
    std::vector<uint8_t> record;  // as handed over, payload or packet table included
    uint8_t* buffer = nullptr;    // direct transfers: the caller's buffer
    size_t length = 0;            // direct transfers: its length
  };

  // What every request reports back.
  bool ok = true;
  uint8_t fill = 0x5A;
  std::optional<uint32_t> claimedBytes;  // bytesReturned to report instead of the true count
  uint32_t usbdStatus = 0;

  std::vector<Submitted> submitted;
  std::vector<uint8_t> aborted;

  std::unique_ptr<PendingIo> SubmitControl(uint8_t* record, size_t recordLength) override {
    submitted.push_back({Route::Control, {record, record + recordLength}});
    const RequestRecord r = RequestRecord::Decode(record);
    if (r.IsIn()) std::memset(record + kRecordSize, fill, r.length);
    return Finish(record, static_cast<uint32_t>(kRecordSize + r.length));
  }
  std::unique_ptr<PendingIo> SubmitDirect(uint8_t* record, uint8_t* buffer, size_t length) override {
    submitted.push_back({Route::Direct, {record, record + kRecordSize}, buffer, length});
    if (record[13] & 0x80) std::memset(buffer, fill, length);
    return Finish(record, static_cast<uint32_t>(length));
  }
  std::unique_ptr<PendingIo> SubmitBuffered(uint8_t* record, size_t recordLength) override {
    submitted.push_back({Route::Buffered, {record, record + recordLength}});
    const RequestRecord r = RequestRecord::Decode(record);
    if (r.endpointAddress & 0x80) std::memset(record + r.payloadOffset, fill, r.payloadLength);
    return Finish(record, r.payloadOffset + r.payloadLength);
  }
  bool AbortPipe(uint8_t endpointAddress) override {
    aborted.push_back(endpointAddress);
    return true;
  }
  bool ResetPipe(uint8_t) override { return true; }
  bool SetTransferSize(uint8_t, uint32_t) override { return true; }
  bool ResetPort() override { return true; }
  bool CyclePort() override { return true; }
  uint32_t LinkSpeed() override { return 2; }
  uint8_t UsbAddress() override { return 1; }
  uint8_t CurrentAltSetting() override { return 0; }
  std::string DeviceName() override { return "recording"; }
  std::string FriendlyName() override { return "recording"; }
  uint32_t DriverVersion() override { return 0; }
  uint32_t BusDriverVersion() override { return 0; }
  std::string DevicePath() override { return "recording"; }

 private:
  std::unique_ptr<PendingIo> Finish(uint8_t* record, uint32_t bytes) {
    RequestRecord::StoreStatus(record, usbdStatus ? 0xC0000001 : 0, usbdStatus);
    IoResult result;
    result.ok = ok;
    result.bytesReturned = claimedBytes.value_or(bytes);
    result.error = ok ? kErrNone : kErrGenFailure;
    return std::make_unique<DoneIo>(result);
  }
};

}  // namespace okc::usb::testing
