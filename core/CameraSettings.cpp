// The settings a camera keeps between runs, one record per model in the user's store.
#include <cstring>

#include "core/ModelInfo.h"
#include "okccamera/CCameraBase.h"
#include "platform/SettingsStore.h"

namespace {

using okc::platform::SettingsKey;

// A flag stored as one byte.
void QueryFlag(SettingsKey& key, const char* name, bool& field) {
  uint8_t byte = 0;
  if (key.QueryBytes(name, &byte, 1)) field = byte != 0;
}

template <typename T>
void QueryNumber32(SettingsKey& key, const char* name, T& field) {
  static_assert(sizeof(T) == 4);
  T value;
  if (key.QueryNumber(name, &value, 4)) field = value;
}

void SetFlag(SettingsKey& key, const char* name, bool field) {
  const uint8_t byte = field ? 1 : 0;
  key.SetBytes(name, &byte, 1);
}

void SetNumber32(SettingsKey& key, const char* name, int32_t value) { key.SetNumber(name, &value, 4); }

}  // namespace

void CCameraBase::LoadSetting(const wchar_t* keyName) {
  std::lock_guard lock(SensorLock());
  if (auto key = SettingsKey::Open(keyName)) {
    uint32_t low = 0;
    if (key->QueryNumber("Exposure", &low, 4)) exposure = (exposure & 0xFFFFFFFF00000000ull) | low;
    QueryNumber32(*key, "Gain", gain);
    QueryNumber32(*key, "Gamma", gamma);
    QueryNumber32(*key, "Brightness", brightness);
    QueryNumber32(*key, "Fclk", cmosClk);
    QueryNumber32(*key, "FPSPercentageUSB3", fpsPercentUsb3);
    QueryNumber32(*key, "FPSPercentageUSB2", fpsPercent);
    QueryFlag(*key, "AutoBL", autoBL);
    key->QueryNumber("OO", &blackLevelOO, 1);
    key->QueryNumber("EE", &blackLevelEE, 1);
    key->QueryNumber("OE", &blackLevelOE, 1);
    key->QueryNumber("EO", &blackLevelEO, 1);
    QueryNumber32(*key, "AutoGainMax", autoGainMax);
    QueryNumber32(*key, "AutoExpMax", autoExpMax);
    QueryNumber32(*key, "DestBrightness", destBrightness);
    QueryNumber32(*key, "WB_Red", wbRed);
    QueryNumber32(*key, "WB_Blue", wbBlue);
    char path[sizeof(bmpPath)];
    if (key->QueryBytes("BMPPATH", path, sizeof(path))) {
      std::memcpy(bmpPath, path, sizeof(bmpPath));
      bmpPath[sizeof(bmpPath) - 1] = '\0';  // a stored path without its terminator stays a string
    }
    QueryFlag(*key, "FlipRow", flipRow);
    QueryFlag(*key, "FlipColumn", flipColumn);
    QueryFlag(*key, "AutoFPS", autoFps);
    QueryFlag(*key, "AutoExp", autoExp);
    QueryFlag(*key, "AutoGain", autoGain);
    QueryFlag(*key, "AutoWB", autoWB);
    QueryFlag(*key, "RawOutput", rawOutput);
    QueryFlag(*key, "TimeMark", timeMark);
    QueryFlag(*key, "HPC", hpcEnabled);
    QueryFlag(*key, "CutDark", useDark);
  }
  // Dark subtraction works on full frames: start from the full sensor and load the dark frame.
  if (useDark) {
    width = maxWidth;
    height = maxHeight;
    bin = 1;
    LoadBMPFromFile(bmpPath);
  }
}

void CCameraBase::SaveSettings() {
  if (modelInfo_) SaveSetting(modelInfo_->settingsKey);
}

void CCameraBase::SaveSetting(const wchar_t* keyName) {
  std::lock_guard lock(SensorLock());
  auto key = SettingsKey::Open(keyName);
  if (!key) key = SettingsKey::Create(keyName);
  if (!key) return;
  const uint32_t low = static_cast<uint32_t>(exposure & 0xFFFFFFFFull);
  key->SetNumber("Exposure", &low, 4);
  SetNumber32(*key, "Gain", gain);
  SetNumber32(*key, "Gamma", gamma);
  SetNumber32(*key, "Brightness", brightness);
  SetNumber32(*key, "Fclk", cmosClk);
  SetNumber32(*key, usb3Host ? "FPSPercentageUSB3" : "FPSPercentageUSB2", fpsPercent);
  SetFlag(*key, "AutoBL", autoBL);
  key->SetNumber("OO", &blackLevelOO, 1);
  key->SetNumber("EE", &blackLevelEE, 1);
  key->SetNumber("OE", &blackLevelOE, 1);
  key->SetNumber("EO", &blackLevelEO, 1);
  SetNumber32(*key, "AutoGainMax", autoGainMax);
  SetNumber32(*key, "AutoExpMax", autoExpMax);
  SetNumber32(*key, "DestBrightness", destBrightness);
  SetNumber32(*key, "WB_Red", wbRed);
  SetNumber32(*key, "WB_Blue", wbBlue);
  key->SetBytes("BMPPATH", bmpPath, sizeof(bmpPath));
  SetFlag(*key, "FlipRow", flipRow);
  SetFlag(*key, "FlipColumn", flipColumn);
  SetFlag(*key, "AutoFPS", autoFps);
  SetFlag(*key, "AutoExp", autoExp);
  SetFlag(*key, "AutoGain", autoGain);
  SetFlag(*key, "AutoWB", autoWB);
  SetFlag(*key, "RawOutput", rawOutput);
  SetFlag(*key, "TimeMark", timeMark);
  SetFlag(*key, "HPC", hpcEnabled);
  SetFlag(*key, "CutDark", useDark);
  key->Close();
}
