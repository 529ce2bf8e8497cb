#include "usb/CCyUSBConfig.h"

using okc::usb::DeviceLink;

namespace {

constexpr uint8_t kTypeConfiguration = 2;
constexpr uint8_t kTypeInterface = 4;
constexpr uint8_t kTypeEndpoint = 5;
constexpr uint8_t kTypeSuperSpeedCompanion = 0x30;

constexpr uint8_t kConfigurationSize = 9;
constexpr uint8_t kInterfaceSize = 9;
constexpr uint8_t kEndpointSize = 7;
constexpr uint8_t kCompanionSize = 6;

// Other descriptors skipped while an interface looks for its endpoints; past
// this many the interface takes no further endpoints.
constexpr int kMaxSkippedPerInterface = 11;

// The descriptor at `pos` fits the data and is at least `minimum` long?
bool Fits(const uint8_t* data, size_t size, size_t pos, uint8_t minimum) {
  if (pos + 2 > size) return false;
  const uint8_t length = data[pos];
  return length >= 2 && length >= minimum && length <= size - pos;
}

std::unique_ptr<CCyUSBEndPoint> MakeEndpoint(const std::shared_ptr<DeviceLink>& link, const uint8_t* descriptor,
                                             const uint8_t* companion) {
  switch (descriptor[3] & 3) {
    case 0: return std::make_unique<CCyControlEndPoint>(link, descriptor, companion);
    case 1: return std::make_unique<CCyIsocEndPoint>(link, descriptor, companion);
    case 2: return std::make_unique<CCyBulkEndPoint>(link, descriptor, companion);
    default: return std::make_unique<CCyInterruptEndPoint>(link, descriptor, companion);
  }
}

}  // namespace

std::unique_ptr<CCyUSBConfig> CCyUSBConfig::Build(const std::shared_ptr<DeviceLink>& link, const uint8_t* data,
                                                  size_t size, bool superSpeed) {
  if (!data || !Fits(data, size, 0, kConfigurationSize) || data[1] != kTypeConfiguration) return nullptr;
  auto config = std::make_unique<CCyUSBConfig>();
  config->descriptorLength = data[0];
  config->descriptorType = data[1];
  config->totalLength = static_cast<uint16_t>(data[2] | (data[3] << 8));
  config->numInterfaces = data[4];
  config->configurationValue = data[5];
  config->configurationString = data[6];
  config->attributes = data[7];
  config->maxPower = data[8];
  // Only what the device says belongs to the configuration, and only what we have.
  if (config->totalLength < config->descriptorLength) return nullptr;
  if (config->totalLength < size) size = config->totalLength;

  size_t pos = data[0];
  while (pos < size) {
    if (!Fits(data, size, pos, 2)) return nullptr;
    if (data[pos + 1] != kTypeInterface) {
      pos += data[pos];
      continue;
    }
    if (!Fits(data, size, pos, kInterfaceSize)) return nullptr;
    auto iface = std::make_unique<CCyUSBInterface>();
    const uint8_t* d = data + pos;
    iface->descriptorLength = d[0];
    iface->descriptorType = d[1];
    iface->interfaceNumber = d[2];
    iface->alternateSetting = d[3];
    iface->numEndpoints = d[4];
    iface->interfaceClass = d[5];
    iface->interfaceSubClass = d[6];
    iface->interfaceProtocol = d[7];
    iface->interfaceString = d[8];
    pos += d[0];

    int skipped = 0;
    while (iface->endpointCount < iface->numEndpoints) {
      // Announced endpoints that never come: the descriptor lies.
      if (pos >= size || !Fits(data, size, pos, 2)) return nullptr;
      const uint8_t type = data[pos + 1];
      if (type == kTypeInterface) return nullptr;
      if (type != kTypeEndpoint) {
        if (++skipped > kMaxSkippedPerInterface) break;
        pos += data[pos];
        continue;
      }
      if (!Fits(data, size, pos, kEndpointSize)) return nullptr;
      if (iface->endpointCount + 1 >= kEndpointSlots) return nullptr;
      const uint8_t* endpoint = data + pos;
      pos += data[pos];
      const uint8_t* companion = nullptr;
      if (superSpeed && pos + 2 <= size && data[pos + 1] == kTypeSuperSpeedCompanion) {
        if (!Fits(data, size, pos, kCompanionSize)) return nullptr;
        companion = data + pos;
        pos += data[pos];
      }
      auto ep = MakeEndpoint(link, endpoint, companion);
      iface->endpoints[++iface->endpointCount] = ep.get();
      iface->owned_.push_back(std::move(ep));
    }
    config->interfaces.push_back(std::move(iface));
  }
  return config;
}
