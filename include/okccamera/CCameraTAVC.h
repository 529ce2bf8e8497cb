// TAVC: the colour 1280 x 960 camera of the TAV family, the reference model.
#pragma once

#include "okccamera/CCameraTAV.h"

class OKC_API CCameraTAVC : public CCameraTAV {
 public:
  explicit CCameraTAVC(void* windowHandle = nullptr);
  ~CCameraTAVC() override;
};
