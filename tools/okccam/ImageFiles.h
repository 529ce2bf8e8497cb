// Writing delivered frames to FITS (cfitsio, tools/common) and PNG (libpng).
#pragma once

#include <cstdint>
#include <string>

#include "tools/common/FitsFrame.h"

namespace okccam {

// Writes one frame as PNG (grey 8/16-bit or RGB). False with a message on failure.
bool WritePng(const std::string& path, const uint8_t* pixels, const FrameInfo& info, std::string* error);

}  // namespace okccam
