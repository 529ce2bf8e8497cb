// A text log of the guide outputs of simulated cameras, for programs that run
// a simulated camera in another process (an INDI driver under indiserver) and
// want to see the pulses it received. Off unless OKC_SIM_GUIDE_LOG names a
// file; each switch of an output appends one line:
//   <model> guide <direction> on|off <platform clock ms>
// with the direction as the host sent it (0 north, 1 south, 2 east, 3 west).
#pragma once

#include <cstdint>

namespace okc::sim {

void LogGuideOutput(const char* model, uint16_t direction, bool on, uint64_t timeMs);

}  // namespace okc::sim
