// RENM: the monochrome 1280 x 1024 camera.
#pragma once

#include "okccamera/CCameraBase.h"

class OKC_API CCameraRENM : public CCameraBase {
 public:
  explicit CCameraRENM(void* windowHandle = nullptr);
  ~CCameraRENM() override;

  bool OpenCamera(int ordinal) override;
};
