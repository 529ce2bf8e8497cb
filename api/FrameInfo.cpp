// The exported frame metadata and the split drop counts of the current camera.
#include <algorithm>

#include "api/CameraState.h"
#include "okccamera/FrameQueue.h"
#include "okccamera/okccamera.h"

extern "C" bool okcGetFrameInfo(OKCFrameInfo* info) {
  const std::shared_ptr<CCameraBase> camera = okc::api::CurrentCamera();
  if (!info || !camera || !camera->frameQueue) return false;
  const okc::core::FrameMetadata m = camera->frameQueue->Delivered();
  if (m.sequence == 0) return false;
  info->sequence = m.sequence;
  info->startUtcUs = m.startUtcUs;
  info->endUtcUs = m.endUtcUs;
  info->startMonotonicUs = m.startMonotonicUs;
  info->endMonotonicUs = m.endMonotonicUs;
  info->exposureUs = static_cast<unsigned int>(std::min<uint64_t>(m.exposureUs, 0xFFFFFFFFu));
  info->gain = m.gain;
  info->width = m.width;
  info->height = m.height;
  info->bin = m.bin;
  info->startX = m.startX;
  info->startY = m.startY;
  info->flipRow = m.flipRow;
  info->flipColumn = m.flipColumn;
  return true;
}

extern "C" bool okcGetDropCounts(unsigned int* lostByCamera, unsigned int* notCollected) {
  const std::shared_ptr<CCameraBase> camera = okc::api::CurrentCamera();
  unsigned int total = 0, host = 0;
  if (camera && camera->frameQueue) {
    // Read the part first: the total only grows while capture runs.
    host = camera->frameQueue->NotCollected();
    total = camera->droppedFrames.load();
  }
  host = std::min(host, total);
  if (lostByCamera) *lostByCamera = total - host;
  if (notCollected) *notCollected = host;
  return camera != nullptr;
}
