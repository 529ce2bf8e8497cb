// One INDI CCD device for one camera of this library. The library serves one
// open camera per process, so one device of the driver can be connected at a
// time; the others refuse to connect until it disconnects.
#pragma once

#include <libindi/indiccd.h>
#include <libindi/indipropertynumber.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "indi/CaptureWorker.h"
#include "okccamera/okccamera.h"
#include "tools/common/FitsFrame.h"

namespace okc::indi {

class OkcCcd : public INDI::CCD {
 public:
  // cameraIndex: the camera's place among the attached cameras; -1 for the
  // device that stands in when none is attached (it connects to a simulated
  // camera only).
  OkcCcd(int cameraIndex, const std::string& deviceName);
  ~OkcCcd() override;

  const char* getDefaultName() override;
  bool initProperties() override;
  bool updateProperties() override;
  bool ISNewNumber(const char* dev, const char* name, double values[], char* names[], int n) override;
  void TimerHit() override;

  // The model simulated when SIMULATION is on.
  static constexpr const char* kSimulatedModel = "TAVC";

 protected:
  bool Connect() override;
  bool Disconnect() override;
  bool StartExposure(float duration) override;
  bool AbortExposure() override;
  bool UpdateCCDFrame(int x, int y, int w, int h) override;
  bool UpdateCCDBin(int hor, int ver) override;
  bool SetCaptureFormat(uint8_t index) override;
  bool StartStreaming() override;
  bool StopStreaming() override;
  IPState GuideNorth(uint32_t ms) override;
  IPState GuideSouth(uint32_t ms) override;
  IPState GuideEast(uint32_t ms) override;
  IPState GuideWest(uint32_t ms) override;
  void addFITSKeywords(INDI::CCDChip* targetChip) override;
  bool saveConfigItems(FILE* fp) override;

 private:
  // A guide axis of the ST4 port: pulses run on their own thread, as the
  // library's pulseGuide waits for the pulse's length.
  struct GuideAxis {
    std::thread thread;
    std::atomic<bool> done{false};
  };

  // Sets format, binning and region (unbinned delivered pixels, as CCD_FRAME)
  // on the camera, moved and shrunk to what it accepts, and shows the result in
  // CCD_FRAME, CCD_BINNING and the bit depth. False with a message logged.
  bool ApplyFormat(int x, int y, int w, int h, int bin, int bitsPerPixel);
  void DefineControls();
  void DeliverFrame(std::vector<uint8_t>& frame, const OKCFrameInfo* info);
  void UpdateExposureLeft();
  void UpdateTemperature();
  void UpdateBayerPattern();
  IPState Guide(GuideAxis& axis, GuideD direction, uint32_t ms);
  void FinishGuidePulses();
  size_t FrameBytes() const;

  const int cameraIndex_;
  const std::string deviceName_;
  std::string model_;
  int bitsPerPixel_ = 16;
  int bin_ = 1;
  CaptureWorker worker_;
  double exposureSeconds_ = 0;
  std::chrono::steady_clock::time_point exposureStart_;
  double exposureLeftShown_ = -1;
  std::chrono::steady_clock::time_point temperatureRead_;
  GuideAxis northSouth_, eastWest_;
  okccam::FrameInfo header_;  // the FITS keywords of the frame being sent
  INDI::PropertyNumber ControlsNP{0};
  std::vector<Control_TYPE> controlIds_;  // the library's control behind each element of ControlsNP
  int timerId_ = -1;
};

}  // namespace okc::indi
