// TAVM: the monochrome 1280 x 960 camera of the TAV family.
#include "okccamera/CCameraTAVM.h"

#include "core/ModelInfo.h"

CCameraTAVM::CCameraTAVM(void* windowHandle)
    : CCameraBase(okc::core::InfoOf(okc::core::ModelId::TAVM).maxWidth,
                  okc::core::InfoOf(okc::core::ModelId::TAVM).maxHeight) {
  const okc::core::ModelInfo& info = okc::core::InfoOf(okc::core::ModelId::TAVM);
  ApplyModelInfo(info);
  CreateDeviceAndLoadSettings(windowHandle, info);
}

CCameraTAVM::~CCameraTAVM() { ShutDown(); }

bool CCameraTAVM::OpenCamera(int ordinal) {
  if (opened) return true;
  if (!OpenDeviceByOrdinal(ordinal, modelInfo_->checksManufacturer)) return false;
  // The version decides whether the controller's firmware must be renewed.
  GetFirmwareVer(&fwVersion);
  return true;
}
