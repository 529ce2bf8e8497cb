#include "usb/LibusbLink.h"

#include <libusb.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <mutex>
#include <vector>

#include "usb/RequestRecord.h"
#include "usb/TransferErrors.h"

namespace okc::usb {

namespace {

constexpr uint8_t kTypeControl = 0;
constexpr uint8_t kTypeIsochronous = 1;
constexpr uint8_t kTypeInterrupt = 3;
constexpr uint8_t kUnknownType = 0xFF;
constexpr uint32_t kLinkLowOrUnknown = 0;
constexpr uint32_t kLinkFull = 1;
constexpr uint32_t kLinkHigh = 2;
constexpr uint32_t kLinkSuper = 4;
constexpr unsigned kAltSettingTimeoutMs = 1000;

// Status words written back into the record, as the controller's kernel driver reports them.
struct StatusWords {
  uint32_t nt;
  uint32_t usbd;
};

StatusWords StatusOf(libusb_transfer_status status) {
  switch (status) {
    case LIBUSB_TRANSFER_COMPLETED: return {0, 0};
    case LIBUSB_TRANSFER_STALL: return {0xC0000001, 0xC0000004};
    case LIBUSB_TRANSFER_CANCELLED: return {0xC0000120, 0xC0010000};
    case LIBUSB_TRANSFER_TIMED_OUT: return {0xC00000B5, 0xC0006000};
    case LIBUSB_TRANSFER_NO_DEVICE: return {0xC000009D, 0xC0007000};
    case LIBUSB_TRANSFER_OVERFLOW: return {0xC0000001, 0xC000000C};
    default: return {0xC0000001, 0xC0000011};
  }
}

uint32_t ErrorOf(libusb_transfer_status status) {
  switch (status) {
    case LIBUSB_TRANSFER_COMPLETED: return kErrNone;
    case LIBUSB_TRANSFER_CANCELLED: return kErrOperationAborted;
    case LIBUSB_TRANSFER_TIMED_OUT: return kErrTimeout;
    case LIBUSB_TRANSFER_NO_DEVICE: return kErrNoDevice;
    default: return kErrGenFailure;
  }
}

// Said once per process: the kernel caps the memory of all queued USB transfers.
void ReportUsbfsLimit() {
  static std::once_flag once;
  std::call_once(once, [] {
    const char* parameter = "/sys/module/usbcore/parameters/usbfs_memory_mb";
    std::string limit = "unknown";
    std::ifstream in(parameter);
    if (in) std::getline(in, limit);
    std::fprintf(stderr,
                 "okccamera: the usbfs memory limit is reached (usbfs_memory_mb = %s MB); raise it as root with "
                 "'echo 256 > %s' or the kernel parameter usbcore.usbfs_memory_mb=256\n",
                 limit.c_str(), parameter);
  });
}

// A PendingIo that failed before anything was sent.
class FailedIo final : public PendingIo {
 public:
  explicit FailedIo(uint32_t error) { result_.error = error; }
  bool Wait(uint32_t) override { return true; }
  bool IsDone() const override { return true; }
  IoResult Result() const override { return result_; }

 private:
  IoResult result_;
};

}  // namespace

// One libusb transfer and the record it serves.
struct LibusbTransfer {
  enum class Kind { Control, Direct, Buffered };

  ~LibusbTransfer() {
    if (transfer) libusb_free_transfer(transfer);
  }

