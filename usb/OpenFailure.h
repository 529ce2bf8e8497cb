// The one line a user sees when the camera they asked for cannot be opened.
#pragma once

#include <cstdint>

namespace okc::usb {

// Writes why camera number `ordinal` (from 1) of a model could not be opened to
// standard error: claimed by another program, no permission (udev rules), gone.
void ReportOpenFailure(const char* modelName, int ordinal, uint32_t error);

}  // namespace okc::usb
