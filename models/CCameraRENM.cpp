// RENM: the monochrome 1280 x 1024 camera.
#include "okccamera/CCameraRENM.h"

#include "core/ModelInfo.h"

CCameraRENM::CCameraRENM(void* windowHandle)
    : CCameraBase(okc::core::InfoOf(okc::core::ModelId::RENM).maxWidth,
                  okc::core::InfoOf(okc::core::ModelId::RENM).maxHeight) {
  const okc::core::ModelInfo& info = okc::core::InfoOf(okc::core::ModelId::RENM);
  ApplyModelInfo(info);
  CreateDeviceAndLoadSettings(windowHandle, info);
}

CCameraRENM::~CCameraRENM() { ShutDown(); }

bool CCameraRENM::OpenCamera(int ordinal) {
  return OpenDeviceByOrdinal(ordinal, modelInfo_->checksManufacturer);
}
