// SELC: the colour 752 x 480 (WVGA) camera.
#pragma once

#include "okccamera/CCameraBase.h"

class OKC_API CCameraSELC : public CCameraBase {
 public:
  explicit CCameraSELC(void* windowHandle = nullptr);
  ~CCameraSELC() override;

  bool OpenCamera(int ordinal) override;
};
