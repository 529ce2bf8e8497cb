// The 38-byte request record that travels with every transfer across the
// driver seam (little-endian, packed). Control requests use bytes 0 to 11;
// other transfers leave them 0 and name their endpoint at byte 13.
//
//  off size field
//   0   1   request type: bits 0-4 recipient, 5-6 type, 7 direction (1 = IN)
//   1   1   request
//   2   2   value
//   4   2   index
//   6   2   length of the data stage
//   8   4   time-out in seconds
//  12   1   reserved, 0
//  13   1   endpoint address
//  14   4   NT status (returned)
//  18   4   USBD status (returned)
//  22   4   offset of the isochronous packet table
//  26   4   length of the packet table
//  30   4   offset of the payload
//  34   4   length of the payload
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace okc::usb {

constexpr size_t kRecordSize = 38;

struct RequestRecord {
  uint8_t requestType = 0;
  uint8_t request = 0;
  uint16_t value = 0;
  uint16_t index = 0;
  uint16_t length = 0;
  uint32_t timeoutSeconds = 0;
  uint8_t reserved = 0;
  uint8_t endpointAddress = 0;
  uint32_t ntStatus = 0;
  uint32_t usbdStatus = 0;
  uint32_t packetTableOffset = 0;
  uint32_t packetTableLength = 0;
  uint32_t payloadOffset = 0;
  uint32_t payloadLength = 0;

  bool IsIn() const { return (requestType & 0x80) != 0; }
  uint8_t Recipient() const { return requestType & 0x1F; }
  uint8_t Type() const { return (requestType >> 5) & 0x03; }

  static uint8_t MakeRequestType(uint8_t target, uint8_t type, uint8_t directionIn) {
    return static_cast<uint8_t>((target & 0x1F) | ((type & 0x03) << 5) | ((directionIn & 1) << 7));
  }

  // Writes the record into out[0..37].
  void Encode(uint8_t* out) const {
    out[0] = requestType;
    out[1] = request;
    Put16(out + 2, value);
    Put16(out + 4, index);
    Put16(out + 6, length);
    Put32(out + 8, timeoutSeconds);
    out[12] = reserved;
    out[13] = endpointAddress;
    Put32(out + 14, ntStatus);
    Put32(out + 18, usbdStatus);
    Put32(out + 22, packetTableOffset);
    Put32(out + 26, packetTableLength);
    Put32(out + 30, payloadOffset);
    Put32(out + 34, payloadLength);
  }

  // Reads a record from in[0..37].
  static RequestRecord Decode(const uint8_t* in) {
    RequestRecord r;
    r.requestType = in[0];
    r.request = in[1];
    r.value = Get16(in + 2);
    r.index = Get16(in + 4);
    r.length = Get16(in + 6);
    r.timeoutSeconds = Get32(in + 8);
    r.reserved = in[12];
    r.endpointAddress = in[13];
    r.ntStatus = Get32(in + 14);
    r.usbdStatus = Get32(in + 18);
    r.packetTableOffset = Get32(in + 22);
    r.packetTableLength = Get32(in + 26);
    r.payloadOffset = Get32(in + 30);
    r.payloadLength = Get32(in + 34);
    return r;
  }

  // The backend writes the two returned status words back into the caller's record.
  static void StoreStatus(uint8_t* record, uint32_t ntStatus, uint32_t usbdStatus) {
    Put32(record + 14, ntStatus);
    Put32(record + 18, usbdStatus);
  }

  static void Put16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
  }
  static void Put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
  }
  static uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
  static uint32_t Get32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
  }
};

}  // namespace okc::usb
