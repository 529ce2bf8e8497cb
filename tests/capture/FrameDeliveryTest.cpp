// GetImage fed straight through the frame queue with hand-made raw frames:
// header repair, 16-bit unpacking, discarding of unmarked frames, the
// look-ahead at short exposures, caller buffers that are too small, dark
// capture and subtraction, and software binning.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <future>
#include <thread>
#include <vector>

#include "core/FrameDelivery.h"
#include "core/ModelInfo.h"
#include "okccamera/CCameraTAVC.h"
#include "support/SimEnvironment.h"

namespace {

class FrameDelivery : public okc::test::SimEnvironment {
 protected:
  void SetUp() override {
    SimEnvironment::SetUp();
    cam = std::make_unique<CCameraTAVC>();  // no device attached: never opened
    cam->SetGamma(50);
    cam->flipRow = cam->flipColumn = false;
    cam->exposure = 200000;  // no look-ahead unless a test asks for it
  }
  void TearDown() override {
    cam.reset();
    SimEnvironment::TearDown();
  }

  void Format(int w, int h, int bin, IMAGE_TYPE type, bool raw = true) {
    cam->width = w;
    cam->height = h;
    cam->bin = bin;
    cam->imageType = type;
    cam->rawOutput = raw;
    cam->output16Bits = type == IMAGE_16BIT;
  }
  size_t RawBytes() const {
    return static_cast<size_t>(cam->width * cam->bin) * cam->height * cam->bin * (cam->output16Bits ? 2 : 1);
  }
  // A raw frame of the current format filled by `byteAt`, starting with the marker unless told otherwise.
  template <typename ByteAt>
  std::vector<uint8_t> RawFrame(ByteAt byteAt, bool marked = true) {
    std::vector<uint8_t> f(RawBytes());
    for (size_t i = 0; i < f.size(); ++i) f[i] = static_cast<uint8_t>(byteAt(i));
    if (marked) std::memcpy(f.data(), "\x11\xAA\x00\xBB", 4);
    return f;
  }
  void Push(const std::vector<uint8_t>& f) { ASSERT_TRUE(cam->frameQueue->Push(f.data(), f.size())); }

