// Isochronous endpoints: the record carries a packet table (8 bytes per
// packet) that the driver fills with each packet's length and status. No
// camera streams isochronously; the records are built all the same.
#include <cstring>

#include "okccamera/CCyUSBEndPoint.h"
#include "usb/RequestRecord.h"
#include "usb/TransferErrors.h"

using namespace okc::usb;

namespace {
constexpr uint32_t kPacketEntrySize = 8;
}  // namespace

CCyIsocEndPoint::CCyIsocEndPoint(std::shared_ptr<DeviceLink> link, const uint8_t* descriptor,
                                 const uint8_t* companion)
    : CCyUSBEndPoint(std::move(link), descriptor, companion) {}

uint32_t CCyIsocEndPoint::PacketCount(uint32_t length) const {
  if (maxPacketSize == 0) return 0;
  return static_cast<uint32_t>((static_cast<uint64_t>(length) + maxPacketSize - 1) / maxPacketSize);
}

std::unique_ptr<CCyTransferContext> CCyIsocEndPoint::StartDirectTransfer(uint8_t* buffer, uint32_t length) {
  const uint32_t packets = PacketCount(length);
  if (packets == 0) {
    lastError = kErrInvalidParameter;
    return nullptr;
  }
  const uint64_t table = uint64_t{packets} * kPacketEntrySize;
  auto context = NewContext(kRecordSize + table, buffer, length);
  if (!context) return nullptr;
  RequestRecord r;
  r.endpointAddress = address;
  r.packetTableOffset = kRecordSize;
  r.packetTableLength = static_cast<uint32_t>(table);
  r.Encode(context->record_.data());
  context->packetTableOffset_ = kRecordSize;
  context->packetTableLength_ = static_cast<uint32_t>(table);
  context->direct_ = true;
  context->in_ = isIn;
  return Submit(Route::Direct, std::move(context), buffer);
}

std::unique_ptr<CCyTransferContext> CCyIsocEndPoint::StartBufferedTransfer(uint8_t* buffer, uint32_t length) {
  const uint32_t packets = PacketCount(length);
  if (packets == 0) {
    lastError = kErrInvalidParameter;
    return nullptr;
  }
  const uint64_t table = uint64_t{packets} * kPacketEntrySize;
  auto context = NewContext(kRecordSize + table + length, buffer, length);
  if (!context) return nullptr;
  RequestRecord r;
  r.endpointAddress = address;
  r.packetTableOffset = kRecordSize;
  r.packetTableLength = static_cast<uint32_t>(table);
  r.payloadOffset = static_cast<uint32_t>(kRecordSize + table);
  r.payloadLength = length;
  r.Encode(context->record_.data());
  if (length) std::memcpy(context->record_.data() + kRecordSize + table, buffer, length);
  context->packetTableOffset_ = kRecordSize;
  context->packetTableLength_ = static_cast<uint32_t>(table);
  context->payloadOffset_ = static_cast<uint32_t>(kRecordSize + table);
  context->in_ = isIn;
  return Submit(Route::Buffered, std::move(context), buffer);
}

std::unique_ptr<CCyTransferContext> CCyIsocEndPoint::StartTransfer(uint8_t* buffer, uint32_t length) {
  return directMode ? StartDirectTransfer(buffer, length) : StartBufferedTransfer(buffer, length);
}
