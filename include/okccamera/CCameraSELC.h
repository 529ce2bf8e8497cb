// SELC: the colour 752 x 480 (WVGA) camera of the PIMC family.
#pragma once

#include "okccamera/CCameraPimcFamily.h"

class OKC_API CCameraSELC : public CCameraPimcFamily {
 public:
  explicit CCameraSELC(void* windowHandle = nullptr);
  ~CCameraSELC() override;
};
