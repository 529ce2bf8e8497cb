// The DORC sensor's processor: its variables, the host-command handshake
// (command word into the command register, then polling its busy bit), the
// state it runs in, and the start-up table that brings it into its working
// configuration.
#include <array>
#include <cstdio>
#include <mutex>

#include "okccamera/CCameraDORC.h"
#include "okccamera/Clock.h"

namespace {

constexpr unsigned short kRegCommand = 0x0040;
constexpr unsigned short kRegParameter = 0xFC00;
constexpr unsigned short kCommandBusy = 0x8000;
constexpr unsigned short kCommandSetState = 0x8100;
constexpr unsigned short kCommandGetState = 0x8101;
// Variables: 32 drivers of 1024 bytes each, from this address on.
constexpr unsigned short kVariableBase = 0x8000;
constexpr int kVariableDrivers = 32;
constexpr int kDriverBytes = 0x400;
// The processor gets this many polls of the command register to finish a
// command, and this many busy answers to finish a state change.
constexpr int kCommandPolls = 100;
constexpr int kStatePolls = 100;
// The state change that starts the working configuration, and the state it ends in.
constexpr unsigned char kStateChangeConfig = 0x28;
constexpr unsigned char kStateStreaming = 0x31;

// One row of the start-up table.
enum class Row { Write16, Write8, PauseMs, Command };
struct StartupRow {
  Row kind;
  unsigned short reg;
  unsigned short value;
};

constexpr std::array<StartupRow, 40> kStartupTable = {{
    {Row::Write16, 0x001A, 0x0026}, {Row::PauseMs, 0xFFFF, 100},      {Row::Command, 0x0040, 0x8101},
    {Row::Write16, 0xC972, 0x0005}, {Row::Write16, 0x098E, 0x4802},   {Row::Write16, 0xC802, 0x0000},
    {Row::Write16, 0xC800, 0x0000}, {Row::Write16, 0xC806, 0x02D7},   {Row::Write16, 0xC804, 0x01FF},
    {Row::Write16, 0xC80C, 0x00A4}, {Row::Write16, 0xC80E, 0x01B2},   {Row::Write16, 0xC810, 0x0355},
    {Row::Write16, 0xC812, 0x0212}, {Row::Write16, 0xC814, 0x0031},   {Row::Write16, 0xC816, 0x0202},
    {Row::Write8, 0xC86C, 0x00},    {Row::Write16, 0xC882, 0x3C00},   {Row::Write16, 0xC884, 0x3C00},
    {Row::Write16, 0xC968, 0x02D8}, {Row::Write16, 0xC96A, 0x0200},   {Row::Write16, 0xC96C, 0x0200},
    {Row::Write16, 0x098E, 0x4960}, {Row::Write16, 0xC960, 0x0000},   {Row::Write8, 0xC8FF, 0x00},
    {Row::Write16, 0xA804, 0x0000}, {Row::Write16, 0xFC00, 0x0000},   {Row::Command, 0x0040, 0x8606},
    {Row::Write8, 0xC864, 0x01},    {Row::Write16, 0xC858, 0x0011},   {Row::Write16, 0xC972, 0x0025},
    {Row::Write16, 0xC972, 0x0025}, {Row::Write16, 0xC858, 0x0011},   {Row::Write8, 0xC83D, 0x02},
    {Row::Write16, 0xC83A, 0x0020}, {Row::Write8, 0xC83C, 0x00},      {Row::Write8, 0x9427, 0x00},
    {Row::Write8, 0x9427, 0x00},    {Row::Write8, 0x9427, 0x00},      {Row::Write8, 0xC850, 0x00},
    {Row::Write16, 0x001E, 0x0302},
}};

}  // namespace

bool CCameraDORC::WriteVar16(int driver, int offset, unsigned short value) {
  std::lock_guard lock(SensorLock());
  if (driver < 0 || driver >= kVariableDrivers || offset < 0 || offset >= kDriverBytes) return false;
  WriteCameraRegister(static_cast<unsigned short>(kVariableBase + driver * kDriverBytes + offset), value);
  return true;
}

unsigned short CCameraDORC::ReadVar16(int driver, int offset) {
  std::lock_guard lock(SensorLock());
  if (driver < 0 || driver >= kVariableDrivers || offset < 0 || offset >= kDriverBytes) return 0;
  unsigned short value = 0;
  if (!ReadCameraRegister(static_cast<unsigned short>(kVariableBase + driver * kDriverBytes + offset), &value))
    return 0;
  return value;
}

int CCameraDORC::issueCommand(unsigned short command) {
  std::lock_guard lock(SensorLock());
  WriteCameraRegister(kRegCommand, command);
  for (int poll = 0; poll < kCommandPolls; ++poll) {
    unsigned short result = kCommandBusy;
    // A failed read counts as a poll that still saw the command running.
    if (ReadCameraRegister(kRegCommand, &result) && !(result & kCommandBusy)) return result;
  }
  return kNoCompletion;
}

int CCameraDORC::setState(unsigned char state) {
  std::lock_guard lock(SensorLock());
  WriteCameraRegister(kRegParameter, static_cast<unsigned short>(state << 8));
  return issueCommand(kCommandSetState);
}

int CCameraDORC::getState(unsigned char* state) {
  std::lock_guard lock(SensorLock());
  const int result = issueCommand(kCommandGetState);
  if (result != kCommandDone) return result;
  if (state) {
    unsigned short parameter = 0;
    ReadCameraRegister(kRegParameter, &parameter);
    *state = static_cast<unsigned char>(parameter >> 8);
  }
  return kCommandDone;
}

int CCameraDORC::changeConfig() {
  std::lock_guard lock(SensorLock());
  const int requested = setState(kStateChangeConfig);
  if (requested != kCommandDone) return requested;
  for (int poll = 0; poll < kStatePolls; ++poll) {
    unsigned char state = 0;
    const int result = getState(&state);
    if (result == kCommandDone) return state == kStateStreaming ? kCommandDone : kOtherState;
    if (result != kProcessorBusy) return result;
  }
  return kNoCompletion;
}

bool CCameraDORC::ApplyStartupTable() {
  std::lock_guard lock(SensorLock());
  for (const StartupRow& row : kStartupTable) {
    switch (row.kind) {
      case Row::Write16: WriteCameraRegister(row.reg, row.value); break;
      case Row::Write8: WriteCameraRegisterByte(row.reg, static_cast<unsigned char>(row.value)); break;
      case Row::PauseMs: okc::platform::SleepMs(row.value); break;
      case Row::Command: {
        // A busy answer is the processor's to give; one that never finishes means no processor runs.
        const int result = issueCommand(row.value);
        if (result == kNoCompletion) {
          std::fprintf(stderr, "okccamera: the %s's sensor processor did not finish command 0x%04X\n", modelName,
                       row.value);
          return false;
        }
        break;
      }
    }
  }
  return true;
}
