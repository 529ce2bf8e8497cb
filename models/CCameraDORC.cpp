// DORC: the colour 728 x 512 camera with the host-command sensor protocol.
#include "okccamera/CCameraDORC.h"

#include "core/ModelInfo.h"

CCameraDORC::CCameraDORC(void* windowHandle)
    : CCameraBase(okc::core::InfoOf(okc::core::ModelId::DORC).maxWidth,
                  okc::core::InfoOf(okc::core::ModelId::DORC).maxHeight) {
  const okc::core::ModelInfo& info = okc::core::InfoOf(okc::core::ModelId::DORC);
  ApplyModelInfo(info);
  CreateDeviceAndLoadSettings(windowHandle, info);
}

CCameraDORC::~CCameraDORC() { ShutDown(); }

bool CCameraDORC::OpenCamera(int ordinal) {
  if (opened) return true;
  if (!OpenDeviceByOrdinal(ordinal, modelInfo_->checksManufacturer)) return false;
  // The version decides whether the controller's firmware must be renewed.
  GetFirmwareVer(&fwVersion);
  return true;
}
