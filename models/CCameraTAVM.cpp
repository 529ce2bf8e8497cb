// TAVM: the monochrome 1280 x 960 camera of the TAV family.
#include "okccamera/CCameraTAVM.h"

#include "core/ModelInfo.h"

namespace {
// The sensor's data path as this model runs it.
constexpr uint16_t kDataPath = 0x9200;
}  // namespace

CCameraTAVM::CCameraTAVM(void* windowHandle) : CCameraTAV(okc::core::ModelId::TAVM, kDataPath, false, windowHandle) {}

CCameraTAVM::~CCameraTAVM() = default;
