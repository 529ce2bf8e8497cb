// The TAV family: the 1280 x 960 cameras TAVC, TAVM, TAVC-U and TAVM-U share
// one sensor and its programming. A model class passes its model record and
// the value its sensor's data-path register (0x306E) takes. The mono models
// have one digital gain and no colour balance; the USB 3 models run the
// sensor at a fixed 100 MHz, pace it by the host's link speed, announce the
// frame size to their controller and end each frame with a trailer.
//
// Besides the camera interface it offers the sensor programming steps that the
// capture engine calls while it runs: they apply the values stored in the
// object (window, clock, exposure, gain, white balance) to the sensor.
//
// Every public member takes the camera's sensor lock, so host threads, the
// capture worker and its companion thread may call them at any time.
#pragma once

#include <cstdint>
#include <memory>

#include "okccamera/CCameraBase.h"

namespace okc::core {
enum class ModelId;
}
namespace okc::models {
class TavCapture;
struct TavcPllSetting;
}

class OKC_API CCameraTAV : public CCameraBase {
 public:
  ~CCameraTAV() override;

  // ---- camera interface ----
  bool OpenCamera(int ordinal) override;
  bool InitCamera() override;
  bool SetResolution(int width, int height, int bin, IMAGE_TYPE type) override;
  bool SetStartPos(int x, int y) override;
  bool GetStartPos(int* x, int* y) override;
  bool SetGain(int gain, bool automatic) override;
  bool SetBrightness(int value) override;
  bool SetFPSPerc(int percent, bool automatic) override;
  bool GetFPSPerc(int* percent, bool* automatic) override;
  void SetRGBBalance(int red, int blue, bool automatic) override;
  void GetRGBBalance(int* red, int* blue, bool* automatic) override;
  bool SetExp(unsigned long long microseconds, bool automatic) override;
  bool SetMisc(bool flipRow, bool flipColumn) override;
  float GetSensorTemp() override;
  // Takes the oldest good frame and writes it in the current format: width x height
  // pixels of 1 (8-bit raw or luminance), 3 (B, G, R) or 2 (16-bit, 12-bit value in
  // the top bits) bytes. Waits up to timeoutMs for one; 0 returns at once when none
  // is queued, 0xFFFFFFFF waits without limit, though never past the end of the
  // capture run or the loss of the camera. False, with nothing written, when no
  // frame came, `buffer` is null or `size` is smaller than the output image.
  bool GetImage(unsigned char* buffer, int size, unsigned long timeoutMs) override;
  // Starts the capture worker; `capturing` is set once the stream runs. A second
  // call while a worker is starting or running starts nothing. False on a closed
  // camera or before the first SetResolution.
  bool StartCapture() override;
  // Saves the settings, stops the worker (also one still starting) and waits for it.
  bool StopCapture() override;

  // ---- sensor programming from the stored values ----
  // Writes the readout window of the stored region, then clock, bandwidth and exposure.
  bool Cam_SetResolution();
  // Writes the stored gain (coarse step, green, red and blue gains).
  bool SetGain();
  // Writes the stored exposure; enters long-exposure mode when the integration
  // register cannot hold it.
  bool SetExp();
  // Programs the clock that suits the stored window and sample width.
  bool SetCMOSClk();
  // Programs one pixel clock in MHz; 24 resets the sensor into the 24 MHz mode.
  bool SetCMOSClk(int mhz);
  // Switches between 8-bit and 16-bit samples (and the clock that goes with them).
  bool SetOutput16Bits(bool on);
  // Stores the balance (clamped to 1..100) and writes the red and blue gains.
  bool SetRGBBalance(int red, int blue);

  bool IsUsb3Model() const { return usb3_; }
  // Frame blanking lines V and bandwidth base B (bytes per microsecond at
  // 100 %) of the USB 3 models, by host link and readout depth.
  int FrameBlanking() const;
  int BandwidthBase() const;

 protected:
  // The USB 3 models' SetHPCStates: on loads the hot-pixel map from the
  // camera's flash (false, and off again, when that fails); off empties the
  // maps in memory and reports false.
  bool SetHotPixelCorrection(bool on);

  // `dataPathValue`: what the model writes to 0x306E after each window change;
  // `usb3`: the camera has the USB 3 controller.
  CCameraTAV(okc::core::ModelId model, uint16_t dataPathValue, bool usb3, void* windowHandle);

 private:
  friend class okc::models::TavCapture;

  // Replays the sensor's initialisation table; stops at the first failed write.
  bool ReplayInitTable();
  // Writes first row, first column, (frame length,) last row and last column.
  bool WriteWindow(bool withFrameLength);

  // The USB 3 models' 100 MHz clock: from 24 MHz mode straight into it.
  bool SetUsb3Clock(int mhz);
  // Moves the sensor's PLL to `mhz` (dividers from `pll`, none for a clock
  // without PLL), keeping the integration time.
  bool ProgramPll(int mhz, const okc::models::TavcPllSetting* pll);
  // USB 3 models: V and B from the host link and the readout depth.
  void SetUsb3Timing();

  const uint16_t dataPathValue_;
  const bool usb3_;
  // USB 3 models: V and B as the last readout-depth switch set them.
  int blankingV_ = 29;
  int bandwidthB_ = 91;
  // What this camera's integration and gain registers hold, so the periodic
  // writes while capturing can skip unchanged values (0: not known). Cleared
  // whenever another path rewrites those registers.
  uint64_t exposureWritten_ = 0;
  int gainWritten_ = 0;
  // The paced line length to come back to when the long line is no longer needed.
  bool normalLineKnown_ = false;
  uint16_t normalLineLength_ = 0;
  // The sensor's temperature calibration words (0: not read yet) and the last reading.
  uint16_t calibration70_ = 0;
  uint16_t calibration55_ = 0;
  float lastTemperature_ = 0.0f;

  std::unique_ptr<okc::models::TavCapture> capture_;
};
