#include "sim/SimGuideLog.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace okc::sim {

void LogGuideOutput(const char* model, uint16_t direction, bool on, uint64_t timeMs) {
  const char* path = std::getenv("OKC_SIM_GUIDE_LOG");  // read each time: pulses are rare
  if (!path || !*path) return;
  static std::mutex fileMutex;  // several simulated cameras may log at once
  std::lock_guard lock(fileMutex);
  if (FILE* file = std::fopen(path, "a")) {
    std::fprintf(file, "%s guide %u %s %llu\n", model, static_cast<unsigned>(direction), on ? "on" : "off",
                 static_cast<unsigned long long>(timeMs));
    std::fclose(file);
  }
}

}  // namespace okc::sim
