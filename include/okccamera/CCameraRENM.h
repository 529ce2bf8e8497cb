// RENM: the monochrome 1280 x 1024 camera. It follows the PIMC family's
// design (the sensor reads the full binned window and the library bins in
// software, host-timed long exposures, all transfers of a frame queued at
// once) with a sensor of its own: its register map and exposure arithmetic, a
// black-level calibration that the capture worker freezes after each gain
// change, and the pixel clock chosen through the frame-rate percentage
// (1: 24 MHz, 2: 48 MHz).
//
// Every public member takes the camera's sensor lock, so host threads, the
// capture worker and its companion may call them at any time.
#pragma once

#include <cstdint>
#include <memory>

#include "okccamera/CCameraBase.h"

namespace okc::models {
class RenmCapture;
}

class OKC_API CCameraRENM : public CCameraBase {
 public:
  explicit CCameraRENM(void* windowHandle = nullptr);
  ~CCameraRENM() override;

  // ---- camera interface ----
  bool OpenCamera(int ordinal) override;
  bool InitCamera() override;
  // Refuses (false, nothing changed) a bin other than 1 or 2, an empty window,
  // bin x width beyond 1280 or bin x height beyond 1024, or a type above 4.
  // The window is always centred.
  bool SetResolution(int width, int height, int bin, IMAGE_TYPE type) override;
  bool SetStartPos(int x, int y) override;
  bool GetStartPos(int* x, int* y) override;
  // Also restarts the sensor's black-level calibration while it is automatic.
  bool SetGain(int gain, bool automatic) override;
  // 1: 24 MHz, 2: 48 MHz; anything else is refused.
  bool SetFPSPerc(int percent, bool automatic) override;
  bool GetFPSPerc(int* percent, bool* automatic) override;
  // No colour: stores only the automatic flag.
  void SetRGBBalance(int red, int blue, bool automatic) override;
  void GetRGBBalance(int* red, int* blue, bool* automatic) override;
  bool SetExp(unsigned long long microseconds, bool automatic) override;
  // Refused (false, nothing changed) in long-exposure mode.
  bool SetMisc(bool flipRow, bool flipColumn) override;
  // Takes the oldest good frame and writes it in the current format (see
  // CCameraTAV::GetImage for sizes, waits and refusals).
  bool GetImage(unsigned char* buffer, int size, unsigned long timeoutMs) override;
  bool StartCapture() override;
  bool StopCapture() override;

  // ---- sensor programming ----
  // Writes the stored window: row and column start, size, restart.
  bool Cam_SetResolution();
  // The stored gain and exposure, with the stored automatic flags.
  bool SetGain(int gain);
  bool SetExp(unsigned long long microseconds);
  // 24 or 48 MHz (any other clock: false, nothing changed); re-applies the exposure.
  bool SetCMOSClk(int mhz);
  using CCameraBase::GetCMOSClk;
  // Stores the clock through `mhz` and reports false, as the camera cannot be asked.
  bool GetCMOSClk(int* mhz);
  // Switches between 8-bit and 16-bit samples (restarting a running capture).
  // 16-bit samples of a window wider than 480 need the 24 MHz clock; the clock
  // the host had chosen comes back with 8-bit samples.
  bool SetOutput16Bits(bool on);
  // Automatic: the sensor calibrates its black level (the offsets stored stay).
  // Manual: the four offsets are written and used. Returns the result of the
  // calibration-mode write.
  bool SetBLOffset(bool automatic, signed char offset1, signed char offset2, signed char offset3,
                   signed char offset4);
  // The automatic flag and the four offsets the sensor holds; an offset that
  // cannot be read is reported as stored, and the result is then false.
  bool GetBLOffset(bool* automatic, signed char* offset1, signed char* offset2, signed char* offset3,
                   signed char* offset4);
  uint32_t GetDroppedFrame() const { return droppedFrames; }

  // Pixel clocks of a sensor row for the stored window.
  int RowClocks() const { return bin * width + kRowBlankingClocks; }
  // Exposure rows for `microseconds` at the stored clock and window (at least 1).
  uint64_t ExposureRows(uint64_t microseconds) const;
  // Frame time in microseconds for the stored window and clock.
  uint64_t FrameTimeUs() const;

  static constexpr int kRowBlankingClocks = 244;
  static constexpr int kFrameBlankingRows = 32;

 private:
  friend class okc::models::RenmCapture;

  // The window change of SetResolution while the host times an exposure.
  bool SetWindowInLongExposure();
  // The clock the host chose, while 16-bit samples hold the sensor at 24 MHz (0: not held).
  int clockBefore16Bit_ = 0;
  std::unique_ptr<okc::models::RenmCapture> capture_;
};
