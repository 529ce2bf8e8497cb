// A DeviceLink that keeps a copy of every request record it is handed, for
// the tests that must look at the raw record. Each request completes at once
// with a result the test chooses; control IN data stages are filled with `fill`.
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
  struct Submitted {
    std::vector<uint8_t> record;  // as handed over, payload or packet table included
  };

  // What every request reports back.
  uint8_t fill = 0x5A;
  std::optional<uint32_t> claimedBytes;  // bytesReturned to report instead of the true count
  uint32_t usbdStatus = 0;

  std::vector<Submitted> submitted;

  std::unique_ptr<PendingIo> SubmitControl(uint8_t* record, size_t recordLength) override {
    submitted.push_back({{record, record + recordLength}});
    const RequestRecord r = RequestRecord::Decode(record);
    if (r.IsIn()) std::memset(record + kRecordSize, fill, r.length);
    return Finish(record, static_cast<uint32_t>(kRecordSize + r.length));
  }
  std::unique_ptr<PendingIo> SubmitDirect(uint8_t* record, uint8_t*, size_t length) override {
    submitted.push_back({{record, record + kRecordSize}});
    return Finish(record, static_cast<uint32_t>(length));
  }
  std::unique_ptr<PendingIo> SubmitBuffered(uint8_t* record, size_t recordLength) override {
    submitted.push_back({{record, record + recordLength}});
    return Finish(record, static_cast<uint32_t>(recordLength));
  }
  bool AbortPipe(uint8_t) override { return true; }
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
    result.ok = true;
    result.bytesReturned = claimedBytes.value_or(bytes);
    return std::make_unique<DoneIo>(result);
  }
};

}  // namespace okc::usb::testing
