// The process-wide state of the exported interface: the table of attached
// cameras from the last enumeration and the one current camera object.
//
// Hosts may call the exported functions from several threads. The state is
// guarded by one mutex that is held only to read or swap it, never across a
// call into a camera: each exported function takes its own reference to the
// current camera and works on that, so closeCamera on one thread cannot
// destroy the object under a getImageData still running on another. The
// object goes away when the last call that uses it returns. CameraCall.h adds
// what keeps a close from releasing the device under a call in progress.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>

#include "okccamera/CCameraBase.h"

namespace okc::api {

constexpr int kMaxCameras = 1024;

// Guards cameraPids, cameraCount and the current camera.
std::mutex& StateMutex();

// The last enumeration (guarded by StateMutex()).
extern int32_t cameraPids[kMaxCameras];
extern int32_t cameraCount;

// The current camera, or null; the reference keeps it alive while the caller uses it.
std::shared_ptr<CCameraBase> CurrentCamera();
// Makes `camera` current and returns the previous one (its owner closes it).
std::shared_ptr<CCameraBase> ExchangeCurrentCamera(std::shared_ptr<CCameraBase> camera);
// The next openCamera enumerates afresh (after the backend has changed).
void ForgetEnumeration();

// Constructs the model class for a product ID; null for an unknown one.
std::unique_ptr<CCameraBase> CreateCameraForProduct(uint16_t productId, void* windowHandle);

}  // namespace okc::api
