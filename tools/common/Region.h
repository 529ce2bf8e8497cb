// Regions of interest as users give them (okccam --roi, the INDI CCD_FRAME): in the coordinates of the
// delivered image (after binning and the camera's software mirrors), with the
// origin at the top-left pixel of the full delivered frame.
#pragma once

#include <optional>
#include <string>

namespace okccam {

struct Region {
  int width = 0;
  int height = 0;
  int x = 0;
  int y = 0;
  bool placed = false;  // x and y given; else the camera centres the region
};

// What the conversion between delivered and sensor coordinates needs.
struct SensorGeometry {
  int maxWidth = 0;   // sensor pixels
  int maxHeight = 0;
  int bin = 1;
  bool flipRow = false;     // mirrored left-right
  bool flipColumn = false;  // mirrored top-bottom
  int FullWidth() const { return bin > 0 ? maxWidth / bin : 0; }
  int FullHeight() const { return bin > 0 ? maxHeight / bin : 0; }
};

// "W,H" or "W,H,X,Y": whole decimal numbers, sizes above 0, origins from 0,
// nothing else. Nothing with a message otherwise.
std::optional<Region> ParseRegion(const std::string& text, std::string* error);

// Checks that a region fits the delivered full frame and gives the sensor
// start (unmirrored, unbinned) of a placed region. The camera starts windows
// on even sensor pixels (the colour filter's phase): a start that would be
// odd is refused rather than moved. False with a message that gives the rule.
bool SensorStartOf(const Region& region, const SensorGeometry& geometry, int* sensorX, int* sensorY,
                   std::string* error);

// The delivered-image origin of a window of width x height delivered pixels
// that starts at sensor pixel (sensorX, sensorY).
Region DeliveredRegionOf(int width, int height, int sensorX, int sensorY, const SensorGeometry& geometry);

}  // namespace okccam
