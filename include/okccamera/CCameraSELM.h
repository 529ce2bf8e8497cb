// SELM: the monochrome 752 x 480 (WVGA) camera of the PIMC family.
#pragma once

#include "okccamera/CCameraPimcFamily.h"

class OKC_API CCameraSELM : public CCameraPimcFamily {
 public:
  explicit CCameraSELM(void* windowHandle = nullptr);
  ~CCameraSELM() override;
};
