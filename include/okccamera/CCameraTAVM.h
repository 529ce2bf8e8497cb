// TAVM: the monochrome 1280 x 960 camera of the TAV family.
#pragma once

#include "okccamera/CCameraBase.h"

class CCameraTAVM : public CCameraBase {
 public:
  explicit CCameraTAVM(void* windowHandle = nullptr);
  ~CCameraTAVM() override;

  bool OpenCamera(int ordinal) override;
};
