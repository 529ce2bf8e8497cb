// The PIMC family: PIMC (colour 640 x 480), SELC (colour 752 x 480) and SELM
// (mono 752 x 480) share one sensor design and its programming. A model class
// passes its model record; the sensor width, the shortest horizontal blanking
// and the few steps where the models differ follow from it.
//
// The sensor reads the full binned window (bin x width by bin x height) and the
// library bins in software. Exposures too long for the shutter register are
// timed by the host (long-exposure mode). White balance is done in software,
// through the demosaic's balance tables.
//
// Every public member takes the camera's sensor lock, so host threads, the
// capture worker and its auto-adjustment thread may call them at any time.
#pragma once

#include <cstdint>
#include <memory>

#include "okccamera/CCameraBase.h"

namespace okc::core {
enum class ModelId;
}
namespace okc::models {
class PimcCapture;
}

class OKC_API CCameraPimcFamily : public CCameraBase {
 public:
  ~CCameraPimcFamily() override;

  // ---- camera interface ----
  bool OpenCamera(int ordinal) override;
  bool InitCamera() override;
  // Refuses (false, nothing changed) a bin other than 1 or 2, an empty window,
  // bin x width or bin x height beyond the sensor, or a type above 4. The
  // window is always centred.
  bool SetResolution(int width, int height, int bin, IMAGE_TYPE type) override;
  bool SetStartPos(int x, int y) override;
  bool GetStartPos(int* x, int* y) override;
  bool SetGain(int gain, bool automatic) override;
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
  // Writes the stored window: row and column start, size, horizontal blanking, restart.
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
  bool SetOutput16Bits(bool on);
  // Colour models: clamps to 1..100, stores and rebuilds the balance tables. Mono: nothing.
  bool SetRGBBalance(int red, int blue);
  // The black-level offset is not adjustable: both do nothing and report true.
  bool SetBLOffset(int offset);
  bool GetBLOffset(int* offset);
  uint32_t GetDroppedFrame() const { return droppedFrames; }

  // Horizontal blanking in pixel clocks for the stored window, and the clocks of a sensor row.
  int HorizontalBlanking() const;
  int RowClocks() const { return bin * width + HorizontalBlanking(); }
  // Exposure rows for `microseconds` at the stored clock and window (at least 1).
  uint64_t ExposureRows(uint64_t microseconds) const;

 protected:
  CCameraPimcFamily(okc::core::ModelId model, void* windowHandle);

 private:
  friend class okc::models::PimcCapture;

  // The window change of SetResolution while the host times an exposure.
  bool SetWindowInLongExposure();

  // The gain-table index last written (the stage it left the sensor in).
  int lastGainIndex_ = 0;
  std::unique_ptr<okc::models::PimcCapture> capture_;
};
