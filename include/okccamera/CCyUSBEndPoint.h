// The endpoints of an opened camera and the transfers that run on them.
//
// CUsbDevice builds these when it opens a device: the control endpoint (0) and
// one object per endpoint descriptor of the selected interface. Every transfer
// builds the 38-byte request record and hands it to the device's DeviceLink.
//
// A transfer in flight is a CCyTransferContext. It stands for the overlapped
// request of a kernel driver: it owns the request record (with its payload or
// packet table) and the pending request with its completion signal, so the
// start, wait and completion calls take only the context.
//
//   auto ctx = ep->StartTransfer(buffer, length);     // queued; null: nothing started
//   if (ep->WaitTransfer(ctx, 500)) ...                // completion signalled?
//   ep->CompleteTransfer(buffer, length, ctx);         // actual length; releases ctx
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "okccamera/UsbDriver.h"

class CCyUSBEndPoint;
class CCyControlEndPoint;
class CCyIsocEndPoint;

// One transfer in flight: the request record and the pending request.
class CCyTransferContext {
 public:
  // A transfer still in flight is withdrawn first, so the driver never
  // writes into a released record or buffer.
  ~CCyTransferContext();
  CCyTransferContext(const CCyTransferContext&) = delete;
  CCyTransferContext& operator=(const CCyTransferContext&) = delete;

  // Completed (successfully or not)?
  bool IsDone() const;
  uint8_t EndpointAddress() const { return endpointAddress_; }
  // The request record as handed to the driver, followed by payload or packet table.
  const std::vector<uint8_t>& Record() const { return record_; }

 private:
  friend class CCyUSBEndPoint;
  friend class CCyControlEndPoint;
  friend class CCyIsocEndPoint;
  CCyTransferContext() = default;

  // Declared in this order so the pending request goes first, then the record, then the link.
  std::shared_ptr<okc::usb::DeviceLink> link_;
  std::vector<uint8_t> record_;
  std::unique_ptr<okc::usb::PendingIo> io_;
  uint32_t startError_ = 0;      // kErrIoPending when it was still running after the start
  uint32_t length_ = 0;          // payload length asked for
  uint32_t payloadOffset_ = 0;   // where the payload sits in the record (0: caller's buffer)
  uint32_t packetTableOffset_ = 0;
  uint32_t packetTableLength_ = 0;
  uint8_t endpointAddress_ = 0;
  bool direct_ = false;
  bool in_ = false;
};

// Common part of every endpoint. Abstract: the start of a transfer depends on the kind.
class CCyUSBEndPoint {
 public:
  virtual ~CCyUSBEndPoint();
  CCyUSBEndPoint(const CCyUSBEndPoint&) = delete;
  CCyUSBEndPoint& operator=(const CCyUSBEndPoint&) = delete;

  // Slot 0: payload moves straight between `buffer` and the driver (no copy).
  virtual std::unique_ptr<CCyTransferContext> StartDirectTransfer(uint8_t* buffer, uint32_t length);
  // Slot 1: payload travels inside the request record.
  virtual std::unique_ptr<CCyTransferContext> StartBufferedTransfer(uint8_t* buffer, uint32_t length);
  // Slot 2: the form this kind of endpoint uses. Null: nothing was started (see lastError).
  virtual std::unique_ptr<CCyTransferContext> StartTransfer(uint8_t* buffer, uint32_t length) = 0;
  // Slot 3: collects the result without waiting. `length` in: room in `buffer`;
  // out: bytes transferred. Releases the context once the transfer has
  // completed; a transfer still running is left to the caller (false,
  // lastError 996). True when the request succeeded with both status words 0.
  virtual bool CompleteTransfer(uint8_t* buffer, uint32_t& length, std::unique_ptr<CCyTransferContext>& context,
                                uint8_t* packetTable = nullptr);

  // Synchronous transfer: start, wait timeoutMs (aborting the pipe when it
  // expires), complete. True only if the wait and the completion succeeded.
  bool Transfer(uint8_t* buffer, uint32_t& length, uint8_t* packetTable = nullptr);
  // True when the transfer has completed within timeoutMs (kInfinite: no limit);
  // false on time-out (it stays pending) or when its start failed.
  bool WaitTransfer(const CCyTransferContext* context, uint32_t timeoutMs);
  bool WaitTransfer(const std::unique_ptr<CCyTransferContext>& context, uint32_t timeoutMs) {
    return WaitTransfer(context.get(), timeoutMs);
  }
  // Cancels every pending transfer of this endpoint and returns once they have ended. Always true.
  bool AbortPipe();
  // Clears a halted endpoint.
  bool ResetPipe();
  // Tells the driver the transfer size, rounded up to whole packets. Nothing
  // happens on a closed device or when maxPacketSize is 0.
  void SetTransferSize(uint32_t bytes);
  // Has a driver link (the device is open)?
  bool IsOpen() const { return link_ != nullptr; }

