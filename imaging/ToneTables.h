// The gamma tone curve: building the 8-bit and 16-bit tone tables and mapping
// frames through them.
//
// Camera fields: `gamma` feeds every `gamma` argument; the camera's 8-bit tone
// table (256 bytes) and 16-bit tone table (65536 entries) are the tables.
// CCameraBase::SetGamma stores ClampGamma(value) and calls BuildToneTables;
// the frame pipeline calls ApplyTone8 / ApplyTone16 on the working frame.
//
// A rebuild may run on the application's thread while a frame is mapped on the
// delivery thread; entries are written and read atomically, so such a frame may
// see a mix of old and new entries but never a torn one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace okc::imaging {

inline constexpr int kMinGamma = 1;
inline constexpr int kMaxGamma = 100;
// At the neutral value the stages leave frames untouched: the float curve at
// exponent 1 is not an exact identity, so the tables are skipped, not applied.
inline constexpr int kNeutralGamma = 50;

inline constexpr size_t kToneTable8Entries = 256;
inline constexpr size_t kToneTable16Entries = 65536;

// `gamma` limited to 1..100.
int ClampGamma(int gamma);

// Exponent of the tone curve: 1.0 at 50, 1.49 at 1, 0.5 at 100 (gamma clamped first).
float ToneExponent(int gamma);

// Fills both tables for ClampGamma(gamma): entry i = trunc(min(max, (i/max)^e x max))
// with max 255 or 65535. False (nothing written) when a table pointer is null.
bool BuildToneTables(int gamma, std::span<uint8_t, kToneTable8Entries> table8,
                     std::span<uint16_t, kToneTable16Entries> table16);
// The same with the camera's owned 16-bit table: `table16` holds kToneTable16Entries entries.
inline bool BuildToneTables(int gamma, std::span<uint8_t, kToneTable8Entries> table8, uint16_t* table16) {
  return BuildToneTables(gamma, table8, std::span<uint16_t, kToneTable16Entries>(table16, kToneTable16Entries));
}

// Replaces every byte of `frame` by its 8-bit tone entry; nothing when gamma is neutral.
// `frame` is the whole 8-bit working frame (width x bin by height x bin bytes).
bool ApplyTone8(std::span<uint8_t> frame, int gamma, std::span<const uint8_t, kToneTable8Entries> table8);

// Replaces every native-endian 16-bit sample of `frame` by its 16-bit tone entry;
// nothing when gamma is neutral. `frame` holds width x bin by height x bin samples
// (an odd trailing byte is left alone). False when the table pointer is null.
bool ApplyTone16(std::span<uint8_t> frame, int gamma, std::span<const uint16_t, kToneTable16Entries> table16);
inline bool ApplyTone16(std::span<uint8_t> frame, int gamma, const uint16_t* table16) {
  return ApplyTone16(frame, gamma, std::span<const uint16_t, kToneTable16Entries>(table16, kToneTable16Entries));
}

}  // namespace okc::imaging
