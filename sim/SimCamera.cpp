// The simulated camera's state, its introspection and faults, and the device
// side of the transfers its links submit. The request answers themselves are
// in SimControlRequests.cpp.
#include <chrono>
#include <algorithm>
#include <limits>

#include "okccamera/Clock.h"
#include "sim/SimCameraImpl.h"

namespace okc::sim {

namespace {

// Keeps the log bounded on long captures; the oldest entries go first.
constexpr size_t kMaxLoggedRequests = 50000;
// The corrupt-write fault leaves a flash byte unprogrammed rather than wrong.
constexpr uint8_t kFlashProgramRequest = 0xC2;
// No memory of the controller is larger than the flash.
constexpr size_t kLargestMemory = NorFlash::kSize;

}  // namespace

SimCameraImpl::SimCameraImpl(const SimDeviceOptions& options, int plugNumber)
    : options_(options),
      plugNumber_(plugNumber),
      descriptors_(BuildDescriptors(options)),
      registers_(0x10000, 0),
      byteRegisters_(0x10000, 0),
      firmwareVersion_(options.firmwareVersion),
      bootLoader_(options.bootLoaderMode),
      usb3Host_(IsUsb3Model(options.model)),
      busy_(options.busy) {
  sensor_.PowerOn(registers_);
  if (sensor_.Description()) clockMhz_ = sensor_.Description()->powerOnClockMhz;
}

SimCameraImpl::~SimCameraImpl() { streamer_.Shutdown(); }

// --- descriptors ---

std::vector<uint8_t> SimCameraImpl::Descriptor(uint8_t type, uint8_t index) const {
  std::lock_guard lock(mutex_);
  auto it = descriptors_.find(DescriptorKey(type, index));
  return it == descriptors_.end() ? std::vector<uint8_t>{} : it->second;
}

void SimCameraImpl::OverrideDescriptor(uint8_t type, uint8_t index, std::vector<uint8_t> bytes) {
  std::lock_guard lock(mutex_);
  if (bytes.empty()) {
    descriptors_.erase(DescriptorKey(type, index));
  } else {
    descriptors_[DescriptorKey(type, index)] = std::move(bytes);
  }
}

// --- controller state ---

uint16_t SimCameraImpl::Register(uint16_t address) const {
  std::lock_guard lock(mutex_);
  return registers_[address];
}

void SimCameraImpl::SetRegister(uint16_t address, uint16_t value) {
  std::lock_guard lock(mutex_);
  registers_[address] = value;
}

uint8_t SimCameraImpl::RegisterByte(uint16_t address) const {
  std::lock_guard lock(mutex_);
  return byteRegisters_[address];
}

void SimCameraImpl::SetFirmwareVersion(uint8_t version) {
  std::lock_guard lock(mutex_);
  firmwareVersion_ = version;
}

bool SimCameraImpl::Streaming() const {
  std::lock_guard lock(mutex_);
  return streaming_;
}

bool SimCameraImpl::SixteenBitSamples() const {
  std::lock_guard lock(mutex_);
  return sixteenBit_;
}

bool SimCameraImpl::InLongExposure() const {
  std::lock_guard lock(mutex_);
  return longExposure_;
}

void SimCameraImpl::SetUsb3Host(bool yes) {
  std::lock_guard lock(mutex_);
  usb3Host_ = yes;
}

uint32_t SimCameraImpl::TransferCount() const {
  std::lock_guard lock(mutex_);
  return transferCount_;
}

std::vector<GuidePulse> SimCameraImpl::GuidePulses() const {
  std::lock_guard lock(mutex_);
  return guidePulses_;
}

uint32_t SimCameraImpl::SensorClockMhz() const {
  std::lock_guard lock(mutex_);
  return clockMhz_;
}

bool SimCameraImpl::InBootLoaderMode() const {
  std::lock_guard lock(mutex_);
  return bootLoader_;
}

std::vector<uint8_t> SimCameraImpl::ReadRam(uint32_t address, size_t length) const {
  if (length > kLargestMemory) return {};
  std::vector<uint8_t> out(length);
  std::lock_guard lock(mutex_);
  if (!ram_.Read(address, out.data(), length)) return {};
  return out;
}

std::optional<uint32_t> SimCameraImpl::EntryPoint() const {
  std::lock_guard lock(mutex_);
  return entryPoint_;
}

std::vector<uint8_t> SimCameraImpl::ReadEeprom(uint16_t deviceSelect, uint32_t address, size_t length) const {
  if (length > kLargestMemory) return {};
  std::vector<uint8_t> out(length);
  std::lock_guard lock(mutex_);
  if (!eeprom_.Read(deviceSelect, address, out.data(), length)) return {};
  return out;
}

std::vector<uint8_t> SimCameraImpl::ReadFlash(uint32_t address, size_t length) const {
  if (length > kLargestMemory) return {};
  std::vector<uint8_t> out(length);
  std::lock_guard lock(mutex_);
  if (!flash_.Read(address, out.data(), length)) return {};
  return out;
}

void SimCameraImpl::WriteFlash(uint32_t address, const std::vector<uint8_t>& bytes) {
  std::lock_guard lock(mutex_);
  flash_.Overwrite(address, bytes.data(), bytes.size());
}

void SimCameraImpl::WriteEeprom(uint16_t deviceSelect, uint32_t address, const std::vector<uint8_t>& bytes) {
  std::lock_guard lock(mutex_);
  eeprom_.Write(deviceSelect, address, bytes.data(), bytes.size());
}

bool SimCameraImpl::ProcessorHeld() const {
  std::lock_guard lock(mutex_);
  return processorHeld_;
}

bool SimCameraImpl::EepromLoaderRunning() const {
  std::lock_guard lock(mutex_);
  return loaderRunning_;
}

uint8_t SimCameraImpl::FirmwareVersion() const {
  std::lock_guard lock(mutex_);
  return firmwareVersion_;
}

int SimCameraImpl::Reenumerations() const {
  std::lock_guard lock(mutex_);
  return reenumerations_;
}

uint64_t SimCameraImpl::Enumeration() const {
  std::lock_guard lock(mutex_);
  return enumeration_;
}

bool SimCameraImpl::Listed() const {
  std::lock_guard lock(mutex_);
  return !unplugged_ && platform::TickCountMs() >= backOnBusAtMs_;
}

uint64_t SimCameraImpl::BackOnBusAtMs() const {
  std::lock_guard lock(mutex_);
  return unplugged_ ? 0 : backOnBusAtMs_;
}

// --- request log ---

void SimCameraImpl::Log(LoggedRequest entry) {
  if (log_.size() >= kMaxLoggedRequests) log_.pop_front();
  log_.push_back(std::move(entry));
  NoteActivity();
}

void SimCameraImpl::NoteActivity() {
  {
    std::lock_guard lock(activityMutex_);
    ++activityCount_;
  }
  activity_.notify_all();
}

bool SimCameraImpl::WaitFor(const std::function<bool()>& done, uint64_t realLimitMs) {
  using namespace std::chrono;
  const auto deadline = steady_clock::now() + milliseconds(realLimitMs);
  for (;;) {
    uint64_t seen;
    {
      std::lock_guard lock(activityMutex_);
      seen = activityCount_;
    }
    if (done()) return true;
    if (steady_clock::now() >= deadline) return false;
    std::unique_lock lock(activityMutex_);
    activity_.wait_for(lock, milliseconds(5), [&] { return activityCount_ != seen; });
  }
}

std::vector<LoggedRequest> SimCameraImpl::Requests() const {
  std::lock_guard lock(mutex_);
  return {log_.begin(), log_.end()};
}

std::vector<LoggedRequest> SimCameraImpl::VendorRequests(std::optional<uint8_t> code) const {
  std::lock_guard lock(mutex_);
  std::vector<LoggedRequest> out;
  for (const LoggedRequest& r : log_) {
    if (r.IsVendor() && (!code || r.request == *code)) out.push_back(r);
  }
  return out;
}

void SimCameraImpl::ClearRequests() {
  std::lock_guard lock(mutex_);
  log_.clear();
}

// --- bulk IN stream ---

void SimCameraImpl::PushBulkData(std::vector<uint8_t> chunk) {
  std::lock_guard lock(mutex_);
  bulk_.Push(std::move(chunk));
}

size_t SimCameraImpl::PendingBulkBytes() const {
  std::lock_guard lock(mutex_);
  return bulk_.PendingBytes();
}

uint32_t SimCameraImpl::BulkTransferSize() const {
  std::lock_guard lock(mutex_);
  return bulkTransferSize_;
}

// --- faults ---

void SimCameraImpl::SetControlNoAnswer(bool on) {
  std::lock_guard lock(mutex_);
  noAnswer_ = on;
}

void SimCameraImpl::SetStallRequest(std::optional<uint8_t> code) {
  std::lock_guard lock(mutex_);
  stallCode_ = code;
}

void SimCameraImpl::CorruptNextWrites(uint8_t code, int count) {
  std::lock_guard lock(mutex_);
  corruptCode_ = code;
  corruptCount_ = count;
}

void SimCameraImpl::UnplugAtRequest(uint8_t code, int nth) {
  std::lock_guard lock(mutex_);
  unplugCode_ = code;
  unplugCountdown_ = nth;
}

void SimCameraImpl::SetSensorProcessorFault(SensorProcessorFault fault) {
  std::lock_guard lock(mutex_);
  sensor_.SetProcessorFault(fault);
}

void SimCameraImpl::SetEraseBusyPolls(int polls) {
  std::lock_guard lock(mutex_);
  eraseBusyPolls_ = polls;
}

void SimCameraImpl::SetBusy(bool on) {
  std::lock_guard lock(mutex_);
  busy_ = on;
}

bool SimCameraImpl::Busy() const {
  std::lock_guard lock(mutex_);
  return busy_;
}

void SimCameraImpl::Unplug() {
  std::lock_guard lock(mutex_);
  UnplugLocked();
}

void SimCameraImpl::UnplugLocked() {
  if (unplugged_) return;
  unplugged_ = true;
  streamer_.Stop();
  bulk_.FailAll(usb::kErrNoDevice);
  FailMatching(unansweredControls_, [](const QueuedRequest&) { return true; }, usb::kErrNoDevice);
}

bool SimCameraImpl::Unplugged() const {
  std::lock_guard lock(mutex_);
  return unplugged_;
}

int SimCameraImpl::PortResets() const {
  std::lock_guard lock(mutex_);
  return portResets_;
}

int SimCameraImpl::PortCycles() const {
  std::lock_guard lock(mutex_);
  return portCycles_;
}

int SimCameraImpl::PipeResets() const {
  std::lock_guard lock(mutex_);
  return pipeResets_;
}

int SimCameraImpl::PipeAborts() const {
  std::lock_guard lock(mutex_);
  return pipeAborts_;
}

// --- the device side of a link ---

std::unique_ptr<usb::PendingIo> SimCameraImpl::SubmitControl(uint64_t linkId, uint8_t* record, size_t recordLength) {
  if (!record || recordLength < usb::kRecordSize) return FailedIo(nullptr, usb::kErrGenFailure);
  const usb::RequestRecord r = usb::RequestRecord::Decode(record);
  const size_t length = r.length;
  // A record claiming a longer data stage than it carries never reaches the device.
  if (length > recordLength - usb::kRecordSize) return FailedIo(record, usb::kErrGenFailure);
  uint8_t* data = record + usb::kRecordSize;

  auto state = std::make_shared<IoCompletion>();
  auto io = std::make_unique<SimPendingIo>(state, weak_from_this());
  std::lock_guard lock(mutex_);
  if (unplugged_) {
    CompleteFailed(*state, record, usb::kErrNoDevice);
    return io;
  }

  LoggedRequest entry;
  entry.requestType = r.requestType;
  entry.request = r.request;
  entry.in = r.IsIn();
  entry.value = r.value;
  entry.index = r.index;
  entry.timeMs = platform::TickCountMs();
  if (!entry.in) entry.data.assign(data, data + length);

  if (noAnswer_) {
    Log(std::move(entry));
    QueuedRequest held;
    held.io = state;
    held.record = record;
    held.linkId = linkId;
    unansweredControls_.push_back(std::move(held));
    return io;
  }

  if (unplugCode_ == r.request && --unplugCountdown_ <= 0) {
    unplugCode_.reset();
    Log(std::move(entry));
    UnplugLocked();
    CompleteFailed(*state, record, usb::kErrNoDevice);
    return io;
  }
  // What the memory stores differs from what was sent; the log keeps what was sent.
  std::vector<uint8_t> corrupted;
  if (!entry.in && length > 0 && corruptCode_ == r.request && corruptCount_ > 0) {
    --corruptCount_;
    corrupted.assign(data, data + length);
    corrupted[0] = r.request == kFlashProgramRequest ? 0xFF : static_cast<uint8_t>(corrupted[0] ^ 0xFF);
    data = corrupted.data();
  }

  const Reply reply = stallCode_ == r.request ? std::nullopt : Dispatch(r, data, length);
  if (reply && entry.in) entry.data.assign(data, data + *reply);
  Log(std::move(entry));
  if (reply) {
    CompleteOk(*state, record, static_cast<uint32_t>(usb::kRecordSize + *reply));
  } else {
    CompleteFailed(*state, record, usb::kErrGenFailure, static_cast<uint32_t>(usb::kRecordSize));
  }
  return io;
}

std::unique_ptr<usb::PendingIo> SimCameraImpl::SubmitBulk(uint64_t linkId, uint8_t* record, uint8_t* buffer,
                                                          size_t length, uint32_t returnedBase) {
  if ((!buffer && length > 0) || length > std::numeric_limits<uint32_t>::max() - returnedBase) {
    return FailedIo(record, usb::kErrGenFailure);
  }
  auto state = std::make_shared<IoCompletion>();
  auto io = std::make_unique<SimPendingIo>(state, weak_from_this());
  std::lock_guard lock(mutex_);
  if (unplugged_) {
    CompleteFailed(*state, record, usb::kErrNoDevice);
    return io;
  }
  QueuedRequest transfer;
  transfer.io = state;
  transfer.record = record;
  transfer.buffer = buffer;
  transfer.length = length;
  transfer.returnedBase = returnedBase;
  transfer.linkId = linkId;
  bulk_.Submit(std::move(transfer));
  return io;
}

bool SimCameraImpl::AbortPipe(uint8_t endpointAddress) {
  std::lock_guard lock(mutex_);
  if (unplugged_) return false;
  if (endpointAddress == kBulkInEndpoint) {
    bulk_.FailAll(usb::kErrOperationAborted);
  } else if (endpointAddress == 0) {
    FailMatching(unansweredControls_, [](const QueuedRequest&) { return true; }, usb::kErrOperationAborted);
  } else {
    return false;
  }
  ++pipeAborts_;
  return true;
}

void SimCameraImpl::AbortLink(uint64_t linkId) {
  std::lock_guard lock(mutex_);
  bulk_.FailLink(linkId, usb::kErrOperationAborted);
  FailMatching(
      unansweredControls_, [linkId](const QueuedRequest& r) { return r.linkId == linkId; },
      usb::kErrOperationAborted);
}

bool SimCameraImpl::ResetPipe(uint8_t endpointAddress) {
  std::lock_guard lock(mutex_);
  if (unplugged_ || (endpointAddress != 0 && endpointAddress != kBulkInEndpoint)) return false;
  ++pipeResets_;
  return true;
}

bool SimCameraImpl::SetTransferSize(uint8_t endpointAddress, uint32_t bytes) {
  std::lock_guard lock(mutex_);
  if (unplugged_ || endpointAddress != kBulkInEndpoint) return false;
  bulkTransferSize_ = bytes;
  return true;
}

bool SimCameraImpl::ResetPort() {
  std::lock_guard lock(mutex_);
  if (unplugged_) return false;
  ++portResets_;
  return true;
}

bool SimCameraImpl::CyclePort() {
  std::lock_guard lock(mutex_);
  if (unplugged_) return false;
  ++portCycles_;
  // The device re-enumerates at once, still running its firmware; links opened before are stale.
  Reenumerate(0);
  return true;
}

uint32_t SimCameraImpl::LinkSpeed() const {
  std::lock_guard lock(mutex_);
  if (unplugged_) return 0;
  return IsUsb3Model(options_.model) && usb3Host_ ? 4 : 2;
}

void SimCameraImpl::Forget(const IoCompletion* io) {
  std::lock_guard lock(mutex_);
  bulk_.Forget(io);
  std::erase_if(unansweredControls_, [io](const QueuedRequest& r) { return r.io.get() == io; });
}

}  // namespace okc::sim
