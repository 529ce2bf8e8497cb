// The FITS files of delivered frames: what their header says and how it is
// written. okccam writes whole files with it; the INDI driver adds the same
// keywords to the FITS images it sends its clients.
#pragma once

#include <fitsio.h>

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

// Writes (or replaces) the frame's keywords in the current header of an open
// FITS file. cfitsio's status convention: nothing happens once *status is set.
void WriteFrameKeywords(fitsfile* file, const FrameInfo& info, int* status);

// Writes one frame. 8- and 16-bit frames become 2-D images, colour frames a cube
// of three planes (red, green, blue). False with a message on failure.
bool WriteFits(const std::string& path, const uint8_t* pixels, const FrameInfo& info, std::string* error);

// ISO 8601 UTC to the millisecond, from microseconds since 1970 (DATE-OBS, DATE-END).
std::string IsoUtc(int64_t unixUs);

}  // namespace okccam
