// PLL settings and the clock choice of the TAV family's sensor.
#include "models/TavcClock.h"

#include <iterator>

namespace okc::models {
namespace {

constexpr TavcPllSetting kPllTable[] = {
    {6, 16, 4, 2, 16},  {25, 2, 8, 3, 25},  {27, 2, 10, 2, 23}, {31, 2, 8, 6, 63},
    {33, 2, 8, 6, 66},  {40, 2, 8, 3, 40},  {50, 1, 8, 3, 25},  {55, 1, 10, 2, 23},
    {62, 1, 8, 6, 63},  {66, 1, 8, 6, 66},  {80, 1, 8, 6, 80},
};

}  // namespace

const TavcPllSetting* FindTavcPll(int mhz) {
  for (const TavcPllSetting& row : kPllTable)
    if (row.mhz == mhz) return &row;
  return nullptr;
}

int ChooseTavcClock(int columns, bool sixteenBit) {
  const int k = sixteenBit ? 2 : 1;
  if (columns > 1024) return 50 / k;
  if (columns > 960) return 62 / k;
  if (columns > 800) return 66 / k;
  if (columns > 480) return 80 / k;
  if (columns > 320) return sixteenBit ? 50 : 80;
  return 80;
}

}  // namespace okc::models
