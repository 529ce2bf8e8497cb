#include "api/CameraState.h"
#include "okccamera/CCameraDORC.h"
#include "okccamera/CCameraPIMC.h"
#include "okccamera/CCameraRENM.h"
#include "okccamera/CCameraSELC.h"
#include "okccamera/CCameraSELM.h"
#include "okccamera/CCameraTAVC.h"
#include "okccamera/CCameraTAVC_U.h"
#include "okccamera/CCameraTAVM.h"
#include "okccamera/CCameraTAVM_U.h"

namespace okc::api {

std::unique_ptr<CCameraBase> CreateCameraForProduct(uint16_t productId, void* windowHandle) {
  switch (productId) {
    case 0x6101: return std::make_unique<CCameraTAVM>(windowHandle);
    case 0x6102: return std::make_unique<CCameraTAVC>(windowHandle);
    case 0x6103: return std::make_unique<CCameraTAVM_U>(windowHandle);
    case 0x6104: return std::make_unique<CCameraTAVC_U>(windowHandle);
    case 0x6105: return std::make_unique<CCameraRENM>(windowHandle);
    case 0x6106: return std::make_unique<CCameraPIMC>(windowHandle);
    case 0x6107: return std::make_unique<CCameraDORC>(windowHandle);
    case 0x6108: return std::make_unique<CCameraSELM>(windowHandle);
    case 0x6109: return std::make_unique<CCameraSELC>(windowHandle);
    default: return nullptr;
  }
}

}  // namespace okc::api
