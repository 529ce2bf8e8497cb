// The host's side of a long exposure on the cameras that time it between two
// controller commands (PIMC family, RENM): the wait between them.
#pragma once

#include <cstdint>
#include <functional>

#include "core/CaptureEngine.h"

namespace okc::models {

// Waits out an exposure of `exposureUs`: up to a second in one sleep, longer
// ones in 500 ms steps and then the rest, leaving early once `unchanged` turns
// false (the host set another exposure). False when capture ended meanwhile.
bool WaitHostTimedExposure(core::CaptureContext& context, uint64_t exposureUs, const std::function<bool()>& unchanged);

}  // namespace okc::models
