#include "ImageFiles.h"

#include <png.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace okccam {

bool WritePng(const std::string& path, const uint8_t* pixels, const FrameInfo& info, std::string* error) {
  std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "wb"), &std::fclose);
  if (!file) {
    *error = "cannot create " + path + ": " + std::strerror(errno);
    return false;
  }
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop pngInfo = png ? png_create_info_struct(png) : nullptr;
  if (!pngInfo) {
    png_destroy_write_struct(&png, nullptr);
    *error = "out of memory writing " + path;
    return false;
  }
  std::vector<uint8_t> row;
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &pngInfo);
    *error = "cannot write " + path;
    return false;
  }
  png_init_io(png, file.get());
  const int depth = info.bytesPerPixel == 2 ? 16 : 8;
  const int colour = info.bytesPerPixel == 3 ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_GRAY;
  png_set_IHDR(png, pngInfo, info.width, info.height, depth, colour, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, pngInfo);
  const size_t rowBytes = static_cast<size_t>(info.width) * info.bytesPerPixel;
  row.resize(rowBytes);
  for (int y = 0; y < info.height; ++y) {
    const uint8_t* src = pixels + y * rowBytes;
    for (int x = 0; x < info.width; ++x) {
      if (info.bytesPerPixel == 3) {  // B, G, R to R, G, B
        row[3 * x] = src[3 * x + 2];
        row[3 * x + 1] = src[3 * x + 1];
        row[3 * x + 2] = src[3 * x];
      } else if (info.bytesPerPixel == 2) {  // native 16-bit to big-endian
        uint16_t v;
        std::memcpy(&v, src + 2 * x, 2);
        row[2 * x] = static_cast<uint8_t>(v >> 8);
        row[2 * x + 1] = static_cast<uint8_t>(v);
      } else {
        row[x] = src[x];
      }
    }
    png_write_row(png, row.data());
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &pngInfo);
  // A full disk shows only when the buffered rest is written out.
  if (std::fflush(file.get()) != 0 || std::ferror(file.get())) {
    *error = "cannot write " + path + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

}  // namespace okccam
