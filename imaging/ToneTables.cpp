#include "imaging/ToneTables.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>

namespace okc::imaging {

namespace {

// The curve in single precision, as the tables have always been built:
// x = i / max, p = x^e, entry = trunc(min(max, p x max)).
template <typename Entry>
Entry ToneEntry(size_t i, double max, float exponent) {
  const float x = static_cast<float>(static_cast<double>(i) / max);
  const float p = static_cast<float>(std::pow(static_cast<double>(x), static_cast<double>(exponent)));
  double y = static_cast<double>(p) * max;
  if (y > max) y = max;
  if (y < 0.0) y = 0.0;
  return static_cast<Entry>(y);
}

// Tables are shared with a thread that may be mapping a frame: entries are
// stored and loaded whole (relaxed atomics compile to plain moves).
template <typename T>
void StoreEntry(T& slot, T value) {
  std::atomic_ref<T>(slot).store(value, std::memory_order_relaxed);
}

template <typename T>
T LoadEntry(const T& slot) {
  return std::atomic_ref<T>(const_cast<T&>(slot)).load(std::memory_order_relaxed);
}

}  // namespace

int ClampGamma(int gamma) { return std::clamp(gamma, kMinGamma, kMaxGamma); }

float ToneExponent(int gamma) {
  const int g = ClampGamma(gamma);
  return static_cast<float>(static_cast<float>((100 - g) / 100.0) + 0.5);
}

bool BuildToneTables(int gamma, std::span<uint8_t, kToneTable8Entries> table8,
                     std::span<uint16_t, kToneTable16Entries> table16) {
  if (table8.data() == nullptr || table16.data() == nullptr) return false;
  const float exponent = ToneExponent(gamma);
  for (size_t i = 0; i < kToneTable16Entries; ++i) StoreEntry(table16[i], ToneEntry<uint16_t>(i, 65535.0, exponent));
  for (size_t i = 0; i < table8.size(); ++i) StoreEntry(table8[i], ToneEntry<uint8_t>(i, 255.0, exponent));
  return true;
}

bool ApplyTone8(std::span<uint8_t> frame, int gamma, std::span<const uint8_t, kToneTable8Entries> table8) {
  if (table8.data() == nullptr) return false;
  if (ClampGamma(gamma) == kNeutralGamma) return true;
  for (uint8_t& sample : frame) sample = LoadEntry(table8[sample]);
  return true;
}

bool ApplyTone16(std::span<uint8_t> frame, int gamma, std::span<const uint16_t, kToneTable16Entries> table16) {
  if (table16.data() == nullptr) return false;
  if (ClampGamma(gamma) == kNeutralGamma) return true;
  uint8_t* bytes = frame.data();
  const size_t samples = frame.size() / 2;
  for (size_t k = 0; k < samples; ++k) {
    // memcpy keeps the access aligned-agnostic and free of aliasing tricks.
    uint16_t value;
    std::memcpy(&value, bytes + 2 * k, 2);
    value = LoadEntry(table16[value]);
    std::memcpy(bytes + 2 * k, &value, 2);
  }
  return true;
}

}  // namespace okc::imaging
