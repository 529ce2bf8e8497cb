// SELM: the monochrome 752 x 480 (WVGA) camera.
#include "okccamera/CCameraSELM.h"

#include "core/ModelInfo.h"

CCameraSELM::CCameraSELM(void* windowHandle)
    : CCameraBase(okc::core::InfoOf(okc::core::ModelId::SELM).maxWidth,
                  okc::core::InfoOf(okc::core::ModelId::SELM).maxHeight) {
  const okc::core::ModelInfo& info = okc::core::InfoOf(okc::core::ModelId::SELM);
  ApplyModelInfo(info);
  CreateDeviceAndLoadSettings(windowHandle, info);
}

CCameraSELM::~CCameraSELM() { ShutDown(); }

bool CCameraSELM::OpenCamera(int ordinal) {
  return OpenDeviceByOrdinal(ordinal, modelInfo_->checksManufacturer);
}
