// The register table that brings the TAV family's sensor from reset into its
// running configuration. Replayed by InitCamera and by the switch to the
// 24 MHz clock, which resets the sensor.
#pragma once

#include <cstdint>
#include <span>

namespace okc::models {

struct TavcRegisterWrite {
  uint16_t address;
  uint16_t value;
};

// A row with this address is not a register: the host waits `value` milliseconds.
constexpr uint16_t kTavcSleepRow = 0xFFFF;

// The 115 rows in the order they must reach the sensor.
std::span<const TavcRegisterWrite> TavcInitTable();

}  // namespace okc::models
