#include "sim/SimDescriptors.h"

#include <algorithm>

#include "okccamera/UsbDriver.h"

namespace okc::sim {

namespace {

constexpr uint8_t kManufacturerIndex = 1;
constexpr uint8_t kProductIndex = 2;
constexpr uint8_t kSerialIndex = 3;
// A string descriptor's length is one byte: 2 header bytes + 126 UTF-16 units.
constexpr size_t kMaxStringUnits = 126;

void Put16(std::vector<uint8_t>& out, uint16_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}

void Put32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

std::vector<uint8_t> DeviceDescriptor(const SimDeviceOptions& o, bool usb3) {
  std::vector<uint8_t> d;
  d.push_back(18);
  d.push_back(kDescDevice);
  Put16(d, usb3 ? 0x0300 : 0x0200);
  d.push_back(0x00);  // class defined by the interface
  d.push_back(0x00);
  d.push_back(0x00);
  d.push_back(usb3 ? 9 : 64);  // SuperSpeed gives the control packet size as a power of two
  Put16(d, o.vendorId);
  Put16(d, o.productId);
  Put16(d, static_cast<uint16_t>(0x0100 | o.firmwareVersion));  // bcdDevice
  d.push_back(kManufacturerIndex);
  d.push_back(kProductIndex);
  d.push_back(kSerialIndex);
  d.push_back(1);  // one configuration
  return d;
}

std::vector<uint8_t> ConfigurationDescriptor(bool usb3) {
  std::vector<uint8_t> d;
  // Configuration header; wTotalLength is patched in at the end.
  d.push_back(9);
  d.push_back(kDescConfiguration);
  Put16(d, 0);
  d.push_back(1);     // one interface
  d.push_back(1);     // bConfigurationValue
  d.push_back(0);     // no string
  d.push_back(0x80);  // bus powered
  d.push_back(usb3 ? 112 : 250);  // 896 mA in 8 mA units / 500 mA in 2 mA units

  // Interface 0, alternate setting 0, one endpoint, vendor specific.
  d.push_back(9);
  d.push_back(kDescInterface);
  d.push_back(0);
  d.push_back(0);
  d.push_back(1);
  d.push_back(0xFF);
  d.push_back(0x00);
  d.push_back(0x00);
  d.push_back(0);

  // Bulk IN endpoint.
  d.push_back(7);
  d.push_back(kDescEndpoint);
  d.push_back(kBulkInEndpoint);
  d.push_back(0x02);
  Put16(d, usb3 ? 1024 : 512);
  d.push_back(0);

  if (usb3) {
    // SuperSpeed endpoint companion: bursts of 16 packets.
    d.push_back(6);
    d.push_back(kDescSuperSpeedCompanion);
    d.push_back(15);  // bMaxBurst
    d.push_back(0);   // bmAttributes
    Put16(d, 0);      // wBytesPerInterval (bulk: unused)
  }

  const auto total = static_cast<uint16_t>(d.size());
  d[2] = static_cast<uint8_t>(total);
  d[3] = static_cast<uint8_t>(total >> 8);
  return d;
}

std::vector<uint8_t> BosDescriptor() {
  std::vector<uint8_t> d;
  d.push_back(5);
  d.push_back(kDescBos);
  Put16(d, 0);  // wTotalLength, patched below
  d.push_back(2);

  // USB 2.0 extension: link power management supported.
  d.push_back(7);
  d.push_back(kDescDeviceCapability);
  d.push_back(0x02);
  Put32(d, 0x00000002);

  // SuperSpeed USB capability: full, high and SuperSpeed; fully functional from full speed.
  d.push_back(10);
  d.push_back(kDescDeviceCapability);
  d.push_back(0x03);
  d.push_back(0x00);
  Put16(d, 0x000E);
  d.push_back(0x01);
  d.push_back(0x0A);  // U1 exit latency, us
  Put16(d, 0x07FF);   // U2 exit latency, us

  const auto total = static_cast<uint16_t>(d.size());
  d[2] = static_cast<uint8_t>(total);
  d[3] = static_cast<uint8_t>(total >> 8);
  return d;
}

std::vector<uint8_t> LanguageDescriptor(const std::vector<uint16_t>& languages) {
  std::vector<uint8_t> d;
  const size_t count = std::min(languages.size(), kMaxStringUnits);
  d.push_back(static_cast<uint8_t>(2 + 2 * count));
  d.push_back(kDescString);
  for (size_t i = 0; i < count; ++i) Put16(d, languages[i]);
  return d;
}

}  // namespace

std::u16string Utf8ToUtf16(std::string_view utf8) {
  std::u16string out;
  size_t i = 0;
  while (i < utf8.size()) {
    const auto lead = static_cast<unsigned char>(utf8[i]);
    uint32_t cp = 0;
    size_t extra = 0;
    if (lead < 0x80) {
      cp = lead;
    } else if ((lead & 0xE0) == 0xC0) {
      cp = lead & 0x1F;
      extra = 1;
    } else if ((lead & 0xF0) == 0xE0) {
      cp = lead & 0x0F;
      extra = 2;
    } else if ((lead & 0xF8) == 0xF0) {
      cp = lead & 0x07;
      extra = 3;
    } else {
      out.push_back(u'\uFFFD');
      ++i;
      continue;
    }
    bool valid = i + extra < utf8.size();  // all continuation bytes present
    for (size_t k = 1; valid && k <= extra; ++k) {
      const auto c = static_cast<unsigned char>(utf8[i + k]);
      if ((c & 0xC0) != 0x80) valid = false;
      cp = (cp << 6) | (c & 0x3F);
    }
    const uint32_t minimum[] = {0, 0x80, 0x800, 0x10000};
    if (!valid || cp < minimum[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
      out.push_back(u'\uFFFD');
      ++i;
      continue;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
    i += extra + 1;
  }
  return out;
}

std::vector<uint8_t> StringDescriptor(std::string_view utf8) {
  std::u16string text = Utf8ToUtf16(utf8);
  if (text.size() > kMaxStringUnits) {
    text.resize(kMaxStringUnits);
    // Do not leave half a surrogate pair at the cut.
    if (text.back() >= 0xD800 && text.back() <= 0xDBFF) text.pop_back();
  }
  std::vector<uint8_t> d;
  d.push_back(static_cast<uint8_t>(2 + 2 * text.size()));
  d.push_back(kDescString);
  for (char16_t unit : text) Put16(d, unit);
  return d;
}

DescriptorSet BuildDescriptors(const SimDeviceOptions& options) {
  const bool usb3 = IsUsb3Model(options.model);
  DescriptorSet set;
  set[DescriptorKey(kDescDevice, 0)] = DeviceDescriptor(options, usb3);
  set[DescriptorKey(kDescConfiguration, 0)] = ConfigurationDescriptor(usb3);
  set[DescriptorKey(kDescString, 0)] = LanguageDescriptor(options.languages);
  set[DescriptorKey(kDescString, kManufacturerIndex)] = StringDescriptor(options.manufacturer);
  set[DescriptorKey(kDescString, kProductIndex)] = StringDescriptor(options.product);
  set[DescriptorKey(kDescString, kSerialIndex)] = StringDescriptor(options.serialNumber);
  if (usb3) set[DescriptorKey(kDescBos, 0)] = BosDescriptor();
  return set;
}

}  // namespace okc::sim