  std::shared_ptr<LibusbInFlight> inFlight;
  libusb_transfer* transfer = nullptr;
  Kind kind = Kind::Direct;
  uint8_t* record = nullptr;
  uint32_t payloadOffset = 0;         // of the payload in the record
  std::vector<uint8_t> controlBuffer;  // setup packet + data stage
  uint8_t endpoint = 0;
  uint64_t id = 0;
  // Guarded by inFlight->mutex.
  bool done = false;
  IoResult result;
};

namespace {

void LIBUSB_CALL OnTransferDone(libusb_transfer* transfer) {
  auto* t = static_cast<LibusbTransfer*>(transfer->user_data);
  const uint32_t actual = transfer->actual_length > 0 ? static_cast<uint32_t>(transfer->actual_length) : 0;
  IoResult result;
  result.ok = transfer->status == LIBUSB_TRANSFER_COMPLETED;
  result.error = ErrorOf(transfer->status);
  switch (t->kind) {
    case LibusbTransfer::Kind::Control: {
      const size_t room = t->controlBuffer.size() - LIBUSB_CONTROL_SETUP_SIZE;
      const uint32_t moved = static_cast<uint32_t>(std::min<size_t>(actual, room));
      if ((t->controlBuffer[0] & LIBUSB_ENDPOINT_IN) && moved > 0)
        std::memcpy(t->record + kRecordSize, t->controlBuffer.data() + LIBUSB_CONTROL_SETUP_SIZE, moved);
      result.bytesReturned = static_cast<uint32_t>(kRecordSize) + moved;
      break;
    }
    case LibusbTransfer::Kind::Direct: result.bytesReturned = actual; break;
    case LibusbTransfer::Kind::Buffered: result.bytesReturned = t->payloadOffset + actual; break;
  }
  const StatusWords words = StatusOf(transfer->status);
  RequestRecord::StoreStatus(t->record, words.nt, words.usbd);

  // Notified under the lock: once it is released the waiter may free everything.
  std::lock_guard lock(t->inFlight->mutex);
  t->done = true;
  t->result = result;
  t->inFlight->transfers.erase(t->id);
  t->inFlight->completed.notify_all();
}

class LibusbPendingIo final : public PendingIo {
 public:
  explicit LibusbPendingIo(std::unique_ptr<LibusbTransfer> transfer) : t_(std::move(transfer)) {}
  // A transfer still in flight is cancelled first: libusb must not write into freed memory.
  ~LibusbPendingIo() override {
    std::unique_lock lock(t_->inFlight->mutex);
    if (!t_->done) {
      libusb_cancel_transfer(t_->transfer);
      t_->inFlight->completed.wait(lock, [this] { return t_->done; });
    }
  }
  bool Wait(uint32_t timeoutMs) override {
    std::unique_lock lock(t_->inFlight->mutex);
    auto done = [this] { return t_->done; };
    if (timeoutMs == kInfinite) {
      t_->inFlight->completed.wait(lock, done);
      return true;
    }
    return t_->inFlight->completed.wait_for(lock, std::chrono::milliseconds(timeoutMs), done);
  }
  bool IsDone() const override {
    std::lock_guard lock(t_->inFlight->mutex);
    return t_->done;
  }
  IoResult Result() const override {
    std::lock_guard lock(t_->inFlight->mutex);
    return t_->result;
  }

