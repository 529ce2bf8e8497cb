// The check of a 0xC2 boot EEPROM image before anything is written to a camera. The
// input is the image. Property: the verdict agrees with a plain reference walk of
// the records; an accepted image has every record inside the image and the
// controller's 64 KiB, and its header, records and terminating record laid end to
// end give back the image's bytes up to the terminator (nothing skipped or reread).
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/FirmwareImage.h"

namespace {

struct RefRecord {
  size_t offset, length, address;
};

// The records before the terminator, or false when the image is not sound.
bool ReferenceWalk(const uint8_t* image, size_t size, std::vector<RefRecord>* records, size_t* end) {
  if (size == 0 || size > 65536 || image[0] != 0xC2 || size < 13) return false;
  size_t pos = 8;
  while (pos + 4 <= size) {
    const size_t length = size_t{image[pos]} << 8 | image[pos + 1];
    const size_t address = size_t{image[pos + 2]} << 8 | image[pos + 3];
    if (length == 0x8001 && address == 0xE600) {
      if (pos + 5 > size || image[pos + 4] != 0) return false;
      *end = pos + 5;
      return true;
    }
    if (length == 0 || length >= 0x8000 || address + length > 0x10000 || pos + 4 + length > size) return false;
    records->push_back({pos + 4, length, address});
    pos += 4 + length;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  okc::core::C2Image parsed;
  std::string problem;
  const bool accepted = okc::core::CheckC2Image({data, size}, &parsed, &problem);
  std::vector<RefRecord> expected;
  size_t end = 0;
  const bool sound = ReferenceWalk(data, size, &expected, &end);
  if (accepted != sound) std::abort();
  if (!accepted) {
    if (problem.empty()) std::abort();  // a refusal always says why
    return 0;
  }
  if (parsed.vendorId != (data[1] | data[2] << 8) || parsed.productId != (data[3] | data[4] << 8) ||
      parsed.release != (data[5] | data[6] << 8) || parsed.records.size() != expected.size())
    std::abort();
  std::vector<uint8_t> rebuilt(data, data + 8);
  for (size_t i = 0; i < expected.size(); ++i) {
    const okc::core::C2Record& r = parsed.records[i];
    if (r.offset != expected[i].offset || r.length != expected[i].length || r.address != expected[i].address)
      std::abort();
    if (r.offset + r.length > size || uint32_t{r.address} + r.length > okc::core::kMaxC2ImageBytes) std::abort();
    rebuilt.insert(rebuilt.end(), {static_cast<uint8_t>(r.length >> 8), static_cast<uint8_t>(r.length),
                                   static_cast<uint8_t>(r.address >> 8), static_cast<uint8_t>(r.address)});
    rebuilt.insert(rebuilt.end(), data + r.offset, data + r.offset + r.length);
  }
  rebuilt.insert(rebuilt.end(), {0x80, 0x01, 0xE6, 0x00, 0x00});
  if (rebuilt.size() != end || !std::equal(rebuilt.begin(), rebuilt.end(), data)) std::abort();
  return 0;
}
