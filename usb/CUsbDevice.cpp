// Finding, opening and closing a camera's USB device: its descriptors,
// identity strings, configurations and endpoints.
#include "okccamera/CUsbDevice.h"

#include <algorithm>

#include "platform/MessageBox.h"
#include "usb/CCyUSBBOS.h"
#include "usb/CCyUSBConfig.h"
#include "usb/SharedDriver.h"

using namespace okc::usb;

namespace {

constexpr uint8_t kGetDescriptor = 6;
constexpr uint8_t kTypeDevice = 1;
constexpr uint8_t kTypeConfiguration = 2;
constexpr uint8_t kTypeString = 3;
constexpr uint8_t kTypeBos = 15;
constexpr uint32_t kDescriptorTimeoutMs = 5000;
constexpr uint16_t kUsEnglish = 0x0409;
constexpr size_t kMaxStringChars = 256;
constexpr size_t kMaxNameChars = 255;

constexpr uint32_t kLinkHighSpeed = 2;
constexpr uint32_t kLinkSuperSpeed = 4;

uint16_t Read16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

bool IsUsb3(uint16_t bcdUsb) { return bcdUsb >= 0x0300; }

}  // namespace

CUsbDevice::CUsbDevice(void* window, UsbDeviceClass classOfDevice, bool openAtOnce)
    : windowHandle(window), deviceClass(classOfDevice), driver_(SharedActiveDriver()) {
  if (openAtOnce) OpenDevice(0);
}

CUsbDevice::~CUsbDevice() { CloseDevice(); }

uint8_t CUsbDevice::CountDevices() {
  const int count = driver_ ? driver_->CountDevices(deviceClass) : 0;
  deviceCount = static_cast<uint8_t>(std::clamp(count, 0, 255));
  return deviceCount;
}

bool CUsbDevice::OpenDevice(uint8_t n) {
  CloseDevice();
  ClearIdentity();
  const uint8_t count = CountDevices();
  if (count == 0 || n >= count) {
    lastError = kErrNoMoreItems;
    return false;
  }
  uint32_t error = kErrNone;
  std::unique_ptr<DeviceLink> link = driver_->Open(deviceClass, n, &error);
  if (!link) {
    lastError = error != kErrNone ? error : kErrGenFailure;
    deviceNumber = 0;
    return false;
  }
  link_ = std::move(link);
  devicePath = link_->DevicePath().substr(0, kMaxNameChars);
  deviceNumber = n;

  if (!ReadDeviceDescriptor()) {
    CloseDevice();
    return false;
  }
  ReadLanguageAndStrings();
  if (IsUsb3(bcdUsb) && !ReadBos()) {
    okc::platform::ShowMessageBox("Please correct firmware BOS descriptor table", "Wrong BOS Descriptor");
    CloseDevice();
    return false;
  }
  ReadDriverInfo();
  for (uint8_t i = 0; i < std::min<uint8_t>(configurationCount, 2); ++i) {
    if (!BuildConfiguration(i)) {
      okc::platform::ShowMessageBox("Please correct firmware descriptor table", "Wrong Device Configuration");
      CloseDevice();
      return false;
    }
  }
  controlEndpointOwner_ = std::make_unique<CCyControlEndPoint>(link_, maxPacketSize0);
  controlEndpoint = controlEndpointOwner_.get();
  SelectInterface();
  return true;
}

void CUsbDevice::CloseDevice() {
  endpoints = nullptr;
  isocInEndpoint = isocOutEndpoint = nullptr;
  bulkInEndpoint = bulkOutEndpoint = nullptr;
  interruptInEndpoint = interruptOutEndpoint = nullptr;
  controlEndpoint = nullptr;
  controlEndpointOwner_.reset();
  for (auto& config : configurations) config.reset();
  usb3Capability.reset();
  bosDescriptor.clear();
  // Transfers still in flight keep the link alive until they have ended.
  link_.reset();
}

