// The dark-frame BMP reader. The first two input bytes choose the frame size the
// reader expects (1..32 x 1..32); the rest is the file. Properties: a file accepted
// has pixel data inside the file behind its headers and exactly the expected size,
// the output is written only on acceptance, and writing the accepted pixels and
// reading them back gives the same pixels (round trip).
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "imaging/BmpFile.h"

namespace {

std::string ScratchPath(const char* name) {
  static const std::string folder = [] {
    std::string pattern = "/tmp/okc-fuzz-bmp-XXXXXX";
    if (!mkdtemp(pattern.data())) std::abort();
    return pattern;
  }();
  return folder + "/" + name;
}

uint32_t Get32(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace okc::imaging;
  if (size < 2) return 0;
  const int width = 1 + data[0] % 32;
  const int height = 1 + data[1] % 32;
  data += 2;
  size -= 2;

  const std::string input = ScratchPath("input.bmp");
  if (std::FILE* file = std::fopen(input.c_str(), "wb")) {
    if (size) std::fwrite(data, 1, size, file);
    std::fclose(file);
  }
  const size_t pixels = static_cast<size_t>(width) * height;
  std::vector<uint8_t> out(pixels, 0x5A);
  const BmpReadResult result = ReadGreyBmp(input.c_str(), width, height, out.data());
  if (result != BmpReadResult::Ok) {
    for (uint8_t byte : out)
      if (byte != 0x5A) std::abort();  // written although refused
    return 0;
  }
  // Accepted: the headers describe the expected 8-bit image and its rows lie inside the file.
  if (size < kBmpFileHeaderSize + kBmpInfoHeaderSize) std::abort();
  if (static_cast<int32_t>(Get32(data + 18)) != width || static_cast<int32_t>(Get32(data + 22)) != height) std::abort();
  const uint64_t end = uint64_t{Get32(data + 10)} + uint64_t{GreyBmpRowBytes(width)} * height;
  if (end > size) std::abort();
  // Each output row is the start of the stored row.
  const uint32_t offset = Get32(data + 10);
  for (int row = 0; row < height; ++row)
    if (std::memcmp(out.data() + static_cast<size_t>(row) * width, data + offset + row * GreyBmpRowBytes(width), width))
      std::abort();

  const std::string copy = ScratchPath("copy.bmp");
  if (!WriteGreyBmp(copy.c_str(), width, height, out.data())) std::abort();
  std::vector<uint8_t> again(pixels);
  if (ReadGreyBmp(copy.c_str(), width, height, again.data()) != BmpReadResult::Ok || again != out) std::abort();
  return 0;
}
