// Controls the PIMC family and the RENM handle the same way: the sensor clock
// their USB 2 controller supplies, and flips done in software.
#pragma once

class CCameraBase;

namespace okc::models {

// 24 MHz or 48 MHz from the controller, then the exposure again at the new
// clock (through the model's SetExp). Any other clock: false, nothing changes.
bool SwitchSensorClock(CCameraBase& camera, int mhz);
// The clock in use; answers false all the same, as these models always have.
bool ReportSensorClock(CCameraBase& camera, int* mhz);
// Flips applied to each delivered frame; the sensor is not told. Refused
// while a long exposure runs.
bool SetSoftwareFlips(CCameraBase& camera, bool flipRow, bool flipColumn);

}  // namespace okc::models
