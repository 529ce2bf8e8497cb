// TAVC-U: the colour 1280 x 960 camera of the TAV family on a USB 3 controller.
#pragma once

#include "okccamera/CCameraBase.h"

class CCameraTAVC_U : public CCameraBase {
 public:
  explicit CCameraTAVC_U(void* windowHandle = nullptr);
  ~CCameraTAVC_U() override;

  bool OpenCamera(int ordinal) override;
};
