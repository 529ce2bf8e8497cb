// The process-wide look-up tables of the colour conversions: eight BT.601
// colour-matrix tables in 16.16 fixed point and the red and blue balance tables
// through which software white balance acts.
//
// Camera fields: `wbRed` and `wbBlue` feed BuildBalanceTables. The CCameraBase
// constructor calls BuildColourTables(ProcessColourTables()); the software-balance
// models (PIMC, SELC) call BuildBalanceTables from SetRGBBalance.
//
// Automatic white balance may rebuild the balance tables while the delivery
// thread converts a frame. Entries are atomic, and every conversion copies the
// tables it needs once at its start, so a frame uses one balance throughout.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>

namespace okc::imaging {

inline constexpr int kNeutralBalance = 50;
inline constexpr int kMinBalance = 0;
inline constexpr int kMaxBalance = 100;

// 256 entries that one thread may rewrite while others read them.
template <typename T>
class SharedTable {
 public:
  static constexpr size_t kEntries = 256;

  T operator[](size_t i) const { return entries_[i].load(std::memory_order_relaxed); }
  void Set(size_t i, T value) { entries_[i].store(value, std::memory_order_relaxed); }

  std::array<T, kEntries> Snapshot() const {
    std::array<T, kEntries> copy;
    for (size_t i = 0; i < kEntries; ++i) copy[i] = (*this)[i];
    return copy;
  }

 private:
  std::array<std::atomic<T>, kEntries> entries_{};
};

struct ColourTables {
  // Luma weights (entry i = trunc(i x coefficient x 65536)).
  SharedTable<int32_t> yRed;    // 0.257
  SharedTable<int32_t> yGreen;  // 0.504
  SharedTable<int32_t> yBlue;   // 0.098
  // Chroma weights.
  SharedTable<int32_t> c439;  // 0.439
  SharedTable<int32_t> c368;  // 0.368
  SharedTable<int32_t> c071;  // 0.071
  SharedTable<int32_t> c291;  // 0.291
  SharedTable<int32_t> c148;  // 0.148
  // White balance: red samples (byte 2 of a pixel) and blue samples (byte 0).
  SharedTable<uint8_t> red;
  SharedTable<uint8_t> blue;
};

// Fills the eight colour-matrix tables and resets the balance tables to identity.
void BuildColourTables(ColourTables& tables);

// Rebuilds the balance tables: entry i = min(255, i x k / 50), k = red or blue
// limited to 0..100. 50 is the identity, 100 doubles, 0 blacks the channel out.
void BuildBalanceTables(ColourTables& tables, int red, int blue);

// The process-wide tables, already built (identity balance) at first use.
ColourTables& ProcessColourTables();

}  // namespace okc::imaging
