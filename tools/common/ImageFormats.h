// The image formats a program names on its command line or in its own API, with
// the library's type and the bytes each delivered pixel takes.
#pragma once

#include <string_view>

#include "okccamera/okccamera.h"

namespace okccam {

struct ImageFormat {
  const char* name;
  IMG_TYPE type;
  int bytesPerPixel;
};

inline constexpr ImageFormat kImageFormats[] = {
    {"raw8", IMGTYPE_RAW8, 1}, {"raw16", IMGTYPE_RAW16, 2}, {"rgb24", IMGTYPE_RGB24, 3}, {"y8", IMGTYPE_Y8, 1}};

// The format of a name, or nullptr for a name that is none of them.
inline const ImageFormat* ImageFormatNamed(std::string_view name) {
  for (const ImageFormat& f : kImageFormats)
    if (name == f.name) return &f;
  return nullptr;
}

// The format of a library type (raw8 for a type not listed).
inline const ImageFormat& ImageFormatOf(IMG_TYPE type) {
  for (const ImageFormat& f : kImageFormats)
    if (f.type == type) return f;
  return kImageFormats[0];
}

}  // namespace okccam
