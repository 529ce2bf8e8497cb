// The fixed record of each camera model: identity, sensor, capabilities and
// the defaults its constructor sets before the stored settings are loaded.
#pragma once

#include <cstdint>

namespace okc::core {

enum class ModelId { TAVM, TAVC, RENM, SELC, SELM, PIMC, DORC, TAVM_U, TAVC_U };
constexpr int kModelCount = 9;

struct ModelInfo {
  ModelId id;
  uint16_t productId;
  const char* modelName;      // also what getCameraModel reports
  const wchar_t* settingsKey;  // per-model key of the stored settings
  int maxWidth, maxHeight;
  double pixelSize;           // micrometres
  bool isColor;
  int bayerPattern;
  int modelNumber;
  bool bin2Supported;
  int fpsPercentMin, fpsPercentMax;
  int exposureMax;            // microseconds
  bool autoFpsSupported;
  // gain, exposure, gamma, brightness, transfer speed, red, blue
  bool controls[7];
  // raw 8-bit, 24-bit colour, 8-bit luminance, raw 16-bit
  bool formats[4];
  // defaults
  uint64_t exposure;
  int cmosClk;
  int wbRed, wbBlue;
  int fpsPercent;
  bool autoFps;
  uint16_t lineLength;
  int fpsPercentUsb3;
  bool autoBL;
  // Whether OpenCamera requires the manufacturer string to begin with "YRA".
  bool checksManufacturer;
};

// The models in the order their device classes are enumerated.
const ModelInfo& InfoOf(ModelId id);
// The model with this USB product ID, or null.
const ModelInfo* InfoOfProduct(uint16_t productId);
const ModelInfo* AllModels();  // kModelCount entries, enumeration order

}  // namespace okc::core
