// TAVC-U: the colour 1280 x 960 camera of the TAV family on a USB 3 controller.
#include "okccamera/CCameraTAVC_U.h"

#include "core/ModelInfo.h"

namespace {
// The sensor's data path as this model runs it.
constexpr uint16_t kDataPath = 0xF210;
}  // namespace

CCameraTAVC_U::CCameraTAVC_U(void* windowHandle) : CCameraTAV(okc::core::ModelId::TAVC_U, kDataPath, true, windowHandle) {}

CCameraTAVC_U::~CCameraTAVC_U() = default;
