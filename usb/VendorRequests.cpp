// Vendor requests that address the controller's memory: value and index carry
// the two halves of a 32-bit address.
#include <algorithm>

#include "okccamera/CUsbDevice.h"
#include "usb/TransferErrors.h"

using namespace okc::usb;

namespace {

constexpr uint32_t kMaxPiece = 0xFFFF;  // the data stage length is 16 bits
constexpr uint8_t kBootLoaderRequest = 0xA0;

}  // namespace

bool CUsbDevice::VendorTransfer(uint8_t request, uint32_t address, uint32_t length, uint8_t* buffer, bool in,
                                uint32_t& moved) {
  moved = 0;
  if (!link_ || !controlEndpoint) {
    lastError = kErrInvalidHandle;
    return false;
  }
  if (length > 0 && !buffer) {
    lastError = kErrInvalidParameter;
    return false;
  }
  std::lock_guard lock(requestLock);
  CCyControlEndPoint* ep = controlEndpoint;
  ep->target = 0;
  ep->requestType = 2;
  ep->direction = in ? 1 : 0;
  ep->request = request;
  ep->value = static_cast<uint16_t>(address & 0xFFFF);
  ep->index = static_cast<uint16_t>(address >> 16);

  uint32_t offset = 0;
  do {
    const uint32_t piece = std::min(length - offset, kMaxPiece);
    uint8_t none = 0;
    uint32_t pieceMoved = piece;
    if (!ep->Transfer(piece ? buffer + offset : &none, pieceMoved)) {
      lastError = ep->lastError;
      return false;
    }
    moved += pieceMoved;
    offset += piece;
  } while (offset < length);
  lastError = kErrNone;
  return true;
}

bool CUsbDevice::VendorRequest(uint8_t request, uint32_t address, uint32_t length, uint8_t* buffer, bool in) {
  uint32_t moved = 0;
  return VendorTransfer(request, address, length, buffer, in, moved);
}

bool CUsbDevice::WriteMemory(uint32_t address, uint32_t length, uint8_t* buffer, uint8_t request) {
  return VendorRequest(request, address, length, buffer, false);
}

bool CUsbDevice::ReadMemory(uint32_t address, uint32_t length, uint8_t* buffer, uint8_t request) {
  return VendorRequest(request, address, length, buffer, true);
}

bool CUsbDevice::ProbeBootLoader() {
  uint8_t answer = 0;
  uint32_t moved = 0;
  return VendorTransfer(kBootLoaderRequest, 0, 1, &answer, true, moved) && moved == 1;
}
