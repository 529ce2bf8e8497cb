// TAVC: the colour 1280 x 960 camera of the TAV family, the reference model.
#include "okccamera/CCameraTAVC.h"

#include "core/ModelInfo.h"

namespace {
// The sensor's data path as the colour USB 2 model runs it.
constexpr uint16_t kTavcDataPath = 0x9210;
}  // namespace

CCameraTAVC::CCameraTAVC(void* windowHandle) : CCameraTAV(okc::core::ModelId::TAVC, kTavcDataPath, false, windowHandle) {}

CCameraTAVC::~CCameraTAVC() = default;
