// Endpoint 0: every control request (the descriptor reads of CUsbDevice and
// the camera's vendor requests) is one record with the payload behind it.
#include <cstring>

#include "okccamera/CCyUSBEndPoint.h"
#include "usb/RequestRecord.h"
#include "usb/TransferErrors.h"

using namespace okc::usb;

namespace {

// The driver counts control time-outs in whole seconds; a short non-zero
// time-out must not become 0, which would mean "no limit".
uint32_t RecordTimeoutSeconds(uint32_t timeoutMs) {
  if (timeoutMs > 0 && timeoutMs < 1000) return 1;
  return timeoutMs / 1000;
}

}  // namespace

CCyControlEndPoint::CCyControlEndPoint(std::shared_ptr<DeviceLink> link, uint32_t maxPacketSize0)
    : CCyUSBEndPoint(std::move(link)) {
  maxPacketSize = maxPacketSize0;
  directMode = false;
}

CCyControlEndPoint::CCyControlEndPoint(std::shared_ptr<DeviceLink> link, const uint8_t* descriptor,
                                       const uint8_t* companion)
    : CCyUSBEndPoint(std::move(link), descriptor, companion) {
  directMode = false;
}

std::unique_ptr<CCyTransferContext> CCyControlEndPoint::StartTransfer(uint8_t* buffer, uint32_t length) {
  // The data stage length is a 16-bit field of the request.
  if (length > 0xFFFF) {
    lastError = kErrInvalidParameter;
    return nullptr;
  }
  isIn = direction != 0;
  auto context = NewContext(kRecordSize + length, buffer, length);
  if (!context) return nullptr;
  RequestRecord r;
  r.requestType = RequestRecord::MakeRequestType(target, requestType, direction ? 1 : 0);
  r.request = request;
  r.value = value;
  r.index = index;
  r.length = static_cast<uint16_t>(length);
  r.timeoutSeconds = RecordTimeoutSeconds(timeoutMs);
  r.endpointAddress = 0;
  r.payloadOffset = kRecordSize;
  r.payloadLength = length;
  r.Encode(context->record_.data());
  if (length) std::memcpy(context->record_.data() + kRecordSize, buffer, length);
  context->payloadOffset_ = kRecordSize;
  context->endpointAddress_ = 0;
  context->in_ = isIn;
  return Submit(Route::Control, std::move(context), buffer);
}
