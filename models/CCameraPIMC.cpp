// PIMC: the colour 640 x 480 camera.
#include "okccamera/CCameraPIMC.h"

#include "core/ModelInfo.h"

CCameraPIMC::CCameraPIMC(void* windowHandle)
    : CCameraBase(okc::core::InfoOf(okc::core::ModelId::PIMC).maxWidth,
                  okc::core::InfoOf(okc::core::ModelId::PIMC).maxHeight) {
  const okc::core::ModelInfo& info = okc::core::InfoOf(okc::core::ModelId::PIMC);
  ApplyModelInfo(info);
  CreateDeviceAndLoadSettings(windowHandle, info);
}

CCameraPIMC::~CCameraPIMC() { ShutDown(); }

bool CCameraPIMC::OpenCamera(int ordinal) {
  return OpenDeviceByOrdinal(ordinal, modelInfo_->checksManufacturer);
}
