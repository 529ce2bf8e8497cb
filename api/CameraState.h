// The process-wide state of the exported interface: the table of attached
// cameras from the last enumeration and the one current camera object.
#pragma once

#include <cstdint>
#include <memory>

#include "okccamera/CCameraBase.h"

namespace okc::api {

constexpr int kMaxCameras = 1024;

extern int32_t cameraPids[kMaxCameras];
extern int32_t cameraCount;
extern std::unique_ptr<CCameraBase> currentCamera;

// Constructs the model class for a product ID; null for an unknown one.
std::unique_ptr<CCameraBase> CreateCameraForProduct(uint16_t productId, void* windowHandle);

}  // namespace okc::api
