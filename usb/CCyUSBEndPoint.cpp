// Common endpoint behaviour: direct and buffered starts, completion, the
// synchronous transfer with its abort on time-out, and the pipe requests.
// Bulk and interrupt endpoints only choose between the two start forms.
#include "okccamera/CCyUSBEndPoint.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

#include "usb/RequestRecord.h"
#include "usb/TransferErrors.h"

using namespace okc::usb;

namespace {

// Extra wait after the first abort before the pipe is aborted again.
constexpr uint32_t kAbortGraceMs = 50;

uint16_t Read16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

}  // namespace

// ---- CCyTransferContext ----

// A request still in flight is withdrawn by the backend when its PendingIo
// goes; the members are destroyed pending request first, so the record and
// the link outlive it.
CCyTransferContext::~CCyTransferContext() = default;

bool CCyTransferContext::IsDone() const { return !io_ || io_->IsDone(); }

// ---- CCyUSBEndPoint ----

CCyUSBEndPoint::CCyUSBEndPoint(std::shared_ptr<DeviceLink> link) : link_(std::move(link)) {}

CCyUSBEndPoint::CCyUSBEndPoint(std::shared_ptr<DeviceLink> link, const uint8_t* descriptor, const uint8_t* companion)
    : link_(std::move(link)) {
  descriptorLength = descriptor[0];
  descriptorType = descriptor[1];
  address = descriptor[2];
  attributes = descriptor[3];
  const uint16_t wMaxPacketSize = Read16(descriptor + 4);
  interval = descriptor[6];
  packetsPerMicroframe = static_cast<uint16_t>(((wMaxPacketSize >> 11) & 3) + 1);
  maxPacketSize = static_cast<uint32_t>(wMaxPacketSize & 0x7FF) * packetsPerMicroframe;
  if (companion) {
    companionLength = companion[0];
    companionType = companion[1];
    maxBurst = companion[2];
    companionAttributes = companion[3];
    bytesPerInterval = Read16(companion + 4);
    maxPacketSize *= static_cast<uint32_t>(maxBurst) + 1;
    if ((attributes & 3) == 1) maxPacketSize *= static_cast<uint32_t>(companionAttributes & 3) + 1;
  }
  isIn = (address & 0x80) != 0;
}

CCyUSBEndPoint::~CCyUSBEndPoint() = default;

std::unique_ptr<CCyTransferContext> CCyUSBEndPoint::NewContext(uint64_t recordSize, const uint8_t* buffer,
                                                               uint32_t length) {
  if (!link_) {
    lastError = kErrInvalidHandle;
    return nullptr;
  }
  if (length > 0 && !buffer) {
    lastError = kErrInvalidParameter;
    return nullptr;
  }
  // Record sizes are computed in 64 bits so a huge length cannot wrap on 32-bit hosts.
  std::unique_ptr<CCyTransferContext> context(new (std::nothrow) CCyTransferContext);
  if (!context || recordSize > std::numeric_limits<uint32_t>::max()) {
    lastError = kErrNotEnoughMemory;
    return nullptr;
  }
  try {
    context->record_.assign(static_cast<size_t>(recordSize), 0);
  } catch (const std::exception&) {
    lastError = kErrNotEnoughMemory;
    return nullptr;
  }
  context->link_ = link_;
  context->length_ = length;
  context->endpointAddress_ = address;
  return context;
}

std::unique_ptr<CCyTransferContext> CCyUSBEndPoint::Submit(Route route, std::unique_ptr<CCyTransferContext> context,
                                                           uint8_t* buffer) {
  uint8_t* record = context->record_.data();
  const size_t recordLength = context->record_.size();
  switch (route) {
    case Route::Control:
      context->io_ = link_->SubmitControl(record, recordLength);
      break;
    case Route::Direct:
      context->io_ = link_->SubmitDirect(record, buffer, context->length_);
      break;
    case Route::Buffered:
      context->io_ = link_->SubmitBuffered(record, recordLength);
      break;
  }
  if (!context->io_) {
    lastError = kErrGenFailure;
    return nullptr;
  }
  if (context->io_->IsDone()) {
    const IoResult result = context->io_->Result();
    context->startError_ = result.ok ? kErrNone : (result.error ? result.error : kErrGenFailure);
  } else {
    context->startError_ = kErrIoPending;
  }
  lastError = context->startError_;
  return context;
}

std::unique_ptr<CCyTransferContext> CCyUSBEndPoint::StartDirectTransfer(uint8_t* buffer, uint32_t length) {
  auto context = NewContext(kRecordSize, buffer, length);
  if (!context) return nullptr;
  RequestRecord r;
  r.endpointAddress = address;
  r.Encode(context->record_.data());
  context->direct_ = true;
  context->in_ = isIn;
  return Submit(Route::Direct, std::move(context), buffer);
}

std::unique_ptr<CCyTransferContext> CCyUSBEndPoint::StartBufferedTransfer(uint8_t* buffer, uint32_t length) {
  auto context = NewContext(uint64_t{kRecordSize} + length, buffer, length);
  if (!context) return nullptr;
  RequestRecord r;
  r.endpointAddress = address;
  r.payloadOffset = kRecordSize;
  r.payloadLength = length;
  r.Encode(context->record_.data());
  if (length) std::memcpy(context->record_.data() + kRecordSize, buffer, length);
  context->payloadOffset_ = kRecordSize;
  context->in_ = isIn;
  return Submit(Route::Buffered, std::move(context), buffer);
}

