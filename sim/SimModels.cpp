// The nine camera models as the simulator presents them: product ID, short
// name and whether the controller is the USB 3 one.
#include <array>
#include <cctype>

#include "okccamera/SimCameras.h"

namespace okc::sim {

namespace {

struct ModelInfo {
  Model model;
  uint16_t productId;
  const char* shortName;
  bool usb3;
};

constexpr std::array<ModelInfo, kModelCount> kModels = {{
    {Model::TAVM, 0x6101, "TAVM", false},
    {Model::TAVC, 0x6102, "TAVC", false},
    {Model::RENM, 0x6105, "RENM", false},
    {Model::SELC, 0x6109, "SELC", false},
    {Model::SELM, 0x6108, "SELM", false},
    {Model::PIMC, 0x6106, "PIMC", false},
    {Model::DORC, 0x6107, "DORC", false},
    {Model::TAVM_U, 0x6103, "TAVM-U", true},
    {Model::TAVC_U, 0x6104, "TAVC-U", true},
}};

const ModelInfo& InfoOf(Model model) {
  for (const ModelInfo& info : kModels) {
    if (info.model == model) return info;
  }
  return kModels[1];  // unreachable for valid enum values; TAVC as a safe answer
}

// Case-insensitive comparison that also takes '_' for '-'.
bool SameName(std::string_view given, std::string_view name) {
  if (given.size() != name.size()) return false;
  for (size_t i = 0; i < given.size(); ++i) {
    char c = static_cast<char>(std::toupper(static_cast<unsigned char>(given[i])));
    if (c == '_') c = '-';
    if (c != name[i]) return false;
  }
  return true;
}

}  // namespace

uint16_t ProductIdOf(Model model) { return InfoOf(model).productId; }

const char* ShortNameOf(Model model) { return InfoOf(model).shortName; }

bool IsUsb3Model(Model model) { return InfoOf(model).usb3; }

std::optional<Model> ParseModel(std::string_view name) {
  for (const ModelInfo& info : kModels) {
    if (SameName(name, info.shortName)) return info.model;
  }
  return std::nullopt;
}

}  // namespace okc::sim
