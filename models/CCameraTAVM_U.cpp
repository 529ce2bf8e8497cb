// TAVM-U: the monochrome 1280 x 960 camera of the TAV family on a USB 3 controller.
#include "okccamera/CCameraTAVM_U.h"

#include "core/ModelInfo.h"

namespace {
// The sensor's data path as this model runs it.
constexpr uint16_t kDataPath = 0xF200;
}  // namespace

CCameraTAVM_U::CCameraTAVM_U(void* windowHandle) : CCameraTAV(okc::core::ModelId::TAVM_U, kDataPath, true, windowHandle) {}

CCameraTAVM_U::~CCameraTAVM_U() = default;
