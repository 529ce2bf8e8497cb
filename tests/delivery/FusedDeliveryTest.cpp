// The one-pass delivery against the stages it replaces, run one after the
// other on the whole frame: random frames over every output, bin, mirror,
// tone, balance and cell layout, odd and tiny sizes, at each instruction-set
// level this machine has.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "core/FrameDelivery.h"
#include "imaging/Binning.h"
#include "imaging/ColourConvert.h"
#include "imaging/ColourTables.h"
#include "imaging/Demosaic.h"
#include "imaging/Flip.h"
#include "imaging/FusedDelivery.h"
#include "imaging/SimdLevel.h"
#include "imaging/ToneTables.h"

namespace {

using okc::imaging::FusedOutput;
using okc::imaging::SimdLevel;
using okc::imaging::WideLayout;

struct Case {
  FusedOutput output = FusedOutput::kRGB24;
  int width = 8, height = 8, bin = 1;
  int pattern = 0;
  bool fixedLayout = false;  // demosaic as the first layout without mirrors (the luminance variant)
  bool flipRow = false, flipColumn = false;
  int gamma = 50;
  int red = 50, blue = 50;
  WideLayout wide = WideLayout::kPacked12;
  enum class Fill { kRandom, kExtremes, kEveryValue };
  // kExtremes: samples only 0, 1, 254 and 255 (sums at their limits, halves
  // that round); kEveryValue: all 256 values in every row, in a shuffled order.
  Fill fill = Fill::kRandom;

