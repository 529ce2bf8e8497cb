// The configuration and BOS descriptor parsers. The first input byte chooses the
// USB 3 form; the rest is the descriptor data. Property: whatever the parser accepts
// agrees with a plain reference walk of the same bytes (the interfaces in order, the
// endpoints of each with their address, attributes and packet size), and every
// BOS length it accepts lies inside the data.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "okccamera/CCyUSBEndPoint.h"
#include "usb/CCyUSBBOS.h"
#include "usb/CCyUSBConfig.h"

namespace {

struct RefEndpoint {
  uint8_t address, attributes;
  uint32_t maxPacket;  // bytes per service interval, bursts and multiples included
};
struct RefInterface {
  uint8_t number, alternate;
  std::vector<RefEndpoint> endpoints;
};

// Interfaces and endpoints in descriptor order, within min(size, totalLength).
// Only meaningful for data the parser accepted.
std::vector<RefInterface> ReferenceWalk(const uint8_t* data, size_t size, bool superSpeed) {
  const size_t total = data[2] | (data[3] << 8);
  if (total < size) size = total;
  std::vector<RefInterface> out;
  size_t pos = data[0];
  RefInterface* current = nullptr;
  size_t wanted = 0;
  while (pos + 2 <= size && data[pos] >= 2) {
    const uint8_t length = data[pos], type = data[pos + 1];
    if (type == 4) {
      out.push_back({data[pos + 2], data[pos + 3], {}});
      current = &out.back();
      wanted = data[pos + 4];
    } else if (type == 5 && current && current->endpoints.size() < wanted && length >= 7 && pos + length <= size) {
      // (An endpoint the parser left to its outer walk, after foreign descriptors,
      // need not be whole: only whole ones are read here.)
      const uint32_t raw = data[pos + 4] | (data[pos + 5] << 8);
      uint32_t packet = (raw & 0x7FF) * (((raw >> 11) & 3) + 1);
      const size_t next = pos + length;
      if (superSpeed && next + 6 <= size && data[next + 1] == 0x30) {
        packet *= data[next + 2] + 1u;
        if ((data[pos + 3] & 3) == 1) packet *= (data[next + 3] & 3) + 1u;
      }
      current->endpoints.push_back({data[pos + 2], data[pos + 3], packet});
    }
    pos += length;
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const bool superSpeed = data[0] & 1;
  ++data;
  --size;

  if (auto bos = CCyUSBBOS::Build(data, size)) {
    if (size < 5 || bos->totalLength < 5 || bos->totalLength > size) std::abort();
  }

  auto config = CCyUSBConfig::Build(nullptr, data, size, superSpeed);
  if (!config) return 0;
  if (size < 9 || config->totalLength < config->descriptorLength) std::abort();
  const std::vector<RefInterface> reference = ReferenceWalk(data, size, superSpeed);
  if (reference.size() != config->interfaces.size()) std::abort();
  for (size_t i = 0; i < reference.size(); ++i) {
    const CCyUSBInterface& iface = *config->interfaces[i];
    if (iface.interfaceNumber != reference[i].number || iface.alternateSetting != reference[i].alternate) std::abort();
    if (iface.endpointCount > iface.numEndpoints || iface.endpointCount >= kEndpointSlots) std::abort();
    if (iface.endpoints[0] != nullptr) std::abort();
    // The parser may stop early at foreign descriptors; what it took must be the reference's first endpoints.
    if (iface.endpointCount > reference[i].endpoints.size()) std::abort();
    for (int e = 1; e <= iface.endpointCount; ++e) {
      const CCyUSBEndPoint* ep = iface.endpoints[e];
      const RefEndpoint& ref = reference[i].endpoints[e - 1];
      if (!ep || ep->address != ref.address || ep->attributes != ref.attributes) std::abort();
      if (ep->maxPacketSize != ref.maxPacket) std::abort();
    }
    for (int e = iface.endpointCount + 1; e < kEndpointSlots; ++e)
      if (iface.endpoints[e]) std::abort();
  }
  return 0;
}
