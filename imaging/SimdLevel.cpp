#include "imaging/SimdLevel.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace okc::imaging {

namespace {

SimdLevel DetectLevel() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx2")) return SimdLevel::kAvx2;
  if (__builtin_cpu_supports("ssse3")) return SimdLevel::kSsse3;
#endif
  return SimdLevel::kPortable;
}

// The limit from OKC_SIMD; an unknown name leaves the machine's level.
SimdLevel EnvironmentLimit() {
  const char* name = std::getenv("OKC_SIMD");
  if (!name) return SimdLevel::kAvx2;
  if (std::strcmp(name, "portable") == 0) return SimdLevel::kPortable;
  if (std::strcmp(name, "ssse3") == 0) return SimdLevel::kSsse3;
  return SimdLevel::kAvx2;
}

SimdLevel Lower(SimdLevel a, SimdLevel b) { return static_cast<int>(a) < static_cast<int>(b) ? a : b; }

std::atomic<SimdLevel>& Limit() {
  static std::atomic<SimdLevel> limit{EnvironmentLimit()};
  return limit;
}

}  // namespace

SimdLevel MachineSimdLevel() {
  static const SimdLevel level = DetectLevel();
  return level;
}

SimdLevel ActiveSimdLevel() { return Lower(MachineSimdLevel(), Limit().load(std::memory_order_relaxed)); }

void LimitSimdLevel(SimdLevel limit) { Limit().store(limit, std::memory_order_relaxed); }

std::vector<SimdLevel> AvailableSimdLevels() {
  std::vector<SimdLevel> levels;
  for (int l = 0; l <= static_cast<int>(MachineSimdLevel()); ++l) levels.push_back(static_cast<SimdLevel>(l));
  return levels;
}

const char* SimdLevelName(SimdLevel level) {
  switch (level) {
    case SimdLevel::kAvx2: return "avx2";
    case SimdLevel::kSsse3: return "ssse3";
    default: return "portable";
  }
}

}  // namespace okc::imaging
