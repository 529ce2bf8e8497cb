// TAVM-U: the monochrome 1280 x 960 camera of the TAV family on a USB 3 controller.
#pragma once

#include "okccamera/CCameraBase.h"

class CCameraTAVM_U : public CCameraBase {
 public:
  explicit CCameraTAVM_U(void* windowHandle = nullptr);
  ~CCameraTAVM_U() override;

  bool OpenCamera(int ordinal) override;
};