void CUsbDevice::ClearIdentity() {
  languageId = 0;
  manufacturer.clear();
  product.clear();
  serialNumber.clear();
  deviceName.clear();
  friendlyName.clear();
  devicePath.clear();
  bcdUsb = vendorId = productId = bcdDevice = 0;
  usbAddress = deviceClassCode = deviceSubClass = deviceProtocol = 0;
  interfaceClass = interfaceSubClass = interfaceProtocol = 0;
  maxPacketSize0 = 0;
  driverVersion = busDriverVersion = 0;
  highSpeed = superSpeed = false;
  std::fill(std::begin(deviceDescriptor), std::end(deviceDescriptor), 0);
  interfaceCount = altSettingCount = configurationCount = 0;
  configurationNumber = interfaceNumber = altSettingNumber = 0;
}

bool CUsbDevice::CyclePort() {
  if (!link_) {
    lastError = kErrInvalidHandle;
    return false;
  }
  const bool ok = link_->CyclePort();
  lastError = ok ? kErrNone : kErrGenFailure;
  return ok;
}

bool CUsbDevice::ResetPort() {
  if (!link_) {
    lastError = kErrInvalidHandle;
    return false;
  }
  const bool ok = link_->ResetPort();
  lastError = ok ? kErrNone : kErrGenFailure;
  return ok;
}

uint8_t CUsbDevice::EndPointCount() const {
  if (!endpoints) return controlEndpoint ? 1 : 0;
  uint8_t count = 0;
  while (count < kEndpointSlots && endpoints[count]) ++count;
  return count;
}

// ---- descriptors ----

bool CUsbDevice::GetDescriptor(uint8_t type, uint8_t index, uint16_t languageIndex, uint8_t* buffer,
                               uint32_t length) {
  CCyControlEndPoint ep(link_, maxPacketSize0);
  ep.target = 0;
  ep.requestType = 0;
  ep.direction = 1;
  ep.request = kGetDescriptor;
  ep.value = static_cast<uint16_t>(type << 8 | index);
  ep.index = languageIndex;
  ep.timeoutMs = kDescriptorTimeoutMs;
  uint32_t moved = length;
  const bool ok = ep.Transfer(buffer, moved);
  usbdStatus = ep.usbdStatus;
  ntStatus = ep.ntStatus;
  bytesReturned = moved;
  lastError = ep.lastError;
  return ok && moved == length;
}

bool CUsbDevice::ReadDeviceDescriptor() {
  uint8_t* d = deviceDescriptor;
  if (!GetDescriptor(kTypeDevice, 0, 0, d, sizeof deviceDescriptor)) return false;
  if (d[0] < sizeof deviceDescriptor || d[1] != kTypeDevice) return false;
  bcdUsb = Read16(d + 2);
  deviceClassCode = d[4];
  deviceSubClass = d[5];
  deviceProtocol = d[6];
  // SuperSpeed devices give the control packet size as a power of two.
  if (IsUsb3(bcdUsb)) {
    if (d[7] > 15) return false;
    maxPacketSize0 = 1u << d[7];
  } else {
    maxPacketSize0 = d[7];
  }
  vendorId = Read16(d + 8);
  productId = Read16(d + 10);
  bcdDevice = Read16(d + 12);
  configurationCount = d[17];
  return true;
}

std::u16string CUsbDevice::ReadString(uint8_t index) {
  uint8_t header[2] = {};
  if (!GetDescriptor(kTypeString, index, languageId, header, sizeof header)) return {};
  const uint8_t length = header[0];
  if (length < 2 || header[1] != kTypeString) return {};
  uint8_t whole[255] = {};
  if (!GetDescriptor(kTypeString, index, languageId, whole, length)) return {};
  std::u16string text;
  for (size_t i = 2; i + 1 < length && text.size() < kMaxStringChars; i += 2) text.push_back(Read16(whole + i));
  return text;
}

