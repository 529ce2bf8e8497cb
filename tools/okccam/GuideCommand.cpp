// okccam guide: one pulse on the camera's guide port.
#include <cstdio>
#include <string>

#include "CameraSession.h"
#include "Commands.h"
#include "okccamera/okccamera.h"

namespace okccam {

int RunGuide(int argc, char** argv) {
  Options options;
  std::string error;
  bool helped = false;
  if (!HelpOrParse(options, argc, argv, {"sim", "camera", "direction", "ms", "firmware-dir"}, {}, &error, &helped)) return Fail(error);
  if (helped) return 0;
  const auto direction = options.Get("direction");
  static const char* kNames[] = {"north", "south", "east", "west"};
  int d = -1;
  for (int i = 0; i < 4 && direction; ++i)
    if (*direction == kNames[i] || *direction == std::to_string(i)) d = i;
  if (d < 0) return Fail("--direction must be north, south, east, west (or 0 to 3)");
  long long ms = -1;
  if (!options.Get("ms")) return Fail("--ms is required");
  if (!options.GetInt("ms", 0, 60000, &ms, &error)) return Fail(error);
  if (!OpenSelectedCamera(options, &error)) return Fail(error);
  pulseGuide(static_cast<GuideD>(d), static_cast<int>(ms));
  std::printf("guided %s for %lld ms\n", kNames[d], ms);
  closeCamera();
  return 0;
}

}  // namespace okccam
