// DORC: the colour 728 x 512 camera with the host-command sensor protocol.
#pragma once

#include "okccamera/CCameraBase.h"

class OKC_API CCameraDORC : public CCameraBase {
 public:
  explicit CCameraDORC(void* windowHandle = nullptr);
  ~CCameraDORC() override;

  bool OpenCamera(int ordinal) override;
};
