// DORC: the colour 728 x 512 camera whose sensor carries its own processor.
//
// Besides its 16-bit registers the sensor's processor keeps variables and runs
// host commands: the host writes a command word into the command register and
// polls it until the processor clears its busy bit and leaves its result
// there. The camera is brought up from a fixed start-up table and one state
// change; window, line length, integration and the per-channel gains then go
// through plain sensor registers. Gain and white balance are applied in the
// sensor through its floating-point gain encoding (GainValue2Reg).
//
// While capture runs, exposure and gain changes are only stored: the capture
// run's companion thread applies them, so their register traffic stays on one
// thread. The clock follows the exposure (24 MHz with the longest line from
// 600 ms on, 48 MHz and the frame-rate line length below). A camera that
// reports firmware version 0 gets its controller firmware from the firmware
// folder and is reopened.
//
// Every public member takes the camera's sensor lock.
#pragma once

#include <cstdint>
#include <memory>

#include "okccamera/CCameraBase.h"

namespace okc::models {
class DorcCapture;
}

class OKC_API CCameraDORC : public CCameraBase {
 public:
  explicit CCameraDORC(void* windowHandle = nullptr);
  ~CCameraDORC() override;

  // Result codes of the sensor processor's host commands.
  static constexpr int kCommandDone = 0;
  static constexpr int kProcessorBusy = 9;
  static constexpr int kNoCompletion = 6;   // the busy bit never cleared (the library's own code)
  static constexpr int kOtherState = 12;    // the processor reached another state (the library's own code)

  // ---- camera interface ----
  bool OpenCamera(int ordinal) override;
  // False when the camera is closed or its sensor processor did not reach its working state.
  bool InitCamera() override;
  // Refuses a window beyond 728 x 512, a type above IMAGE_16BIT, and one whose
  // sensor pixels are not a multiple of 1024 (false, nothing changed). The window is centred.
  bool SetResolution(int width, int height, int bin, IMAGE_TYPE type) override;
  bool SetStartPos(int x, int y) override;
  bool GetStartPos(int* x, int* y) override;
  bool SetGain(int gain, bool automatic) override;
  bool SetBrightness(int value) override;
  // Refused (false) while the exposure is above 600 ms.
  bool SetFPSPerc(int percent, bool automatic) override;
  bool GetFPSPerc(int* percent, bool* automatic) override;
  void SetRGBBalance(int red, int blue, bool automatic) override;
  void GetRGBBalance(int* red, int* blue, bool* automatic) override;
  bool SetExp(unsigned long long microseconds, bool automatic) override;
  bool SetMisc(bool flipRow, bool flipColumn) override;
  bool GetImage(unsigned char* buffer, int size, unsigned long timeoutMs) override;
  int GetMaxWidth() override { return maxWidth; }
  int GetMaxHeight() override { return maxHeight; }
  bool StartCapture() override;
  bool StopCapture() override;

  // ---- sensor programming ----
  // Writes the stored window, then re-applies line length and exposure.
  bool Cam_SetResolution();
  // Applies the stored gain (and the balance that rides on it) / the stored exposure.
  bool SetGain();
  bool SetExp();
  // Clamps both to 1..100, stores them and writes the red and blue gains.
  bool SetRGBBalance(int red, int blue);
  // The sensor gain register value of a gain multiplier (clamped to 1..128).
  static int GainValue2Reg(float multiplier);
  // 48 or 24 MHz send their command; any value is stored.
  bool SetCMOSClk(int mhz);
  bool SetOutput16Bits(bool on);
  bool ResetFrame() { return true; }
  // The black-level offset is not adjustable: both do nothing and report true.
  bool SetBLOffset(int offset);
  bool GetBLOffset(int* offset);
  uint32_t GetDroppedFrame() const { return droppedFrames; }

  // ---- the sensor processor (DorcProcessor.cpp) ----
  bool WriteVar16(int driver, int offset, unsigned short value);
  unsigned short ReadVar16(int driver, int offset);
  // Runs a command and returns the processor's result code, or kNoCompletion.
  int issueCommand(unsigned short command);
  int setState(unsigned char state);
  // Stores the current state through `state` when given.
  int getState(unsigned char* state);
  // Moves the processor into its working configuration: 0, or the failure's code.
  int changeConfig();

  // Frame time in microseconds of the stored window and line length.
  uint64_t FrameTimeUs() const;
  // Exposure rows for `microseconds` at the stored clock and line length (at least 1).
  uint64_t ExposureRows(uint64_t microseconds) const;

 private:
  friend class okc::models::DorcCapture;

  // Writes the start-up table; false when a command of it found no processor answering.
  bool ApplyStartupTable();
  // Writes the per-channel gains for multiplier `m` and the stored balance.
  bool WriteBalanceGains(float m);

  // What this camera last applied to its sensor (kept per camera, so two
  // cameras in one process do not skip each other's changes).
  int lastAppliedGain_ = -1;
  uint64_t lastAppliedExposure_ = 0;
  // The line length to go back to when the exposure drops below the long-line range.
  bool lineLengthSaved_ = false;
  uint16_t savedLineLength_ = 0;
  std::unique_ptr<okc::models::DorcCapture> capture_;
};
