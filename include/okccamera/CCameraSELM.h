// SELM: the monochrome 752 x 480 (WVGA) camera.
#pragma once

#include "okccamera/CCameraBase.h"

class OKC_API CCameraSELM : public CCameraBase {
 public:
  explicit CCameraSELM(void* windowHandle = nullptr);
  ~CCameraSELM() override;

  bool OpenCamera(int ordinal) override;
};