 private:
  std::unique_ptr<LibusbTransfer> t_;
};

}  // namespace

LibusbLink::LibusbLink(std::shared_ptr<LibusbContext> context, libusb_device_handle* handle, bool claimed,
                       bool kernelDriverDetached, std::string path, const std::array<uint8_t, 256>& endpointTypes)
    : context_(std::move(context)),
      handle_(handle),
      claimed_(claimed),
      kernelDriverDetached_(kernelDriverDetached),
      path_(std::move(path)),
      endpointTypes_(endpointTypes),
      inFlight_(std::make_shared<LibusbInFlight>()) {
  context_->DeviceOpened();
}

LibusbLink::~LibusbLink() {
  CancelAndWait(true, 0);
  if (claimed_) libusb_release_interface(handle_, 0);
  if (kernelDriverDetached_) libusb_attach_kernel_driver(handle_, 0);
  libusb_close(handle_);
  context_->DeviceClosed();
}

std::unique_ptr<PendingIo> LibusbLink::Start(std::unique_ptr<LibusbTransfer> t) {
  t->inFlight = inFlight_;
  t->transfer->user_data = t.get();
  t->transfer->callback = OnTransferDone;
  {
    std::lock_guard lock(inFlight_->mutex);
    t->id = inFlight_->nextId++;
    inFlight_->transfers[t->id] = t.get();
  }
  const int rc = libusb_submit_transfer(t->transfer);
  if (rc != LIBUSB_SUCCESS) {
    {
      std::lock_guard lock(inFlight_->mutex);
      inFlight_->transfers.erase(t->id);
    }
    if (rc == LIBUSB_ERROR_NO_MEM) ReportUsbfsLimit();
    return std::make_unique<FailedIo>(MapLibusbError(rc));
  }
  return std::make_unique<LibusbPendingIo>(std::move(t));
}

std::unique_ptr<PendingIo> LibusbLink::SubmitControl(uint8_t* record, size_t recordLength) {
  if (!record || recordLength < kRecordSize) return std::make_unique<FailedIo>(kErrInvalidParameter);
  const RequestRecord r = RequestRecord::Decode(record);
  if (kRecordSize + r.length > recordLength) return std::make_unique<FailedIo>(kErrInvalidParameter);
  auto t = std::make_unique<LibusbTransfer>();
  t->transfer = libusb_alloc_transfer(0);
  if (!t->transfer) return std::make_unique<FailedIo>(kErrNotEnoughMemory);
  t->kind = LibusbTransfer::Kind::Control;
  t->record = record;
  t->payloadOffset = kRecordSize;
  t->endpoint = 0;
  t->controlBuffer.assign(LIBUSB_CONTROL_SETUP_SIZE + r.length, 0);
  libusb_fill_control_setup(t->controlBuffer.data(), r.requestType, r.request, r.value, r.index, r.length);
  if (!r.IsIn() && r.length > 0)
    std::memcpy(t->controlBuffer.data() + LIBUSB_CONTROL_SETUP_SIZE, record + kRecordSize, r.length);
  const uint64_t timeoutMs = std::min<uint64_t>(uint64_t{r.timeoutSeconds} * 1000, 0xFFFFFFFFu);
  libusb_fill_control_transfer(t->transfer, handle_, t->controlBuffer.data(), nullptr, nullptr,
                               static_cast<unsigned>(timeoutMs));
  return Start(std::move(t));
}

std::unique_ptr<PendingIo> LibusbLink::SubmitDirect(uint8_t* record, uint8_t* buffer, size_t length) {
  if (!record || (length > 0 && !buffer) || length > 0x7FFFFFFF)
    return std::make_unique<FailedIo>(kErrInvalidParameter);
  const uint8_t endpoint = record[13];
  const uint8_t type = endpointTypes_[endpoint];
  if (type == kUnknownType || type == kTypeControl || type == kTypeIsochronous)
    return std::make_unique<FailedIo>(kErrInvalidParameter);
  auto t = std::make_unique<LibusbTransfer>();
  t->transfer = libusb_alloc_transfer(0);
  if (!t->transfer) return std::make_unique<FailedIo>(kErrNotEnoughMemory);
  t->kind = LibusbTransfer::Kind::Direct;
  t->record = record;
  t->endpoint = endpoint;
  // No libusb time-out: the caller waits and aborts.
  if (type == kTypeInterrupt)
    libusb_fill_interrupt_transfer(t->transfer, handle_, endpoint, buffer, static_cast<int>(length), nullptr, nullptr,
                                   0);
  else
    libusb_fill_bulk_transfer(t->transfer, handle_, endpoint, buffer, static_cast<int>(length), nullptr, nullptr, 0);
  return Start(std::move(t));
}

std::unique_ptr<PendingIo> LibusbLink::SubmitBuffered(uint8_t* record, size_t recordLength) {
  if (!record || recordLength < kRecordSize) return std::make_unique<FailedIo>(kErrInvalidParameter);
  const RequestRecord r = RequestRecord::Decode(record);
  // The payload must lie inside the record.
  if (r.payloadOffset < kRecordSize || r.payloadOffset > recordLength ||
      r.payloadLength > recordLength - r.payloadOffset || r.payloadLength > 0x7FFFFFFF)
    return std::make_unique<FailedIo>(kErrInvalidParameter);
  const uint8_t type = endpointTypes_[r.endpointAddress];
  if (type == kUnknownType || type == kTypeControl || type == kTypeIsochronous)
    return std::make_unique<FailedIo>(kErrInvalidParameter);
  auto t = std::make_unique<LibusbTransfer>();
  t->transfer = libusb_alloc_transfer(0);
  if (!t->transfer) return std::make_unique<FailedIo>(kErrNotEnoughMemory);
  t->kind = LibusbTransfer::Kind::Buffered;
  t->record = record;
  t->payloadOffset = r.payloadOffset;
  t->endpoint = r.endpointAddress;
  uint8_t* payload = record + r.payloadOffset;
  const int length = static_cast<int>(r.payloadLength);
  if (type == kTypeInterrupt)
    libusb_fill_interrupt_transfer(t->transfer, handle_, t->endpoint, payload, length, nullptr, nullptr, 0);
  else
    libusb_fill_bulk_transfer(t->transfer, handle_, t->endpoint, payload, length, nullptr, nullptr, 0);
  return Start(std::move(t));
}

void LibusbLink::CancelAndWait(bool allEndpoints, uint8_t endpointAddress) {
  std::unique_lock lock(inFlight_->mutex);
  std::vector<uint64_t> cancelled;
  for (auto& [id, t] : inFlight_->transfers) {
    if (!allEndpoints && t->endpoint != endpointAddress) continue;
    libusb_cancel_transfer(t->transfer);
    cancelled.push_back(id);
  }
  inFlight_->completed.wait(lock, [&] {
    return std::none_of(cancelled.begin(), cancelled.end(),
                        [&](uint64_t id) { return inFlight_->transfers.count(id) != 0; });
  });
}

bool LibusbLink::AbortPipe(uint8_t endpointAddress) {
  CancelAndWait(false, endpointAddress);
  return true;
}

bool LibusbLink::ResetPipe(uint8_t endpointAddress) {
  return libusb_clear_halt(handle_, endpointAddress) == LIBUSB_SUCCESS;
}

// libusb sizes each transfer itself; the size is only checked to belong to a real endpoint.
bool LibusbLink::SetTransferSize(uint8_t endpointAddress, uint32_t) {
  return endpointTypes_[endpointAddress] != kUnknownType;
}

bool LibusbLink::ResetPort() { return libusb_reset_device(handle_) == LIBUSB_SUCCESS; }

// libusb has one reset; when the device comes back as a different device
// (new firmware) libusb reports it gone, which is the re-enumeration asked for.
bool LibusbLink::CyclePort() {
  const int rc = libusb_reset_device(handle_);
  return rc == LIBUSB_SUCCESS || rc == LIBUSB_ERROR_NOT_FOUND;
}

uint32_t LibusbLink::LinkSpeed() {
  switch (libusb_get_device_speed(libusb_get_device(handle_))) {
    case LIBUSB_SPEED_FULL: return kLinkFull;
    case LIBUSB_SPEED_HIGH: return kLinkHigh;
    case LIBUSB_SPEED_SUPER:
    case LIBUSB_SPEED_SUPER_PLUS: return kLinkSuper;
    default: return kLinkLowOrUnknown;
  }
}

uint8_t LibusbLink::UsbAddress() { return libusb_get_device_address(libusb_get_device(handle_)); }

uint8_t LibusbLink::CurrentAltSetting() {
  uint8_t alt = 0;
  constexpr uint8_t kInFromInterface = 0x81;
  const int rc =
      libusb_control_transfer(handle_, kInFromInterface, LIBUSB_REQUEST_GET_INTERFACE, 0, 0, &alt, 1, kAltSettingTimeoutMs);
  return rc == 1 ? alt : 0xFF;
}

std::string LibusbLink::DeviceName() {
  libusb_device* device = libusb_get_device(handle_);
  char name[32];
  std::snprintf(name, sizeof name, "/dev/bus/usb/%03u/%03u", libusb_get_bus_number(device),
                libusb_get_device_address(device));
  return name;
}

std::string LibusbLink::FriendlyName() { return "OKCCamera USB device at " + path_; }

uint32_t LibusbLink::DriverVersion() {
  const libusb_version* v = libusb_get_version();
  return static_cast<uint32_t>(v->major) << 24 | static_cast<uint32_t>(v->minor) << 16 | v->micro;
}

uint32_t LibusbLink::BusDriverVersion() { return DriverVersion(); }

std::string LibusbLink::DevicePath() { return path_; }

}  // namespace okc::usb
