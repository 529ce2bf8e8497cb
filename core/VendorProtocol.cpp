// The vendor requests the camera's USB controller understands. Each request
// sets the control endpoint's fields and runs its transfer as one step under
// the device's request lock (shared with the device's own vendor requests), so the capture threads and the host never interleave.
#include <cstring>

#include "core/ControllerRequests.h"
#include "okccamera/CCameraBase.h"
#include "okccamera/CCyUSBEndPoint.h"
#include "okccamera/CUsbDevice.h"

namespace {
namespace controller = okc::core::controller;
constexpr uint32_t kCommandTimeoutMs = 500;
constexpr uint32_t kParameterTimeoutMs = 200;
}  // namespace

bool CCameraBase::VendorTransfer(unsigned char code, unsigned short value, unsigned short index, bool in,
                                 unsigned char* data, uint32_t length, uint32_t timeoutMs, bool keepTimeout,
                                 uint32_t* movedOut) {
  if (movedOut) *movedOut = 0;
  if (!opened || !device || (length > 0 && !data)) return false;
  std::lock_guard lock(device->requestLock);
  CCyControlEndPoint* ep = device->controlEndpoint;
  if (!ep) return false;
  ep->target = 0;
  ep->requestType = 2;
  ep->direction = in ? 1 : 0;
  ep->request = code;
  ep->value = value;
  ep->index = index;
  if (!keepTimeout) ep->timeoutMs = timeoutMs;
  unsigned char none[4] = {};
  uint32_t moved = length;
  const bool ok = ep->Transfer(length ? data : none, moved);
  if (movedOut && ok) *movedOut = moved;
  return ok;
}

bool CCameraBase::SendCMD(unsigned char code) {
  return VendorTransfer(code, 0, 0, false, nullptr, 0, kCommandTimeoutMs, false);
}

bool CCameraBase::SendCMD(unsigned char code, unsigned short value, unsigned short index, bool in,
                          unsigned char* data, long length) {
  if (length < 0 || (length > 0 && !data)) return false;
  return VendorTransfer(code, value, index, in, data, static_cast<uint32_t>(length), kParameterTimeoutMs, false);
}

bool CCameraBase::WriteCameraRegister(unsigned short reg, unsigned short value) {
  return VendorTransfer(controller::kWriteRegister, reg, value, false, nullptr, 0, kParameterTimeoutMs, false);
}

bool CCameraBase::WriteCameraRegisterByte(unsigned short reg, unsigned char value) {
  return VendorTransfer(controller::kWriteRegisterByte, reg, value, false, nullptr, 0, kParameterTimeoutMs, false);
}

bool CCameraBase::ReadCameraRegister(unsigned short reg, unsigned short* value) {
  if (!opened) return false;
  unsigned char bytes[2] = {};
  const bool ok = VendorTransfer(controller::kReadRegister, reg, 0, true, bytes, 2, kParameterTimeoutMs, false);
  if (!ok) bytes[0] = bytes[1] = 0;
  if (value) *value = static_cast<unsigned short>(bytes[0] << 8 | bytes[1]);
  return ok;
}

bool CCameraBase::ReadCameraRegisterByte(unsigned short reg, unsigned char* value) {
  if (!opened) return false;
  unsigned char byte = 0;
  const bool ok = VendorTransfer(controller::kReadRegisterByte, reg, 0, true, &byte, 1, kParameterTimeoutMs, false);
  if (!ok) byte = 0;
  if (value) *value = byte;
  return ok;
}

bool CCameraBase::GetFirmwareVer(unsigned char* version) {
  if (!opened) return false;
  unsigned char bytes[2] = {};
  // Runs with whatever time-out the previous request left on the endpoint.
  const bool ok = VendorTransfer(controller::kFirmwareVersion, 0, 0, true, bytes, 2, 0, true);
  if (version) *version = (ok && bytes[0] == 'V') ? bytes[1] : 1;
  return ok;
}

bool CCameraBase::IsUSB3Host() {
  unsigned char byte = 0;
  return VendorTransfer(controller::kIsUsb3Host, 0, 0, true, &byte, 1, kParameterTimeoutMs, false) && byte == 1;
}

bool CCameraBase::SetTransferCount(unsigned int count) {
  return VendorTransfer(controller::kTransfersPerFrame, static_cast<unsigned short>(count >> 16),
                        static_cast<unsigned short>(count & 0xFFFF), false, nullptr, 0, kParameterTimeoutMs, false);
}
