#include "imaging/ColourTables.h"

#include <algorithm>

namespace okc::imaging {

namespace {

// Coefficient x 65536, in thousandths: 0.257 x 65536 = 16842.752 -> 16842752.
// Integer products give the exact truncation of i x c, free of float rounding.
void FillMatrix(SharedTable<int32_t>& table, int64_t coefficientMilli) {
  for (size_t i = 0; i < SharedTable<int32_t>::kEntries; ++i)
    table.Set(i, static_cast<int32_t>(static_cast<int64_t>(i) * coefficientMilli / 1000));
}

void FillBalance(SharedTable<uint8_t>& table, int k) {
  for (size_t i = 0; i < SharedTable<uint8_t>::kEntries; ++i)
    table.Set(i, static_cast<uint8_t>(std::min<int>(255, static_cast<int>(i) * k / kNeutralBalance)));
}

}  // namespace

void BuildColourTables(ColourTables& tables) {
  FillMatrix(tables.yRed, 16842752);
  FillMatrix(tables.yGreen, 33030144);
  FillMatrix(tables.yBlue, 6422528);
  FillMatrix(tables.c439, 28770304);
  FillMatrix(tables.c368, 24117248);
  FillMatrix(tables.c071, 4653056);
  FillMatrix(tables.c291, 19070976);
  FillMatrix(tables.c148, 9699328);
  BuildBalanceTables(tables, kNeutralBalance, kNeutralBalance);
}

void BuildBalanceTables(ColourTables& tables, int red, int blue) {
  FillBalance(tables.red, std::clamp(red, kMinBalance, kMaxBalance));
  FillBalance(tables.blue, std::clamp(blue, kMinBalance, kMaxBalance));
}

ColourTables& ProcessColourTables() {
  static ColourTables* const tables = [] {
    // Never destroyed: a capture thread may still convert during process exit.
    auto* built = new ColourTables;
    BuildColourTables(*built);
    return built;
  }();
  return *tables;
}

}  // namespace okc::imaging
