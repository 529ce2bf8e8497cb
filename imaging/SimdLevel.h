// The instruction-set level the frame kernels run at, chosen at run time from
// what the processor offers, so one build runs fast on every x86-64 machine.
//
// OKC_SIMD=portable|ssse3|avx2 in the environment, or LimitSimdLevel(), keeps
// the kernels at or below a level (to compare levels, or to rule one out).
#pragma once

#include <vector>

namespace okc::imaging {

enum class SimdLevel { kPortable = 0, kSsse3 = 1, kAvx2 = 2 };

// The highest level this build has kernels for and this processor runs.
SimdLevel MachineSimdLevel();
// The level in use: the machine's, lowered by OKC_SIMD and LimitSimdLevel.
SimdLevel ActiveSimdLevel();
// Keeps the active level at or below `limit`; kAvx2 lifts any limit.
void LimitSimdLevel(SimdLevel limit);
// Every level up to the machine's, lowest first.
std::vector<SimdLevel> AvailableSimdLevels();

const char* SimdLevelName(SimdLevel level);

}  // namespace okc::imaging
