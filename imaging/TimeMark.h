// The date and time mark (CCameraBase::AddTimeMark): the local date and time
// to the millisecond, burnt into a delivered frame near the end of its first
// rows with a built-in 8 x 16 font of eleven glyphs, in a grey chosen from the
// background so that it stays readable.
//
// Layout for a frame W pixels wide: the date "YYYYMMDD" in columns W - 200 ..
// W - 137 and the time "hh:mm:ss:mmm" in columns W - 128 .. W - 33, both in
// rows 7 .. 22. Parts of the mark that fall outside a smaller frame are left
// out; nothing is written outside the frame.
//
// Camera fields: `timeMark` decides whether the delivery calls it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "okccamera/CameraTypes.h"
#include "okccamera/WallClock.h"

namespace okc::imaging {

inline constexpr int kTimeMarkGlyphRows = 16;
inline constexpr int kTimeMarkGlyphColumns = 8;
// First frame row of the mark, and how far before the right edge date and time begin.
inline constexpr int kTimeMarkTopRow = 7;
inline constexpr int kTimeMarkDateFromRight = 200;
inline constexpr int kTimeMarkTimeFromRight = 128;
// The background is measured under the first 128 columns of the mark.
inline constexpr int kTimeMarkBackgroundColumns = 128;

// Glyphs of "0" .. "9" and ":" (index = character - '0'). Row 0 is drawn on the
// lowest-numbered frame row; bit 0 is the leftmost column; a set bit is ink.
// Against a usual font the glyphs are upside down and bit-reversed.
extern const std::array<std::array<uint8_t, kTimeMarkGlyphRows>, 11> kTimeMarkFont;

// "%4d%02d%02d" of year, month and day.
std::string TimeMarkDate(const platform::LocalTime& time);
// "%02d:%02d:%02d:%03d" of hour, minute, second and millisecond.
std::string TimeMarkTime(const platform::LocalTime& time);
// Ink for a background mean: 180 on dark, 220 on middle, 120 on bright ground.
uint8_t TimeMarkInk(int backgroundMean);

// Draws the mark of `time` into a frame of width x height pixels of `type`:
// IMAGE_8BIT (one byte a pixel) or IMAGE_RGB24 (three equal bytes per inked
// pixel). Other types, a null frame or `bytes` short of the frame are left alone.
void AddTimeMark(uint8_t* frame, size_t bytes, int width, int height, IMAGE_TYPE type,
                 const platform::LocalTime& time);

}  // namespace okc::imaging
