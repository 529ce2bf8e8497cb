// PIMC: the colour 640 x 480 camera.
#pragma once

#include "okccamera/CCameraBase.h"

class OKC_API CCameraPIMC : public CCameraBase {
 public:
  explicit CCameraPIMC(void* windowHandle = nullptr);
  ~CCameraPIMC() override;

  bool OpenCamera(int ordinal) override;
};