  std::unique_ptr<CCameraTAVC> cam;
};

TEST_F(FrameDelivery, Raw8FrameIsCopiedWithItsMarkerRepairedFromSixteenRowsDown) {
  Format(32, 32, 1, IMAGE_8BIT);
  const auto raw = RawFrame([](size_t i) { return i * 7 + 3; });
  Push(raw);
  std::vector<uint8_t> out(32 * 32);
  ASSERT_TRUE(cam->GetImage(out.data(), static_cast<int>(out.size()), 0));
  for (int i = 0; i < 4; ++i) EXPECT_EQ(out[i], raw[16 * 32 + i]) << i;
  EXPECT_EQ(out[4], raw[6]);
  EXPECT_EQ(out[5], raw[7]);
  EXPECT_TRUE(std::equal(out.begin() + 6, out.end(), raw.begin() + 6));
}

TEST_F(FrameDelivery, SixteenBitSamplesCarryTheTwelveBitValueInTheirTopBits) {
  Format(32, 32, 1, IMAGE_16BIT);
  auto raw = RawFrame([](size_t i) { return i % 2 ? 0x05 : 0x40 + i % 50; });
  raw[20] = 0xAB, raw[21] = 0x0C;  // sample 10
  raw[22] = 0x12, raw[23] = 0xF3;  // sample 11: the high nibble of the low byte is not part of the value
  Push(raw);
  std::vector<uint16_t> out(32 * 32);
  ASSERT_TRUE(cam->GetImage(reinterpret_cast<unsigned char*>(out.data()), 32 * 32 * 2, 0));
  EXPECT_EQ(out[10], 0xABC0);
  EXPECT_EQ(out[11], 0x1230);
  // Marker samples come from four rows down; sample 2 from sample 3.
  EXPECT_EQ(out[0], out[4 * 32]);
  EXPECT_EQ(out[1], out[4 * 32 + 1]);
  EXPECT_EQ(out[2], out[3]);
}

TEST_F(FrameDelivery, UnmarkedFramesAreNeverDelivered) {
  Format(32, 32, 1, IMAGE_8BIT);
  Push(RawFrame([](size_t) { return 11; }, false));
  Push(RawFrame([](size_t) { return 22; }));
  std::vector<uint8_t> out(32 * 32);
  ASSERT_TRUE(cam->GetImage(out.data(), static_cast<int>(out.size()), 0));
  EXPECT_EQ(out[100], 22);
  EXPECT_EQ(cam->frameQueue->Count(), 0);
  EXPECT_FALSE(cam->GetImage(out.data(), static_cast<int>(out.size()), 0));
}

TEST_F(FrameDelivery, EmptyQueueOrNoCaptureGivesFalseWithoutWaiting) {
  Format(32, 32, 1, IMAGE_8BIT);
  std::vector<uint8_t> out(32 * 32, 0x5A);
  EXPECT_FALSE(cam->GetImage(out.data(), static_cast<int>(out.size()), 0));
  // Not capturing: even an unlimited wait ends, nothing can come.
  EXPECT_FALSE(cam->GetImage(out.data(), static_cast<int>(out.size()), 0xFFFFFFFF));
  EXPECT_EQ(out, std::vector<uint8_t>(32 * 32, 0x5A));
}

TEST_F(FrameDelivery, BufferSmallerThanTheImageIsNotWrittenAndTheFrameStays) {
  struct Case {
    IMAGE_TYPE type;
    bool raw;
    size_t bytesPerPixel;
  };
  for (const Case c : {Case{IMAGE_8BIT, true, 1}, Case{IMAGE_8BIT, false, 1}, Case{IMAGE_RGB24, false, 3},
                       Case{IMAGE_YUV422, false, 2}, Case{IMAGE_16BIT, true, 2}}) {
    SCOPED_TRACE(c.type);
    Format(32, 32, 2, c.type, c.raw);
    cam->frameQueue->Reset();
    Push(RawFrame([](size_t i) { return i; }));
    const size_t image = 32 * 32 * c.bytesPerPixel;
    std::vector<uint8_t> out(image + 64, 0xEE);
    EXPECT_FALSE(cam->GetImage(out.data(), static_cast<int>(image - 1), 0));
    EXPECT_EQ(out, std::vector<uint8_t>(image + 64, 0xEE));
    ASSERT_TRUE(cam->GetImage(out.data(), static_cast<int>(image), 0));
    EXPECT_TRUE(std::all_of(out.begin() + static_cast<long>(image), out.end(), [](uint8_t b) { return b == 0xEE; }));
  }
}

TEST_F(FrameDelivery, ShortExposureFrameWaitsForAMarkedSuccessor) {
  Format(32, 32, 1, IMAGE_8BIT);
  cam->exposure = 20000;
  cam->capturing = true;  // stands for a running stream
  Push(RawFrame([](size_t) { return 1; }));
  std::vector<uint8_t> out(32 * 32);
  auto delivered = std::async(std::launch::async, [&] { return cam->GetImage(out.data(), 32 * 32, 3000); });
  EXPECT_EQ(delivered.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);
  // An unmarked successor costs the waiting frame too.
  Push(RawFrame([](size_t) { return 2; }, false));
  for (int i = 0; i < 2000 && cam->frameQueue->Count() > 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  ASSERT_EQ(cam->frameQueue->Count(), 0);
  Push(RawFrame([](size_t) { return 3; }));
  EXPECT_EQ(delivered.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);
  Push(RawFrame([](size_t) { return 4; }));
  ASSERT_TRUE(delivered.get());
  EXPECT_EQ(out[100], 3);
  EXPECT_EQ(cam->frameQueue->Count(), 1);  // the frame looked at stays queued
  cam->capturing = false;
}

TEST_F(FrameDelivery, DarkCaptureAveragesUncorrectedFramesThenSubtracts) {
  Format(32, 32, 1, IMAGE_8BIT);
  cam->startX = 8;
  cam->startY = 4;
  cam->useDark = true;
  ASSERT_TRUE(cam->EnsureDarkTables());
  std::fill_n(cam->darkWorking.get(), 32 * 32, 50u);  // an old dark that must not touch collected frames
  cam->GettingDark(2);
  constexpr size_t kHot = 300;
  std::vector<uint8_t> out(32 * 32);
  for (int level : {10, 20}) {
    Push(RawFrame([&](size_t i) { return i == kHot ? 100 : level; }));
    ASSERT_TRUE(cam->GetImage(out.data(), 32 * 32, 0));
    EXPECT_EQ(out[kHot + 1], level);
  }
  EXPECT_FALSE(cam->IsGetDarkOver());
  EXPECT_EQ(cam->darkFull[(4 + kHot / 32) * 1280 + 8 + kHot % 32], 100u);
  EXPECT_EQ(cam->darkFull[(4 + 1) * 1280 + 8 + 8], 15u);
  EXPECT_EQ(cam->darkMean, 15u);
  EXPECT_EQ(cam->darkHotCount, 1u);
  Push(RawFrame([](size_t) { return 40; }));
  ASSERT_TRUE(cam->GetImage(out.data(), 32 * 32, 0));
  // 40 + 15 - 100 would stop at 0, but the dark frame's hot pixel is then
  // corrected from its same-colour neighbours.
  EXPECT_EQ(out[kHot], 40);
  EXPECT_EQ(out[kHot + 1], 40);
}

TEST_F(FrameDelivery, BinnedSixteenBitFramesSumTheirSamples) {
  Format(32, 32, 2, IMAGE_16BIT);
  Push(RawFrame([](size_t i) { return i % 2 ? 0x00 : 0x10; }));  // every sample 0x1000
  std::vector<uint16_t> out(32 * 32);
  ASSERT_TRUE(cam->GetImage(reinterpret_cast<unsigned char*>(out.data()), 32 * 32 * 2, 0));
  EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](uint16_t v) { return v == 0x4000; }));
}

}  // namespace

