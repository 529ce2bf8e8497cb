// PIMC: the colour 640 x 480 camera of the PIMC family.
#pragma once

#include "okccamera/CCameraPimcFamily.h"

class OKC_API CCameraPIMC : public CCameraPimcFamily {
 public:
  explicit CCameraPIMC(void* windowHandle = nullptr);
  ~CCameraPIMC() override;
};
