// TAVC-U: the colour 1280 x 960 camera of the TAV family on a USB 3 controller.
#pragma once

#include "okccamera/CCameraTAV.h"

class OKC_API CCameraTAVC_U : public CCameraTAV {
 public:
  explicit CCameraTAVC_U(void* windowHandle = nullptr);
  ~CCameraTAVC_U() override;

  // Hot-pixel correction from the map in the camera's flash.
  bool SetHPCStates(bool on) { return SetHotPixelCorrection(on); }
  bool IsHPCEnable() const { return hpcEnabled; }
};