// ---- the variants other models choose ----

namespace {

using okc::core::HeaderRepair;
using okc::core::WideSamples;

// A frame of `rows` rows of `rowBytes` bytes, byte i = i % 251, marker and trailer in place.
std::vector<uint8_t> Numbered(size_t rows, size_t rowBytes) {
  std::vector<uint8_t> f(rows * rowBytes);
  for (size_t i = 0; i < f.size(); ++i) f[i] = static_cast<uint8_t>(i % 251);
  std::memcpy(f.data(), "\x11\xAA\x00\xBB", 4);
  std::memcpy(f.data() + f.size() - 4, "\xBB\x00\xAA\x11", 4);
  return f;
}

TEST(HeaderRepairVariants, EachTakesTheBytesFromItsOwnPlace) {
  const size_t row = 16;
  {  // 8-bit marker from 16 rows down; bytes 4, 5 from 6, 7; the end untouched
    std::vector<uint8_t> f = Numbered(20, row);
    okc::core::RepairHeader(HeaderRepair::RowsBelow, f.data(), f.size(), row, false, row);
    EXPECT_TRUE(std::equal(f.begin(), f.begin() + 4, f.begin() + 16 * row));
    EXPECT_EQ(f[4], f[6]);
    EXPECT_EQ(f[5], f[7]);
    EXPECT_EQ(f[f.size() - 1], 0x11);
  }
  {  // 16-bit with trailer: 4 rows; the last word from 4 rows before it; bytes 4, 5 stay
    std::vector<uint8_t> f = Numbered(20, row);
    okc::core::RepairHeader(HeaderRepair::RowsBelowAndTrailer, f.data(), f.size(), row, true, row);
    EXPECT_TRUE(std::equal(f.begin(), f.begin() + 4, f.begin() + 4 * row));
    EXPECT_TRUE(std::equal(f.end() - 4, f.end(), f.end() - 4 - 4 * row));
    EXPECT_EQ(f[4], 4);
    EXPECT_EQ(f[5], 5);
  }
  {  // the marker from bin x width x 4 bytes on
    std::vector<uint8_t> f = Numbered(20, row);
    okc::core::RepairHeader(HeaderRepair::FourOutputRowsOn, f.data(), f.size(), row, false, 10);
    EXPECT_TRUE(std::equal(f.begin(), f.begin() + 4, f.begin() + 40));
    EXPECT_EQ(f[4], 4);
  }
  {  // a frame too small for any source is left as it is
    std::vector<uint8_t> f = Numbered(1, 6);
    const std::vector<uint8_t> before = f;
    okc::core::RepairHeader(HeaderRepair::RowsBelow, f.data(), f.size(), 6, false, 6);
    EXPECT_EQ(f, before);
  }
}

TEST(WideSampleLayouts, TwoBytesBecomeOneNativeSample) {
  struct Case {
    WideSamples layout;
    uint8_t first, second;
    uint16_t value;
  };
  for (const Case& c : {Case{WideSamples::Packed12, 0xAB, 0x0C, 0xABC0}, Case{WideSamples::Packed12, 0xAB, 0xFC, 0xABC0},
                        Case{WideSamples::HighFirstShift6, 0xAB, 0xCD, 0xABCD >> 6},
                        Case{WideSamples::AsTheyLie, 0x34, 0x12, 0x1234}}) {
    uint8_t bytes[2] = {c.first, c.second};
    okc::core::UnpackWideSamples(c.layout, bytes, 2);
    uint16_t value;
    std::memcpy(&value, bytes, 2);
    EXPECT_EQ(value, c.value) << static_cast<int>(c.layout);
  }
}

// A TAV-family camera without a colour filter, built as a mono model is.
class MonoTav : public CCameraTAV {
 public:
  MonoTav() : CCameraTAV(okc::core::ModelId::TAVM, 0x9200, false, nullptr) {}
};

class MonoDelivery : public okc::test::SimEnvironment {
 protected:
  void SetUp() override {
    SimEnvironment::SetUp();
    cam = std::make_unique<MonoTav>();
    cam->SetGamma(50);
    cam->flipRow = cam->flipColumn = false;
    cam->exposure = 200000;
  }
  void TearDown() override {
    cam.reset();
    SimEnvironment::TearDown();
  }
  void Deliver(int w, int h, int bin, IMAGE_TYPE type, uint8_t level, std::vector<uint8_t>& out) {
    cam->width = w;
    cam->height = h;
    cam->bin = bin;
    cam->imageType = type;
    cam->output16Bits = false;
    std::vector<uint8_t> raw(static_cast<size_t>(w * bin) * h * bin, level);
    std::memcpy(raw.data(), "\x11\xAA\x00\xBB", 4);
    ASSERT_TRUE(cam->frameQueue->Push(raw.data(), raw.size()));
    ASSERT_TRUE(cam->GetImage(out.data(), static_cast<int>(out.size()), 0));
  }
  std::unique_ptr<MonoTav> cam;
};

TEST_F(MonoDelivery, GreyImagesAndSaturatingSums) {
  std::vector<uint8_t> rgb(32 * 32 * 3, 0xEE);
  Deliver(32, 32, 1, IMAGE_RGB24, 90, rgb);
  EXPECT_TRUE(std::all_of(rgb.begin() + 3 * 64, rgb.end(), [](uint8_t b) { return b == 90; })) << "each sample three times";

  std::vector<uint8_t> binned(16 * 16, 0xEE);
  Deliver(16, 16, 2, IMAGE_8BIT, 90, binned);
  EXPECT_TRUE(std::all_of(binned.begin() + 16, binned.end(), [](uint8_t b) { return b == 255; }))
      << "4 x 90 saturates at 255";
  Deliver(16, 16, 2, IMAGE_8BIT, 30, binned);
  EXPECT_EQ(binned[16 * 8 + 8], 120);

  std::vector<uint8_t> yuv(32 * 32 * 2, 0xEE);
  Deliver(32, 32, 1, IMAGE_YUV422, 90, yuv);
  EXPECT_TRUE(std::all_of(yuv.begin(), yuv.end(), [](uint8_t b) { return b == 0xEE; })) << "no luma/chroma output";
}

}  // namespace
