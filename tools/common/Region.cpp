#include "tools/common/Region.h"

#include <cerrno>
#include <cstdlib>
#include <vector>

namespace okccam {

namespace {

// A whole decimal number from 0 to 1e6 filling the whole field.
bool ParseField(const std::string& field, int* out) {
  if (field.empty() || field.size() > 7) return false;
  for (char c : field)
    if (c < '0' || c > '9') return false;
  *out = std::atoi(field.c_str());
  return true;
}

}  // namespace

std::optional<Region> ParseRegion(const std::string& text, std::string* error) {
  std::vector<std::string> fields(1);
  for (char c : text) {
    if (c == ',')
      fields.emplace_back();
    else
      fields.back() += c;
  }
  const std::string rule = "--roi must be W,H or W,H,X,Y in pixels of the delivered image (whole numbers, W and H "
                           "above 0), not '" + text + "'";
  if (fields.size() != 2 && fields.size() != 4) {
    *error = rule;
    return std::nullopt;
  }
  int values[4] = {};
  for (size_t i = 0; i < fields.size(); ++i) {
    if (!ParseField(fields[i], &values[i])) {
      *error = rule;
      return std::nullopt;
    }
  }
  Region region{values[0], values[1], values[2], values[3], fields.size() == 4};
  if (region.width <= 0 || region.height <= 0) {
    *error = rule;
    return std::nullopt;
  }
  return region;
}

bool SensorStartOf(const Region& region, const SensorGeometry& g, int* sensorX, int* sensorY, std::string* error) {
  const int fullWidth = g.FullWidth(), fullHeight = g.FullHeight();
  const std::string size = std::to_string(fullWidth) + " x " + std::to_string(fullHeight);
  if (region.width > fullWidth || region.height > fullHeight) {
    *error = "--roi " + std::to_string(region.width) + " x " + std::to_string(region.height) +
             " does not fit the delivered image of " + size + " at bin " + std::to_string(g.bin);
    return false;
  }
  if (!region.placed) return true;
  if (region.x + region.width > fullWidth || region.y + region.height > fullHeight) {
    *error = "--roi " + std::to_string(region.width) + "," + std::to_string(region.height) + "," +
             std::to_string(region.x) + "," + std::to_string(region.y) + " reaches past the delivered image of " +
             size + " at bin " + std::to_string(g.bin) + " (X + W and Y + H must stay within it)";
    return false;
  }
  const int x = g.flipRow ? g.maxWidth - (region.x + region.width) * g.bin : region.x * g.bin;
  const int y = g.flipColumn ? g.maxHeight - (region.y + region.height) * g.bin : region.y * g.bin;
  if (x % 2 != 0 || y % 2 != 0) {
    *error = "--roi must start on an even sensor pixel (the colour filter's phase): at bin 1 use even X and Y" +
             std::string(g.flipRow || g.flipColumn ? " and, as the image is mirrored, even W and H" : "");
    return false;
  }
  *sensorX = x;
  *sensorY = y;
  return true;
}

Region DeliveredRegionOf(int width, int height, int sensorX, int sensorY, const SensorGeometry& g) {
  Region region{width, height, 0, 0, true};
  if (g.bin <= 0) return region;
  region.x = g.flipRow ? (g.maxWidth - sensorX) / g.bin - width : sensorX / g.bin;
  region.y = g.flipColumn ? (g.maxHeight - sensorY) / g.bin - height : sensorY / g.bin;
  return region;
}

}  // namespace okccam