  // The endpoint descriptor.
  uint8_t descriptorLength = 0;
  uint8_t descriptorType = 0;
  uint8_t address = 0;     // bit 7 set: IN
  uint8_t attributes = 0;  // low two bits: 0 control, 1 isochronous, 2 bulk, 3 interrupt
  // Bytes per service interval: packet size times packets per microframe
  // (times burst, and isochronous multiplier, on SuperSpeed).
  uint32_t maxPacketSize = 0;
  uint16_t packetsPerMicroframe = 0;
  uint8_t interval = 0;
  // The SuperSpeed endpoint companion descriptor, or zeros.
  uint8_t companionLength = 0;
  uint8_t companionType = 0;
  uint8_t maxBurst = 0;
  uint8_t companionAttributes = 0;
  uint16_t bytesPerInterval = 0;

  uint32_t timeoutMs = 10000;  // wait limit of Transfer
  // Outcome of the last completed transfer or request (written by whichever thread completed last).
  std::atomic<uint32_t> usbdStatus{0};
  std::atomic<uint32_t> ntStatus{0};
  std::atomic<uint32_t> bytesTransferred{0};
  std::atomic<uint32_t> lastError{0};  // okc::usb::UsbError numbers; 997 = still pending
  bool isIn = false;
  bool directMode = true;

 protected:
  explicit CCyUSBEndPoint(std::shared_ptr<okc::usb::DeviceLink> link);
  // `descriptor`: an endpoint descriptor of at least 7 bytes; `companion`: a
  // SuperSpeed companion descriptor of at least 6 bytes, or null.
  CCyUSBEndPoint(std::shared_ptr<okc::usb::DeviceLink> link, const uint8_t* descriptor, const uint8_t* companion);

  enum class Route { Control, Direct, Buffered };
  // Hands a finished record to the driver and wraps the pending request.
  std::unique_ptr<CCyTransferContext> Submit(Route route, std::unique_ptr<CCyTransferContext> context,
                                             uint8_t* buffer);
  // A context with a zeroed record of `recordSize` bytes; null (lastError set) when the
  // device is closed, the buffer is missing or the memory cannot be had.
  std::unique_ptr<CCyTransferContext> NewContext(uint64_t recordSize, const uint8_t* buffer, uint32_t length);

  std::shared_ptr<okc::usb::DeviceLink> link_;

 private:
  // Waits for a synchronous transfer, aborting the pipe when timeoutMs runs out.
  bool WaitWithAbort(CCyTransferContext& context);
};

// Endpoint 0: vendor and standard requests.
class CCyControlEndPoint : public CCyUSBEndPoint {
 public:
  CCyControlEndPoint(std::shared_ptr<okc::usb::DeviceLink> link, uint32_t maxPacketSize0);
  CCyControlEndPoint(std::shared_ptr<okc::usb::DeviceLink> link, const uint8_t* descriptor, const uint8_t* companion);

  // Builds the control record from the fields below with `buffer` behind it (at most 65535 bytes).
  std::unique_ptr<CCyTransferContext> StartTransfer(uint8_t* buffer, uint32_t length) override;

  // The next control request.
  uint8_t target = 0;       // recipient: 0 device, 1 interface, 2 endpoint, 3 other
  uint8_t requestType = 2;  // 0 standard, 1 class, 2 vendor
  uint8_t direction = 0;    // 0 host to device, 1 device to host
  uint8_t request = 0;
  uint16_t value = 0;
  uint16_t index = 0;
};

class CCyBulkEndPoint : public CCyUSBEndPoint {
 public:
  CCyBulkEndPoint(std::shared_ptr<okc::usb::DeviceLink> link, const uint8_t* descriptor, const uint8_t* companion);
  std::unique_ptr<CCyTransferContext> StartTransfer(uint8_t* buffer, uint32_t length) override;
};

class CCyInterruptEndPoint : public CCyUSBEndPoint {
 public:
  CCyInterruptEndPoint(std::shared_ptr<okc::usb::DeviceLink> link, const uint8_t* descriptor,
                       const uint8_t* companion);
  std::unique_ptr<CCyTransferContext> StartTransfer(uint8_t* buffer, uint32_t length) override;
};

// Isochronous: the record carries a packet table of 8 bytes per packet.
class CCyIsocEndPoint : public CCyUSBEndPoint {
 public:
  CCyIsocEndPoint(std::shared_ptr<okc::usb::DeviceLink> link, const uint8_t* descriptor, const uint8_t* companion);
  // Both start nothing (null) when `length` makes no packet or maxPacketSize is 0.
  std::unique_ptr<CCyTransferContext> StartDirectTransfer(uint8_t* buffer, uint32_t length) override;
  std::unique_ptr<CCyTransferContext> StartBufferedTransfer(uint8_t* buffer, uint32_t length) override;
  std::unique_ptr<CCyTransferContext> StartTransfer(uint8_t* buffer, uint32_t length) override;

 private:
  // Packets for `length` bytes, 0 when nothing can be started.
  uint32_t PacketCount(uint32_t length) const;
};
