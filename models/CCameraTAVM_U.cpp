// TAVM-U: the monochrome 1280 x 960 camera of the TAV family on a USB 3 controller.
#include "okccamera/CCameraTAVM_U.h"

#include "core/ModelInfo.h"

CCameraTAVM_U::CCameraTAVM_U(void* windowHandle)
    : CCameraBase(okc::core::InfoOf(okc::core::ModelId::TAVM_U).maxWidth,
                  okc::core::InfoOf(okc::core::ModelId::TAVM_U).maxHeight) {
  const okc::core::ModelInfo& info = okc::core::InfoOf(okc::core::ModelId::TAVM_U);
  ApplyModelInfo(info);
  CreateDeviceAndLoadSettings(windowHandle, info);
}

CCameraTAVM_U::~CCameraTAVM_U() { ShutDown(); }

bool CCameraTAVM_U::OpenCamera(int ordinal) {
  return OpenDeviceByOrdinal(ordinal, modelInfo_->checksManufacturer);
}
