// The vendor request codes the cameras' USB controller answers, in one place.
// Plain commands go out with SendCMD(code) and carry nothing; the others carry
// a value, an index or data as noted. The simulated cameras keep their own
// list (sim/), so a code changed here is caught by their request logs.
#pragma once

namespace okc::core::controller {

// ---- streaming and readout (plain commands) ----
// The sensor clock the controller supplies: 24 MHz (long exposures, followed
// by a full re-initialisation of the sensor), and back to 48 MHz.
inline constexpr unsigned char kSensorClock24Mhz = 0xA3;
inline constexpr unsigned char kSensorClock48Mhz = 0xA4;
inline constexpr unsigned char kStartStreaming = 0xA9;
inline constexpr unsigned char kStopStreaming = 0xAA;
inline constexpr unsigned char kSamples8Bit = 0xAB;
inline constexpr unsigned char kSamples16Bit = 0xAC;
inline constexpr unsigned char kBeginLongExposure = 0xAE;
// Ends a long exposure and discards the frame in progress: also sent before
// streaming starts and to restart the stream after errors.
inline constexpr unsigned char kEndLongExposure = 0xAF;

// ---- sensor registers (value: register address) ----
inline constexpr unsigned char kWriteRegister = 0xA6;      // index: the 16-bit value
inline constexpr unsigned char kReadRegister = 0xA7;       // in: 2 bytes, most significant first
inline constexpr unsigned char kWriteRegisterByte = 0xB6;  // index: the 8-bit value
inline constexpr unsigned char kReadRegisterByte = 0xB7;   // in: 1 byte

// ---- controller and host ----
inline constexpr unsigned char kFirmwareVersion = 0xAD;   // in: "V" and the version number
inline constexpr unsigned char kIsUsb3Host = 0xB4;        // in: 1 byte, 1 = yes
inline constexpr unsigned char kTransfersPerFrame = 0xB5; // value / index: high / low 16 bits of the count
inline constexpr unsigned char kGuidePulseOn = 0xB0;      // value: direction 0 to 3
inline constexpr unsigned char kGuidePulseOff = 0xB1;     // value: direction 0 to 3

// ---- memory, EEPROM and flash (firmware downloads, hot-pixel maps) ----
// Controller RAM through the boot loader: write, read back, jump to the entry, probe.
inline constexpr unsigned char kRamAccess = 0xA0;
// The boot EEPROM, through the EEPROM loader program the firmware update runs
// in RAM: that program gives the streaming code its own meaning.
inline constexpr unsigned char kLoaderBootEeprom = 0xA9;
inline constexpr unsigned char kI2cEepromWrite = 0xBA;
inline constexpr unsigned char kI2cEepromRead = 0xBB;
inline constexpr unsigned char kFlashProgram = 0xC2;
inline constexpr unsigned char kFlashRead = 0xC3;
inline constexpr unsigned char kFlashErase = 0xC4;  // out: erase a sector; in: 1 byte, non-zero while busy

}  // namespace okc::core::controller
