#include "core/ModelInfo.h"

namespace okc::core {

namespace {

// clang-format off
constexpr ModelInfo kModels[kModelCount] = {
  // id              pid     name               key                      sensor      pixel colour bayer num bin2 fps%     expMax      autoFps controls                 formats                exposure clk wbR wbB fps% autoFps line  fpsU3 autoBL  YRA-check
  {ModelId::TAVM,   0x6101, "YRA OKCTAVM",   L"SOFTWARE\\OKCTAVM",   1280,  960, 3.75, false, 0, 0, true,  40, 100, 1000000000, true,  {1,1,1,1,1,0,0}, {1,0,0,1}, 33000, 50, 52, 95, 80, true,  1650, 0,   false, true},
  {ModelId::TAVC,   0x6102, "YRA OKCTAVC",   L"SOFTWARE\\OKCTAVC",   1280,  960, 3.75, true,  2, 1, true,  40, 100, 1000000000, true,  {1,1,1,1,1,1,1}, {1,1,1,1}, 33000, 50, 52, 95, 80, true,  1650, 0,   false, true},
  {ModelId::RENM,   0x6105, "YRA OKCRENM",   L"SOFTWARE\\OKCRENM",   1280, 1024, 5.2,  false, 0, 3, true,   1,   2, 1000000000, true,  {1,1,1,0,1,0,0}, {1,0,0,1}, 33000, 48,  0,  0,  0, false,    0, 0,   true,  true},
  {ModelId::SELC,   0x6109, "YRA OKCSELC",   L"SOFTWARE\\OKCSELC",    752,  480, 6.0,  true,  1, 5, false,  1,   2, 1000000000, false, {1,1,1,0,0,1,1}, {1,1,1,0}, 33000, 30, 45, 70,  0, false,    0, 0,   false, true},
  {ModelId::SELM,   0x6108, "YRA OKCSELM",   L"SOFTWARE\\OKCSELM",    752,  480, 6.0,  false, 1, 4, false,  1,   2, 1000000000, false, {1,1,1,0,0,0,0}, {1,0,0,0}, 33000, 30,  0,  0,  0, false,    0, 0,   false, true},
  {ModelId::PIMC,   0x6106, "YRA OKCPIMC",   L"SOFTWARE\\OKCPIMC",    640,  480, 6.0,  true,  1, 6, false,  1,   2,    4000000, false, {1,1,1,0,0,1,1}, {1,1,1,0}, 33000, 24, 45, 70,  0, false,    0, 0,   false, true},
  {ModelId::DORC,   0x6107, "YRA OKCDORC",   L"SOFTWARE\\OKCDORC",    728,  512, 5.6,  true,  2, 2, true,  50, 100,   60000000, true,  {1,1,1,1,1,1,1}, {1,1,1,0}, 33000, 48, 41, 94, 80, false,  938, 0,   false, true},
  {ModelId::TAVM_U, 0x6103, "YRA OKCTAVM-U", L"SOFTWARE\\OKCTAVM-U", 1280,  960, 3.75, false, 2, 7, true,  40, 100, 1000000000, true,  {1,1,1,1,1,0,0}, {1,0,0,1}, 14000, 50, 52, 95, 86, true,  1650, 100, false, false},
  {ModelId::TAVC_U, 0x6104, "YRA OKCTAVC-U", L"SOFTWARE\\OKCTAVC-U", 1280,  960, 3.75, true,  2, 8, true,  40, 100, 1000000000, true,  {1,1,1,1,1,1,1}, {1,1,1,1}, 14000, 50, 52, 95, 86, true,  1650, 100, false, false},
};
// clang-format on

}  // namespace

const ModelInfo& InfoOf(ModelId id) { return kModels[static_cast<int>(id)]; }

const ModelInfo* InfoOfProduct(uint16_t productId) {
  for (const ModelInfo& m : kModels)
    if (m.productId == productId) return &m;
  return nullptr;
}

const ModelInfo* AllModels() { return kModels; }

}  // namespace okc::core