  std::string Name() const {
    return "output " + std::to_string(static_cast<int>(output)) + " " + std::to_string(width) + "x" +
           std::to_string(height) + " bin " + std::to_string(bin) + " pattern " + std::to_string(pattern) +
           (fixedLayout ? " fixed" : "") + " flips " + std::to_string(flipRow) + std::to_string(flipColumn) +
           " gamma " + std::to_string(gamma) + " balance " + std::to_string(red) + "/" + std::to_string(blue) +
           " wide " + std::to_string(static_cast<int>(wide)) + " fill " + std::to_string(static_cast<int>(fill));
  }
  bool SixteenBit() const { return output == FusedOutput::kRaw16; }
  size_t SensorSamples() const { return static_cast<size_t>(width) * bin * height * bin; }
};

okc::core::WideSamples CoreLayout(WideLayout layout) {
  switch (layout) {
    case WideLayout::kPacked12: return okc::core::WideSamples::Packed12;
    case WideLayout::kHighFirstShift6: return okc::core::WideSamples::HighFirstShift6;
    default: return okc::core::WideSamples::AsTheyLie;
  }
}

struct Tones {
  explicit Tones(int gamma) : table16(okc::imaging::kToneTable16Entries) {
    okc::imaging::BuildToneTables(gamma, table8, table16.data());
  }
  std::array<uint8_t, 256> table8{};
  std::vector<uint16_t> table16;
};

// Tone tables take a while to build: one set per gamma for the whole program.
const Tones& TonesFor(int gamma) {
  static std::map<int, Tones> built;
  return built.try_emplace(gamma, gamma).first->second;
}

// The stages in the order frame delivery runs them on a whole working frame.
std::vector<uint8_t> Reference(const Case& c, std::vector<uint8_t> frame, const Tones& tones,
                               const okc::imaging::ColourTables& tables) {
  using namespace okc::imaging;
  const int sensorWidth = c.width * c.bin, sensorHeight = c.height * c.bin;
  std::span<uint8_t> raw(frame);
  if (c.SixteenBit()) {
    okc::core::UnpackWideSamples(CoreLayout(c.wide), frame.data(), frame.size());
    ApplyTone16(raw, c.gamma, tones.table16.data());
  } else {
    ApplyTone8(raw, c.gamma, std::span<const uint8_t, 256>(tones.table8));
  }
  EXPECT_TRUE(SoftMisc(raw, sensorWidth, sensorHeight, c.SixteenBit() ? 2 : 1, c.flipRow, c.flipColumn));
  const size_t pixels = static_cast<size_t>(c.width) * c.height;
  switch (c.output) {
    case FusedOutput::kRaw8:
    case FusedOutput::kRaw16: return frame;
    case FusedOutput::kGrey24: {
      std::vector<uint8_t> out(3 * pixels);
      EXPECT_TRUE(GreyToRGB24(raw, out, c.width, c.height));
      return out;
    }
    default: break;
  }
  std::vector<uint8_t> colour(3 * c.SensorSamples());
  if (c.fixedLayout)
    EXPECT_TRUE(Bayer2RGB24(raw, colour, sensorWidth, sensorHeight, 0, false, false, tables));
  else
    EXPECT_TRUE(Bayer2RGB24(raw, colour, sensorWidth, sensorHeight, c.pattern, c.flipRow, c.flipColumn, tables));
  if (c.bin > 1) {
    std::vector<uint8_t> binned(3 * pixels);
    EXPECT_TRUE(SoftBinRGB(colour, binned, c.width, c.height, c.bin));
    colour.swap(binned);
  }
  std::vector<uint8_t> out;
  switch (c.output) {
    case FusedOutput::kLuma8:
      out.resize(pixels);
      EXPECT_TRUE(RGB24ToY8(colour, out, c.width, c.height, tables));
      return out;
    case FusedOutput::kYUV422:
      out.resize(2 * pixels);
      EXPECT_TRUE(RGB24ToYUV(colour, out, c.width, c.height, tables));
      return out;
    default: return colour;
  }
}

constexpr size_t kGuard = 64;
constexpr uint8_t kGuardByte = 0xA5;

// The one-pass result, with guard bytes behind it that must stay untouched.
std::vector<uint8_t> Fused(const Case& c, const std::vector<uint8_t>& frame, const Tones& tones,
                           const okc::imaging::ColourTables& tables, const okc::imaging::FusedKernels& kernels) {
  using namespace okc::imaging;
  FusedSource s;
  s.samples = frame.data();
  s.bytes = frame.size();
  s.width = c.width;
  s.height = c.height;
  s.bin = c.bin;
  s.wideLayout = c.wide;
  s.flipRow = c.flipRow;
  s.flipColumn = c.flipColumn;
  if (ClampGamma(c.gamma) != kNeutralGamma) {
    s.tone8 = tones.table8.data();
    s.tone16 = tones.table16.data();
  }
  const auto red = tables.red.Snapshot(), blue = tables.blue.Snapshot();
  FusedColour colour;
  colour.layout = c.fixedLayout ? 0
                                : EffectiveBayerLayout(c.pattern, c.flipRow, c.flipColumn, c.width * c.bin,
                                                       c.height * c.bin);
  colour.red = IsIdentityTable(red) ? nullptr : red.data();
  colour.blue = IsIdentityTable(blue) ? nullptr : blue.data();
  const size_t bytes = FusedOutputBytes(c.output, c.width, c.height);
  std::vector<uint8_t> out(bytes + kGuard, kGuardByte);
  EXPECT_TRUE(DeliverFused(s, c.output, colour, out, kernels));
  for (size_t i = bytes; i < out.size(); ++i) EXPECT_EQ(out[i], kGuardByte) << "written past the image at " << i;
  out.resize(bytes);
  return out;
}

// A build of the kernels: one per instruction-set level, and the generic one
// other processors (ARM64) run.
struct KernelSet {
  const char* name;
  SimdLevel needs;
  bool generic;
  const okc::imaging::FusedKernels& Kernels() const {
    return generic ? okc::imaging::GenericFusedKernels() : okc::imaging::FusedKernelsFor(needs);
  }
};

void ExpectSameBytes(const Case& c, const KernelSet& set, uint32_t seed) {
  SCOPED_TRACE(c.Name() + " kernels " + set.name);
  std::mt19937 random(seed);
  std::vector<uint8_t> frame(c.SensorSamples() * (c.SixteenBit() ? 2 : 1));
  constexpr uint8_t kExtremes[] = {0, 1, 254, 255};
  for (size_t i = 0; i < frame.size(); ++i) {
    switch (c.fill) {
      case Case::Fill::kExtremes: frame[i] = kExtremes[random() % 4]; break;
      case Case::Fill::kEveryValue: frame[i] = static_cast<uint8_t>(i * 37 + i / 256); break;
      default: frame[i] = static_cast<uint8_t>(random()); break;
    }
  }
  const Tones& tones = TonesFor(c.gamma);
  okc::imaging::ColourTables tables;
  okc::imaging::BuildColourTables(tables);
  okc::imaging::BuildBalanceTables(tables, c.red, c.blue);
  const std::vector<uint8_t> expected = Reference(c, frame, tones, tables);
  const std::vector<uint8_t> got = Fused(c, frame, tones, tables, set.Kernels());
  ASSERT_EQ(got.size(), expected.size());
  for (size_t i = 0; i < got.size(); ++i)
    if (got[i] != expected[i]) FAIL() << "first difference at byte " << i << ": " << int{got[i]} << " vs " << int{expected[i]};
}

class FusedAtLevel : public ::testing::TestWithParam<KernelSet> {
 protected:
  void SetUp() override {
    if (static_cast<int>(GetParam().needs) > static_cast<int>(okc::imaging::MachineSimdLevel()))
      GTEST_SKIP() << "this processor lacks " << okc::imaging::SimdLevelName(GetParam().needs);
  }
};

// Sizes where the cell edges meet: the smallest frames, one cell of inner pixels, odd sides.
TEST_P(FusedAtLevel, SmallAndOddFramesInEveryLayoutAndMirror) {
  const std::pair<int, int> sizes[] = {{2, 2}, {3, 2}, {2, 3}, {3, 3}, {4, 4}, {5, 5}, {6, 4}, {4, 7}, {7, 6}, {9, 11}};
  uint32_t seed = 1;
  for (FusedOutput output : {FusedOutput::kRGB24, FusedOutput::kLuma8, FusedOutput::kYUV422})
    for (const auto& [w, h] : sizes)
      for (int pattern = 0; pattern < 4; ++pattern)
        for (int flips = 0; flips < 4; ++flips) {
          Case c;
          c.output = output;
          c.width = w, c.height = h, c.pattern = pattern;
          c.flipRow = flips & 1, c.flipColumn = flips & 2;
          ExpectSameBytes(c, GetParam(), seed++);
        }
}

TEST_P(FusedAtLevel, RandomFramesOverEveryOutputBinToneAndBalance) {
  std::mt19937 pick(2024);
  const FusedOutput outputs[] = {FusedOutput::kRaw8,  FusedOutput::kRaw16, FusedOutput::kGrey24,
                                 FusedOutput::kRGB24, FusedOutput::kLuma8, FusedOutput::kYUV422};
  const int gammas[] = {50, 1, 30, 64, 100};
  const std::pair<int, int> balances[] = {{50, 50}, {80, 20}, {100, 0}, {0, 100}, {63, 37}};
  const WideLayout wides[] = {WideLayout::kPacked12, WideLayout::kHighFirstShift6, WideLayout::kNative};
  for (int n = 0; n < 300; ++n) {
    Case c;
    c.output = outputs[pick() % 6];
    const bool colour = c.output == FusedOutput::kRGB24 || c.output == FusedOutput::kLuma8 ||
                        c.output == FusedOutput::kYUV422;
    c.bin = colour ? 1 + static_cast<int>(pick() % 4) : 1;
    c.width = 1 + static_cast<int>(pick() % 45);
    c.height = 1 + static_cast<int>(pick() % 23);
    if (colour && c.width * c.bin < 2) c.width = 2;
    if (colour && c.height * c.bin < 2) c.height = 2;
    c.pattern = static_cast<int>(pick() % 4);
    c.fixedLayout = c.output == FusedOutput::kLuma8 && c.bin == 1 && pick() % 3 == 0;
    c.flipRow = pick() % 2, c.flipColumn = pick() % 2;
    c.gamma = gammas[pick() % 5];
    std::tie(c.red, c.blue) = balances[pick() % 5];
    c.wide = wides[pick() % 3];
    ExpectSameBytes(c, GetParam(), static_cast<uint32_t>(n));
    if (HasFatalFailure()) return;
  }
}

// Rows wide enough for the in-register row kernel: a single block, blocks with
// an overlapping last one, odd widths, in every cell layout, mirror and output,
// with samples at their limits as well as random ones.
TEST_P(FusedAtLevel, WideRowsInBlocksInEveryLayoutAndMirror) {
  const int widths[] = {34, 35, 36, 37, 38, 50, 51, 66, 67, 98, 131};
  uint32_t seed = 500;
  for (FusedOutput output : {FusedOutput::kRGB24, FusedOutput::kLuma8, FusedOutput::kYUV422})
    for (int width : widths)
      for (int pattern = 0; pattern < 4; ++pattern)
        for (int flips = 0; flips < 4; ++flips)
          for (Case::Fill fill : {Case::Fill::kRandom, Case::Fill::kExtremes}) {
            Case c;
            c.output = output;
            c.width = width, c.height = 5 + flips, c.pattern = pattern;
            c.flipRow = flips & 1, c.flipColumn = flips & 2;
            c.fill = fill;
            ExpectSameBytes(c, GetParam(), seed++);
            if (HasFatalFailure()) return;
          }
}

// The row kernel beside tone and balance: toned rows feed it, balanced colours
// take the planes instead; both must give the stages' bytes.
TEST_P(FusedAtLevel, WideRowsWithToneAndBalance) {
  const std::pair<int, int> balances[] = {{50, 50}, {80, 20}, {0, 100}};
  uint32_t seed = 900;
  for (FusedOutput output : {FusedOutput::kRGB24, FusedOutput::kLuma8, FusedOutput::kYUV422})
    for (int gamma : {1, 64, 100})
      for (const auto& [red, blue] : balances) {
        Case c;
        c.output = output;
        c.width = 77, c.height = 9, c.pattern = static_cast<int>(seed % 4);
        c.flipRow = seed % 2, c.flipColumn = seed % 3 == 0;
        c.gamma = gamma, c.red = red, c.blue = blue;
        ExpectSameBytes(c, GetParam(), seed++);
      }
}

// Random wide frames over every colour output, bin, mirror, tone and balance.
TEST_P(FusedAtLevel, RandomWideFrames) {
  std::mt19937 pick(77);
  const FusedOutput outputs[] = {FusedOutput::kRGB24, FusedOutput::kLuma8, FusedOutput::kYUV422};
  const int gammas[] = {50, 1, 64, 100};
  const std::pair<int, int> balances[] = {{50, 50}, {80, 20}, {50, 90}, {10, 50}};
  for (int n = 0; n < 60; ++n) {
    Case c;
    c.output = outputs[pick() % 3];
    c.bin = 1 + static_cast<int>(pick() % 2);
    c.width = 34 + static_cast<int>(pick() % 130);
    c.height = 3 + static_cast<int>(pick() % 10);
    c.pattern = static_cast<int>(pick() % 4);
    c.fixedLayout = c.output == FusedOutput::kLuma8 && c.bin == 1 && pick() % 3 == 0;
    c.flipRow = pick() % 2, c.flipColumn = pick() % 2;
    c.gamma = gammas[pick() % 4];
    std::tie(c.red, c.blue) = balances[pick() % 4];
    ExpectSameBytes(c, GetParam(), 3000 + static_cast<uint32_t>(n));
    if (HasFatalFailure()) return;
  }
}

// The row kernel against the plane kernels of the same build (demosaicRow,
// the balance tables, then interleave, luma or yuv) on random rows and
// arbitrary tables, for every site parity, row colour and output.
TEST_P(FusedAtLevel, RowKernelGivesThePlaneKernelsBytes) {
  using namespace okc::imaging;
  const FusedKernels& k = GetParam().Kernels();
  std::mt19937 random(4242);
  const auto randomBytes = [&random](size_t n) {
    std::vector<uint8_t> bytes(n);
    for (auto& b : bytes) b = static_cast<uint8_t>(random());
    return bytes;
  };
  const std::vector<uint8_t> redTable = randomBytes(256), blueTable = randomBytes(256);
  for (size_t width : {36, 50, 64, 98, 132})
    for (size_t parity : {0, 1})
      for (bool redRow : {false, true})
        for (int balance = 0; balance < 4; ++balance)
          for (RowOutput output : {RowOutput::kBgr, RowOutput::kLuma, RowOutput::kYuv}) {
            SCOPED_TRACE("width " + std::to_string(width) + " parity " + std::to_string(parity) + " red row " +
                         std::to_string(redRow) + " balance " + std::to_string(balance) + " output " +
                         std::to_string(static_cast<int>(output)));
            const std::vector<uint8_t> up = randomBytes(width), row = randomBytes(width), down = randomBytes(width);
            const uint8_t* red = balance & 1 ? redTable.data() : nullptr;
            const uint8_t* blue = balance & 2 ? blueTable.data() : nullptr;
            const size_t x0 = 2, x1 = width - 2;
            const size_t bytesPerPixel = output == RowOutput::kBgr ? 3 : output == RowOutput::kLuma ? 1 : 2;
            std::vector<uint8_t> got(width * bytesPerPixel, kGuardByte);
            if (!k.colourRow(up.data(), row.data(), down.data(), x0, x1, parity, redRow, red, blue, output,
                             got.data())) {
              // Only balance may be declined, and only by a build without byte lookups.
              EXPECT_TRUE(red || blue);
              EXPECT_TRUE(std::all_of(got.begin(), got.end(), [](uint8_t b) { return b == kGuardByte; }));
              continue;
            }
            std::vector<uint8_t> planes(3 * width), expected(width * bytesPerPixel, kGuardByte);
            uint8_t *b = planes.data(), *g = b + width, *r = g + width;
            k.demosaicRow(up.data(), row.data(), down.data(), x0, x1, parity, redRow ? r : b, redRow ? b : r, g);
            for (size_t x = x0; x < x1; ++x) {
              if (red) r[x] = red[r[x]];
              if (blue) b[x] = blue[b[x]];
            }
            uint8_t* at = expected.data() + x0 * bytesPerPixel;
            switch (output) {
              case RowOutput::kBgr: k.interleave(b + x0, g + x0, r + x0, at, x1 - x0); break;
              case RowOutput::kLuma: k.luma(b + x0, g + x0, r + x0, at, x1 - x0); break;
              default: k.yuv(b + x0, g + x0, r + x0, at, x1 - x0); break;
            }
            ASSERT_EQ(got, expected);
          }
}

// Every sample value through every tone table, row by row in vectors and the
// bytes left over, forwards and mirrored, raw and demosaiced.
TEST_P(FusedAtLevel, EveryValueThroughTheToneTables) {
  uint32_t seed = 1200;
  for (FusedOutput output : {FusedOutput::kRaw8, FusedOutput::kGrey24, FusedOutput::kRGB24})
    for (int gamma : {1, 30, 49, 51, 64, 100})
      for (bool flipRow : {false, true}) {
        Case c;
        c.output = output;
        c.width = 263, c.height = 5, c.pattern = 3;
        c.flipRow = flipRow;
        c.gamma = gamma;
        c.fill = Case::Fill::kEveryValue;
        ExpectSameBytes(c, GetParam(), seed++);
      }
}

// A full sensor frame, as the benchmark runs it, balanced ones and a binned one.
TEST_P(FusedAtLevel, FullSensorFrames) {
  uint32_t seed = 99;
  for (FusedOutput output : {FusedOutput::kRaw8, FusedOutput::kRaw16, FusedOutput::kRGB24, FusedOutput::kLuma8,
                             FusedOutput::kYUV422}) {
    Case c;
    c.output = output;
    c.width = 1280, c.height = 960, c.pattern = 1, c.flipRow = true;
    ExpectSameBytes(c, GetParam(), seed++);
  }
  for (FusedOutput output : {FusedOutput::kRGB24, FusedOutput::kYUV422}) {
    Case balanced;
    balanced.output = output;
    balanced.width = 1280, balanced.height = 960, balanced.pattern = 0, balanced.flipColumn = true;
    balanced.gamma = 64, balanced.red = 70, balanced.blue = 35;
    ExpectSameBytes(balanced, GetParam(), seed++);
  }
  Case binned;
  binned.output = FusedOutput::kRGB24;
  binned.width = 640, binned.height = 480, binned.bin = 2, binned.pattern = 2, binned.flipColumn = true;
  binned.gamma = 80, binned.red = 70, binned.blue = 40;
  ExpectSameBytes(binned, GetParam(), seed);
}

INSTANTIATE_TEST_SUITE_P(Levels, FusedAtLevel,
                         ::testing::Values(KernelSet{"generic", SimdLevel::kPortable, true},
                                           KernelSet{"portable", SimdLevel::kPortable, false},
                                           KernelSet{"ssse3", SimdLevel::kSsse3, false},
                                           KernelSet{"avx2", SimdLevel::kAvx2, false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(FusedDelivery, RefusesWhatItCannotDoWithoutWritingAByte) {
  using namespace okc::imaging;
  std::vector<uint8_t> frame(64, 7);
  std::vector<uint8_t> out(64 * 3, kGuardByte);
  FusedSource s;
  s.samples = frame.data();
  s.bytes = frame.size();
  s.width = 8, s.height = 8;
  FusedColour colour;
  struct Refusal {
    const char* why;
    FusedSource source;
    FusedOutput output;
    int layout;
    size_t outBytes;
  };
  FusedSource small = s;
  small.bytes = 63;
  FusedSource binnedRaw = s;
  binnedRaw.width = binnedRaw.height = 4, binnedRaw.bin = 2;
  FusedSource thin = s;
  thin.width = 1, thin.height = 8;
  FusedSource noSamples = s;
  noSamples.samples = nullptr;
  FusedSource empty = s;
  empty.width = empty.height = 0;
  const Refusal refusals[] = {
      {"source too small", small, FusedOutput::kRaw8, 0, out.size()},
      {"16-bit source too small", s, FusedOutput::kRaw16, 0, out.size()},
      {"output too small", s, FusedOutput::kRGB24, 0, 64 * 3 - 1},
      {"raw output binned", binnedRaw, FusedOutput::kRaw8, 0, out.size()},
      {"a demosaic one sample wide", thin, FusedOutput::kRGB24, 0, out.size()},
      {"a layout outside 0..3", s, FusedOutput::kLuma8, 4, out.size()},
      {"no samples", noSamples, FusedOutput::kRaw8, 0, out.size()},
      {"an empty frame", empty, FusedOutput::kRaw8, 0, out.size()},
  };
  for (const Refusal& r : refusals) {
    colour.layout = r.layout;
    EXPECT_FALSE(DeliverFused(r.source, r.output, colour, std::span<uint8_t>(out.data(), r.outBytes))) << r.why;
    EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](uint8_t b) { return b == kGuardByte; })) << r.why;
  }
}

// The row kernel takes only even ranges of at least one block and writes
// nothing when it declines; the caller then uses the planes.
TEST(FusedDelivery, RowKernelDeclinesRangesItCannotTakeWithoutWritingAByte) {
  using namespace okc::imaging;
  std::vector<uint8_t> rows(3 * 80, 9);
  const uint8_t *up = rows.data(), *row = up + 80, *down = row + 80;
  struct Range {
    size_t x0, x1;
    bool taken;
  };
  const Range ranges[] = {{2, 2 + kColourBlockPixels, true}, {2, 2 + kColourBlockPixels - 2, false},
                          {3, 3 + kColourBlockPixels + 1, false}, {2, 3 + kColourBlockPixels, false},
                          {2, 78, true}};
  for (SimdLevel level : AvailableSimdLevels())
    for (const FusedKernels* kernels : {&FusedKernelsFor(level), &GenericFusedKernels()})
      for (const Range& r : ranges)
        for (RowOutput output : {RowOutput::kBgr, RowOutput::kLuma, RowOutput::kYuv}) {
          std::vector<uint8_t> out(3 * 80, kGuardByte);
          const bool taken = kernels->colourRow(up, row, down, r.x0, r.x1, 0, true, nullptr, nullptr, output, out.data());
          EXPECT_EQ(taken, r.taken) << r.x0 << ".." << r.x1 << " at " << SimdLevelName(level);
          const size_t bytesPerPixel = output == RowOutput::kBgr ? 3 : output == RowOutput::kLuma ? 1 : 2;
          for (size_t i = 0; i < out.size(); ++i) {
            const bool inRange = i >= r.x0 * bytesPerPixel && i < r.x1 * bytesPerPixel;
            if (!(taken && inRange)) {
              EXPECT_EQ(out[i], kGuardByte) << "byte " << i << " of " << r.x0 << ".." << r.x1;
            }
          }
        }
}

TEST(FusedDelivery, KernelWeightsAreTheColourTablesAndAChangedTableIsNoticed) {
  okc::imaging::ColourTables tables;
  okc::imaging::BuildColourTables(tables);
  EXPECT_TRUE(okc::imaging::ColourTablesMatchKernels(tables));
  okc::imaging::BuildBalanceTables(tables, 90, 10);  // balance is applied by table, whatever it is
  EXPECT_TRUE(okc::imaging::ColourTablesMatchKernels(tables));
  tables.c148.Set(255, tables.c148[255] + 1);
  EXPECT_FALSE(okc::imaging::ColourTablesMatchKernels(tables));
}

TEST(SimdLevels, ALimitLowersTheActiveLevelAndLiftingItRestoresTheMachines) {
  using okc::imaging::ActiveSimdLevel;
  using okc::imaging::LimitSimdLevel;
  const SimdLevel machine = okc::imaging::MachineSimdLevel();
  LimitSimdLevel(SimdLevel::kPortable);
  EXPECT_EQ(ActiveSimdLevel(), SimdLevel::kPortable);
  EXPECT_EQ(&okc::imaging::ActiveFusedKernels(), &okc::imaging::FusedKernelsFor(SimdLevel::kPortable));
  LimitSimdLevel(SimdLevel::kSsse3);
  EXPECT_EQ(ActiveSimdLevel(), machine == SimdLevel::kPortable ? SimdLevel::kPortable : SimdLevel::kSsse3);
  LimitSimdLevel(SimdLevel::kAvx2);
  EXPECT_EQ(ActiveSimdLevel(), machine);
  EXPECT_EQ(okc::imaging::AvailableSimdLevels().back(), machine);
}

}  // namespace