void CUsbDevice::ReadLanguageAndStrings() {
  // String descriptor 0 lists the languages; its "characters" are language IDs.
  const std::u16string languages = ReadString(0);
  if (std::find(languages.begin(), languages.end(), kUsEnglish) != languages.end())
    languageId = kUsEnglish;
  else
    languageId = languages.empty() ? 0 : languages.front();
  // Index 0 means the device has no such string.
  if (deviceDescriptor[14]) manufacturer = ReadString(deviceDescriptor[14]);
  if (deviceDescriptor[15]) product = ReadString(deviceDescriptor[15]);
  if (deviceDescriptor[16]) serialNumber = ReadString(deviceDescriptor[16]);
}

bool CUsbDevice::ReadBos() {
  uint8_t header[5] = {};
  if (!GetDescriptor(kTypeBos, 0, 0, header, sizeof header)) return false;
  const uint16_t total = Read16(header + 2);
  if (total < sizeof header) return false;
  bosDescriptor.assign(total, 0);
  if (!GetDescriptor(kTypeBos, 0, 0, bosDescriptor.data(), total)) return false;
  usb3Capability = CCyUSBBOS::Build(bosDescriptor.data(), bosDescriptor.size());
  return usb3Capability != nullptr;
}

void CUsbDevice::ReadDriverInfo() {
  usbAddress = link_->UsbAddress();
  deviceName = link_->DeviceName().substr(0, kMaxNameChars);
  friendlyName = link_->FriendlyName().substr(0, kMaxNameChars);
  driverVersion = link_->DriverVersion();
  busDriverVersion = link_->BusDriverVersion();
  const uint32_t speed = link_->LinkSpeed();
  highSpeed = speed == kLinkHighSpeed;
  superSpeed = speed == kLinkSuperSpeed;
}

bool CUsbDevice::BuildConfiguration(uint8_t index) {
  uint8_t header[9] = {};
  if (!GetDescriptor(kTypeConfiguration, index, 0, header, sizeof header)) return false;
  const uint16_t total = Read16(header + 2);
  if (total < sizeof header) return false;
  std::vector<uint8_t> whole(total);
  if (!GetDescriptor(kTypeConfiguration, index, 0, whole.data(), total)) return false;
  configurations[index] = CCyUSBConfig::Build(link_, whole.data(), whole.size(), IsUsb3(bcdUsb));
  return configurations[index] != nullptr;
}

void CUsbDevice::SelectInterface() {
  CCyUSBConfig* config = configurations[0].get();
  if (!config) return;
  interfaceCount = config->numInterfaces;
  altSettingCount = static_cast<uint8_t>(std::min<size_t>(config->interfaces.size(), 255));
  if (config->interfaces.empty()) return;

  const uint8_t alt = link_->CurrentAltSetting();
  CCyUSBInterface* selected = config->interfaces.front().get();
  for (auto& iface : config->interfaces) {
    if (iface->interfaceNumber == selected->interfaceNumber && iface->alternateSetting == alt) {
      selected = iface.get();
      break;
    }
  }
  configurationNumber = 0;
  interfaceNumber = selected->interfaceNumber;
  altSettingNumber = selected->alternateSetting;
  interfaceClass = selected->interfaceClass;
  interfaceSubClass = selected->interfaceSubClass;
  interfaceProtocol = selected->interfaceProtocol;

  selected->endpoints[0] = controlEndpoint;
  endpoints = selected->endpoints;
  for (uint8_t i = 1; i <= selected->endpointCount; ++i) {
    CCyUSBEndPoint* ep = endpoints[i];
    ep->directMode = true;
    CCyUSBEndPoint** slot = nullptr;
    switch (ep->attributes & 3) {
      case 1: slot = ep->isIn ? &isocInEndpoint : &isocOutEndpoint; break;
      case 2: slot = ep->isIn ? &bulkInEndpoint : &bulkOutEndpoint; break;
      case 3: slot = ep->isIn ? &interruptInEndpoint : &interruptOutEndpoint; break;
      default: break;
    }
    if (slot && !*slot) *slot = ep;
  }
}