bool CCyUSBEndPoint::CompleteTransfer(uint8_t* buffer, uint32_t& length, std::unique_ptr<CCyTransferContext>& context,
                                      uint8_t* packetTable) {
  if (!context) {
    lastError = kErrInvalidParameter;
    length = 0;
    return false;
  }
  CCyTransferContext& c = *context;
  if (!c.io_->IsDone()) {
    lastError = kErrIoIncomplete;
    length = 0;
    return false;
  }
  const IoResult result = c.io_->Result();
  const RequestRecord returned = RequestRecord::Decode(c.record_.data());

  // Payload bytes: what the driver returned beyond the payload offset, never
  // more than was asked for, whatever the driver claims.
  uint32_t moved = result.bytesReturned > c.payloadOffset_ ? result.bytesReturned - c.payloadOffset_ : 0;
  moved = std::min(moved, c.length_);
  if (c.in_ && !c.direct_ && moved > 0) {
    moved = std::min(moved, length);
    if (buffer) std::memcpy(buffer, c.record_.data() + c.payloadOffset_, moved);
  }
  if (packetTable && moved > 0 && c.packetTableLength_ > 0)
    std::memcpy(packetTable, c.record_.data() + c.packetTableOffset_, c.packetTableLength_);

  bytesTransferred = moved;
  usbdStatus = returned.usbdStatus;
  ntStatus = returned.ntStatus;
  const bool ok = result.ok && returned.usbdStatus == 0 && returned.ntStatus == 0;
  lastError = ok ? kErrNone : (result.ok ? kErrGenFailure : (result.error ? result.error : kErrGenFailure));
  length = moved;
  context.reset();
  return ok;
}

bool CCyUSBEndPoint::WaitTransfer(const CCyTransferContext* context, uint32_t timeoutMs) {
  if (!context || !context->io_) return false;
  if (context->startError_ != kErrIoPending) return context->startError_ == kErrNone;
  return context->io_->Wait(timeoutMs);
}

bool CCyUSBEndPoint::WaitWithAbort(CCyTransferContext& context) {
  if (context.startError_ != kErrIoPending) return context.startError_ == kErrNone;
  if (context.io_->Wait(timeoutMs)) return true;
  AbortPipe();
  if (context.io_->Wait(kAbortGraceMs)) return true;
  AbortPipe();
  return context.io_->Wait(kInfinite);
}

bool CCyUSBEndPoint::Transfer(uint8_t* buffer, uint32_t& length, uint8_t* packetTable) {
  auto context = StartTransfer(buffer, length);
  if (!context) {
    length = 0;
    return false;
  }
  const bool waited = WaitWithAbort(*context);
  const uint32_t waitError = lastError;
  const bool completed = CompleteTransfer(buffer, length, context, packetTable);
  if (!waited && completed) lastError = waitError;
  return waited && completed;
}

bool CCyUSBEndPoint::AbortPipe() {
  if (!link_) {
    lastError = kErrInvalidHandle;
    return true;
  }
  lastError = link_->AbortPipe(address) ? kErrNone : kErrGenFailure;
  return true;
}

bool CCyUSBEndPoint::ResetPipe() {
  if (!link_) {
    lastError = kErrInvalidHandle;
    return false;
  }
  const bool ok = link_->ResetPipe(address);
  lastError = ok ? kErrNone : kErrGenFailure;
  return ok;
}

void CCyUSBEndPoint::SetTransferSize(uint32_t bytes) {
  if (!link_ || maxPacketSize == 0) return;
  const uint64_t packets = (static_cast<uint64_t>(bytes) + maxPacketSize - 1) / maxPacketSize;
  uint64_t size = packets * maxPacketSize;
  // Rounding up past 4 GiB: the largest whole number of packets that fits.
  if (size > std::numeric_limits<uint32_t>::max()) size -= maxPacketSize;
  lastError = link_->SetTransferSize(address, static_cast<uint32_t>(size)) ? kErrNone : kErrGenFailure;
}

// ---- bulk and interrupt ----

CCyBulkEndPoint::CCyBulkEndPoint(std::shared_ptr<DeviceLink> link, const uint8_t* descriptor,
                                 const uint8_t* companion)
    : CCyUSBEndPoint(std::move(link), descriptor, companion) {}

std::unique_ptr<CCyTransferContext> CCyBulkEndPoint::StartTransfer(uint8_t* buffer, uint32_t length) {
  return directMode ? StartDirectTransfer(buffer, length) : StartBufferedTransfer(buffer, length);
}

CCyInterruptEndPoint::CCyInterruptEndPoint(std::shared_ptr<DeviceLink> link, const uint8_t* descriptor,
                                           const uint8_t* companion)
    : CCyUSBEndPoint(std::move(link), descriptor, companion) {}

std::unique_ptr<CCyTransferContext> CCyInterruptEndPoint::StartTransfer(uint8_t* buffer, uint32_t length) {
  return directMode ? StartDirectTransfer(buffer, length) : StartBufferedTransfer(buffer, length);
}
