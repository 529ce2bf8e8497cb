// Builds firmware images for tests: FX3 boot images and 0xC2 EEPROM images
// of any shape, sound or deliberately broken. No maker firmware is involved:
// the bytes are patterns.
#pragma once

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

namespace okc::test {

using Bytes = std::vector<uint8_t>;

inline Bytes Pattern(size_t n, uint8_t seed) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(seed + i * 7 + (i >> 8));
  return b;
}

inline void Put32(Bytes& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// An FX3 boot image: "CY", control byte (size code in bits 3..1), type, sections, end, checksum.
struct Fx3Builder {
  struct Section {
    uint32_t address;
    Bytes data;          // a multiple of 4 bytes
    uint32_t words = 0;  // the length the section claims, in 32-bit words; 0: the true one
  };
  uint8_t sizeCode = 2;
  std::vector<Section> sections;
  uint32_t entry = 0x40000100;
  bool withEnd = true;  // false: the image stops after its sections

  Bytes Build() const {
    Bytes b = {'C', 'Y', static_cast<uint8_t>(sizeCode << 1), 0xB0};
    uint32_t sum = 0;
    for (const Section& s : sections) {
      Put32(b, s.words ? s.words : static_cast<uint32_t>(s.data.size() / 4));
      Put32(b, s.address);
      b.insert(b.end(), s.data.begin(), s.data.end());
      for (size_t i = 0; i + 3 < s.data.size(); i += 4)
        sum += static_cast<uint32_t>(s.data[i] | s.data[i + 1] << 8 | s.data[i + 2] << 16 |
                                     static_cast<uint32_t>(s.data[i + 3]) << 24);
    }
    if (!withEnd) return b;
    Put32(b, 0);
    Put32(b, entry);
    Put32(b, sum);
    return b;
  }

  // A sound image of exactly `total` bytes (a multiple of 4, at least 24): one section.
  static Bytes OfSize(size_t total, uint8_t sizeCode = 2) {
    Fx3Builder f;
    f.sizeCode = sizeCode;
    f.sections.push_back({0x40000000, Pattern(total - 4 - 8 - 8 - 4, 11)});
    return f.Build();
  }
};

// A 0xC2 EEPROM image: header, records, the terminating record.
struct C2Builder {
  struct Record {
    uint16_t address;
    Bytes data;
  };
  uint16_t vendorId = 0x6A5D;
  uint16_t productId = 0x6102;
  uint16_t release = 0x0300;
  std::vector<Record> records;

  Bytes Build() const {
    Bytes b = {0xC2,
               static_cast<uint8_t>(vendorId),
               static_cast<uint8_t>(vendorId >> 8),
               static_cast<uint8_t>(productId),
               static_cast<uint8_t>(productId >> 8),
               static_cast<uint8_t>(release),
               static_cast<uint8_t>(release >> 8),
               0x04};
    for (const Record& r : records) {
      const auto n = static_cast<uint16_t>(r.data.size());
      b.insert(b.end(), {static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n), static_cast<uint8_t>(r.address >> 8),
                         static_cast<uint8_t>(r.address)});
      b.insert(b.end(), r.data.begin(), r.data.end());
    }
    b.insert(b.end(), {0x80, 0x01, 0xE6, 0x00, 0x00});
    return b;
  }

  // 4346 bytes: four records of 1000 bytes and one of 313, all in the controller's RAM.
  static C2Builder Of4346Bytes(uint16_t productId = 0x6102, uint16_t release = 0x0300) {
    C2Builder c;
    c.productId = productId;
    c.release = release;
    for (uint16_t i = 0; i < 4; ++i)
      c.records.push_back({static_cast<uint16_t>(i * 1000), Pattern(1000, static_cast<uint8_t>(i))});
    c.records.push_back({4000, Pattern(313, 99)});
    return c;
  }
};

// An EEPROM loader program of the usual size: plain bytes for RAM address 0.
inline Bytes Loader(size_t n = 3475) { return Pattern(n, 0x5A); }

inline void WriteFile(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace okc::test
