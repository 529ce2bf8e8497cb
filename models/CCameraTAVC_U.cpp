// TAVC-U: the colour 1280 x 960 camera of the TAV family on a USB 3 controller.
#include "okccamera/CCameraTAVC_U.h"

#include "core/ModelInfo.h"

CCameraTAVC_U::CCameraTAVC_U(void* windowHandle)
    : CCameraBase(okc::core::InfoOf(okc::core::ModelId::TAVC_U).maxWidth,
                  okc::core::InfoOf(okc::core::ModelId::TAVC_U).maxHeight) {
  const okc::core::ModelInfo& info = okc::core::InfoOf(okc::core::ModelId::TAVC_U);
  ApplyModelInfo(info);
  CreateDeviceAndLoadSettings(windowHandle, info);
}

CCameraTAVC_U::~CCameraTAVC_U() { ShutDown(); }

bool CCameraTAVC_U::OpenCamera(int ordinal) {
  return OpenDeviceByOrdinal(ordinal, modelInfo_->checksManufacturer);
}
