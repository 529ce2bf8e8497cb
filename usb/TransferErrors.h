// Error numbers the transport records besides those of the driver seam.
#pragma once

#include <cstdint>

namespace okc::usb {

constexpr uint32_t kErrInvalidParameter = 87;  // missing buffer, length out of range
constexpr uint32_t kErrIoIncomplete = 996;     // completion asked for while the transfer still runs

}  // namespace okc::usb
