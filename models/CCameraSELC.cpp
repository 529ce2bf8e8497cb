// SELC: the colour 752 x 480 (WVGA) camera.
#include "okccamera/CCameraSELC.h"

#include "core/ModelInfo.h"

CCameraSELC::CCameraSELC(void* windowHandle)
    : CCameraBase(okc::core::InfoOf(okc::core::ModelId::SELC).maxWidth,
                  okc::core::InfoOf(okc::core::ModelId::SELC).maxHeight) {
  const okc::core::ModelInfo& info = okc::core::InfoOf(okc::core::ModelId::SELC);
  ApplyModelInfo(info);
  CreateDeviceAndLoadSettings(windowHandle, info);
}

CCameraSELC::~CCameraSELC() { ShutDown(); }

bool CCameraSELC::OpenCamera(int ordinal) {
  return OpenDeviceByOrdinal(ordinal, modelInfo_->checksManufacturer);
}
