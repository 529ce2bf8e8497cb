// TAVM: the monochrome 1280 x 960 camera of the TAV family.
#pragma once

#include "okccamera/CCameraTAV.h"

class OKC_API CCameraTAVM : public CCameraTAV {
 public:
  explicit CCameraTAVM(void* windowHandle = nullptr);
  ~CCameraTAVM() override;
};
