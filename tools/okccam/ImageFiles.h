// Writing delivered frames to FITS (cfitsio) and PNG (libpng).
#pragma once

#include <cstdint>
#include <string>

namespace okccam {

// What the FITS header says about a frame.
struct FrameInfo {
  int width = 0;
  int height = 0;
  int bytesPerPixel = 1;     // 1 (8-bit), 2 (16-bit), 3 (B, G, R)
  double exposureSeconds = 0;
  int gain = 0;
  bool autoExposure = false;  // exposure and gain chosen by the camera's automatic loop
  bool autoGain = false;
  int bin = 1;
  double temperatureC = 0;
  double pixelSizeUm = 0;
  std::string instrument;
  std::string bayerPattern;  // e.g. "GRBG" for raw colour frames, empty otherwise
  std::string dateObs;       // start of the exposure, ISO 8601 UTC, to the millisecond
  std::string dateEnd;       // end of the exposure, likewise
  int offset = -1;           // the camera's brightness (black level offset); -1: none
  std::string imageType;     // IMAGETYP, e.g. "Light Frame"
  int xOrigin = 0;           // the region's origin in delivered (binned, mirrored) pixels
  int yOrigin = 0;
  std::string software;      // SWCREATE
};

// Writes one frame. 8- and 16-bit frames become 2-D images, colour frames a cube
// of three planes (red, green, blue). False with a message on failure.
bool WriteFits(const std::string& path, const uint8_t* pixels, const FrameInfo& info, std::string* error);
// Writes one frame as PNG (grey 8/16-bit or RGB). False with a message on failure.
bool WritePng(const std::string& path, const uint8_t* pixels, const FrameInfo& info, std::string* error);

}  // namespace okccam
