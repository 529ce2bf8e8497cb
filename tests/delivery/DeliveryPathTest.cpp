// GetImage through the one-pass delivery against GetImage through the stages,
// on the same queued frame: colour, mono and USB 3 cameras, every format,
// bins, mirrors, tone, balance, the look-ahead, dark subtraction with its hot
// pixels, frames with a second marker, and the frame queue's loan of a slot.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "core/FrameDelivery.h"
#include "imaging/ColourTables.h"
#include "core/ModelInfo.h"
#include "models/PimcCapture.h"
#include "okccamera/CCameraDORC.h"
#include "okccamera/CCameraPIMC.h"
#include "okccamera/CCameraRENM.h"
#include "okccamera/CCameraSELC.h"
#include "okccamera/CCameraSELM.h"
#include "okccamera/CCameraTAVC.h"
#include "okccamera/CCameraTAVC_U.h"
#include "okccamera/CCameraTAVM.h"
#include "okccamera/FrameQueue.h"
#include "support/SimEnvironment.h"

namespace {

struct Format {
  int width, height, bin;
  IMAGE_TYPE type;
  bool raw;
  bool flipRow, flipColumn;
  int gamma;
  int red = 50, blue = 50;

  std::string Name() const {
    return std::to_string(width) + "x" + std::to_string(height) + " bin " + std::to_string(bin) + " type " +
           std::to_string(type) + (raw ? " raw" : "") + " flips " + std::to_string(flipRow) +
           std::to_string(flipColumn) + " gamma " + std::to_string(gamma) + " balance " + std::to_string(red) + "/" +
           std::to_string(blue);
  }
};

class DeliveryPaths : public okc::test::SimEnvironment {
 protected:
  void TearDown() override {
    okc::core::EnableFusedDelivery(true);
    cam.reset();
    SimEnvironment::TearDown();
  }

  void Use(std::unique_ptr<CCameraBase> camera) {
    cam = std::move(camera);
    cam->exposure = 200000;  // no look-ahead unless a test asks for it
  }

  void Apply(const Format& f) {
    cam->width = f.width;
    cam->height = f.height;
    cam->bin = f.bin;
    cam->imageType = f.type;
    cam->rawOutput = f.raw;
    cam->output16Bits = f.type == IMAGE_16BIT || f.type == IMAGE_16BIT_ALT;
    cam->flipRow = f.flipRow;
    cam->flipColumn = f.flipColumn;
    cam->SetGamma(f.gamma);
    okc::imaging::BuildBalanceTables(*cam->colourTables, f.red, f.blue);
  }

  size_t RawBytes() const {
    return static_cast<size_t>(cam->width * cam->bin) * cam->height * cam->bin * (cam->output16Bits ? 2 : 1);
  }

  std::vector<uint8_t> RandomFrame(uint32_t seed) const {
    std::mt19937 random(seed);
    std::vector<uint8_t> frame(RawBytes());
    for (auto& b : frame) b = static_cast<uint8_t>(random());
    std::memcpy(frame.data(), "\x11\xAA\x00\xBB", 4);
    if (frame.size() >= 8) std::memcpy(frame.data() + frame.size() - 4, "\xBB\x00\xAA\x11", 4);
    return frame;
  }

  // One delivery of `frame` by the chosen path; the image, and a guard behind it that stays untouched.
  std::vector<uint8_t> Deliver(const std::vector<uint8_t>& frame, bool fused, size_t imageBytes) {
    okc::core::EnableFusedDelivery(fused);
    EXPECT_TRUE(cam->frameQueue->Push(frame.data(), frame.size()));
    std::vector<uint8_t> out(imageBytes + 32, 0x5A);
    EXPECT_TRUE(cam->GetImage(out.data(), static_cast<int>(imageBytes), 0));
    for (size_t i = imageBytes; i < out.size(); ++i) EXPECT_EQ(out[i], 0x5A) << "written past the image";
    out.resize(imageBytes);
    return out;
  }

  void ExpectPathsAgree(const Format& f, uint32_t seed, const okc::core::DeliveryVariant& variant = {}) {
    SCOPED_TRACE(f.Name());
    Apply(f);
    const size_t imageBytes =
        static_cast<size_t>(f.width) * f.height * okc::core::OutputBytesPerPixel(f.type, variant);
    if (imageBytes == 0) return;
    const std::vector<uint8_t> frame = RandomFrame(seed);
    const std::vector<uint8_t> stages = Deliver(frame, false, imageBytes);
    const std::vector<uint8_t> fused = Deliver(frame, true, imageBytes);
    ASSERT_EQ(fused.size(), stages.size());
    for (size_t i = 0; i < fused.size(); ++i)
      if (fused[i] != stages[i]) FAIL() << "first difference at byte " << i;
  }

  // Formats over every output, bin, mirror, tone and balance, sizes odd and even.
  std::vector<Format> Formats(bool colour) const {
    std::vector<Format> formats;
    const IMAGE_TYPE types[] = {IMAGE_8BIT, IMAGE_RGB24, IMAGE_YUV422, IMAGE_16BIT, IMAGE_16BIT_ALT};
    uint32_t n = 0;
    for (IMAGE_TYPE type : types)
      for (int bin : {1, 2, 3})
        for (int flips = 0; flips < 4; ++flips) {
          const bool raw = type == IMAGE_8BIT && (n % 2 == 0);
          const int width = 16 + static_cast<int>(n % 7), height = 12 + static_cast<int>(n % 5);
          const int gamma = n % 3 == 0 ? 50 : (n % 3 == 1 ? 20 : 90);
          Format f{width, height, bin, type, raw, (flips & 1) != 0, (flips & 2) != 0, gamma};
          if (colour && n % 4 == 1) f.red = 80, f.blue = 30;
          formats.push_back(f);
          ++n;
        }
    return formats;
  }

  std::unique_ptr<CCameraBase> cam;
};

TEST_F(DeliveryPaths, ColourCameraGivesTheSameBytesEitherWay) {
  Use(std::make_unique<CCameraTAVC>());
  uint32_t seed = 1;
  for (const Format& f : Formats(true)) {
    for (int pattern : {0, 3}) {
      cam->bayerPattern = pattern;
      ExpectPathsAgree(f, seed++);
      if (HasFatalFailure()) return;
    }
  }
}

TEST_F(DeliveryPaths, MonoCameraGivesTheSameBytesEitherWay) {
  Use(std::make_unique<CCameraTAVM>());
  okc::core::DeliveryVariant mono;
  mono.mono = true;
  uint32_t seed = 100;
  for (const Format& f : Formats(false)) {
    ExpectPathsAgree(f, seed++, mono);
    if (HasFatalFailure()) return;
  }
}

TEST_F(DeliveryPaths, Usb3CameraWithItsTrailerGivesTheSameBytesEitherWay) {
  Use(std::make_unique<CCameraTAVC_U>());
  okc::core::DeliveryVariant usb3;
  usb3.spreadAlt16 = true;
  uint32_t seed = 200;
  for (const Format& f : Formats(true)) {
    ExpectPathsAgree(f, seed++, usb3);
    if (HasFatalFailure()) return;
  }
}

// The VGA and WVGA family, the 1.3-megapixel mono camera and the processor camera
// unpack their 16-bit samples and repair their headers their own way: the one pass
// must take what it has kernels for and leave the rest to the stages, with the same bytes.
TEST_F(DeliveryPaths, OtherFamiliesGiveTheSameBytesEitherWay) {
  using okc::core::ModelId;
  struct Camera {
    std::unique_ptr<CCameraBase> (*make)();
    ModelId model;
  };
  const Camera cameras[] = {
      {[]() -> std::unique_ptr<CCameraBase> { return std::make_unique<CCameraPIMC>(); }, ModelId::PIMC},
      {[]() -> std::unique_ptr<CCameraBase> { return std::make_unique<CCameraSELC>(); }, ModelId::SELC},
      {[]() -> std::unique_ptr<CCameraBase> { return std::make_unique<CCameraSELM>(); }, ModelId::SELM},
      {[]() -> std::unique_ptr<CCameraBase> { return std::make_unique<CCameraRENM>(); }, ModelId::RENM},
      {[]() -> std::unique_ptr<CCameraBase> { return std::make_unique<CCameraDORC>(); }, ModelId::DORC},
  };
  uint32_t seed = 300;
  for (const Camera& c : cameras) {
    Use(c.make());
    cam->exposure = 1000000;  // above every look-ahead threshold
    // Only what sizes the image matters here: the camera delivers by its own variant.
    const okc::core::DeliveryVariant variant =
        c.model == ModelId::DORC ? okc::core::DeliveryVariant{}
                                 : okc::models::PimcDeliveryVariant(c.model == ModelId::RENM ? ModelId::SELM : c.model);
    for (const Format& f : Formats(!variant.mono)) {
      ExpectPathsAgree(f, seed++, variant);
      if (HasFatalFailure()) return;
    }
  }
}

TEST_F(DeliveryPaths, ShortExposureFramesWaitForTheirSuccessorOnBothPaths) {
  Use(std::make_unique<CCameraTAVC>());
  cam->exposure = 1000;  // below the look-ahead threshold
  Apply({24, 18, 1, IMAGE_RGB24, false, true, false, 70});
  const size_t imageBytes = 24 * 18 * 3;
  const std::vector<uint8_t> first = RandomFrame(1), second = RandomFrame(2);
  std::vector<uint8_t> byPath[2];
  for (bool fused : {false, true}) {
    okc::core::EnableFusedDelivery(fused);
    ASSERT_TRUE(cam->frameQueue->Push(first.data(), first.size()));
    std::vector<uint8_t> out(imageBytes);
    // Alone in the queue, a short-exposure frame waits for a marked successor and is not delivered.
    EXPECT_FALSE(cam->GetImage(out.data(), static_cast<int>(out.size()), 0));
    ASSERT_TRUE(cam->frameQueue->Push(first.data(), first.size()));
    ASSERT_TRUE(cam->frameQueue->Push(second.data(), second.size()));
    ASSERT_TRUE(cam->GetImage(out.data(), static_cast<int>(out.size()), 0));
    EXPECT_EQ(cam->frameQueue->Count(), 1) << "the successor stays queued";
    cam->frameQueue->Reset();
    byPath[fused] = out;
  }
  EXPECT_EQ(byPath[0], byPath[1]);
}

TEST_F(DeliveryPaths, UnmarkedFramesInTheQueueAreSkippedOnBothPaths) {
  Use(std::make_unique<CCameraTAVC>());
  Apply({20, 20, 1, IMAGE_8BIT, false, false, false, 50});
  std::vector<uint8_t> unmarked = RandomFrame(3);
  unmarked[0] = 0;
  const std::vector<uint8_t> marked = RandomFrame(4);
  std::vector<uint8_t> byPath[2];
  for (bool fused : {false, true}) {
    okc::core::EnableFusedDelivery(fused);
    ASSERT_TRUE(cam->frameQueue->Push(unmarked.data(), unmarked.size()));
    ASSERT_TRUE(cam->frameQueue->Push(marked.data(), marked.size()));
    std::vector<uint8_t> out(20 * 20);
    ASSERT_TRUE(cam->GetImage(out.data(), static_cast<int>(out.size()), 0));
    EXPECT_EQ(cam->frameQueue->Count(), 0);
    byPath[fused] = out;
  }
  EXPECT_EQ(byPath[0], byPath[1]);
}

// A frame that caught the start of the next one (the marker again inside it) is
// never delivered, whichever path reads it.
TEST_F(DeliveryPaths, FramesHoldingASecondMarkerAreSkippedOnBothPaths) {
  Use(std::make_unique<CCameraDORC>());
  Apply({32, 32, 1, IMAGE_8BIT, true, false, false, 50});
  std::vector<uint8_t> torn = RandomFrame(5);
  std::memcpy(torn.data() + 40 * 4, "\x11\xAA\x00\xBB", 4);
  const std::vector<uint8_t> whole = RandomFrame(6);
  const std::vector<uint8_t> alone = Deliver(whole, false, 32 * 32);
  for (bool fused : {false, true}) {
    okc::core::EnableFusedDelivery(fused);
    ASSERT_TRUE(cam->frameQueue->Push(torn.data(), torn.size()));
    ASSERT_TRUE(cam->frameQueue->Push(whole.data(), whole.size()));
    std::vector<uint8_t> out(32 * 32);
    ASSERT_TRUE(cam->GetImage(out.data(), static_cast<int>(out.size()), 0));
    EXPECT_EQ(cam->frameQueue->Count(), 0);
    EXPECT_EQ(out, alone) << (fused ? "one pass" : "stages") << ": not the whole frame";
  }
}

TEST_F(DeliveryPaths, DarkSubtractionAndItsHotPixelsGiveTheSameBytesEitherWay) {
  Use(std::make_unique<CCameraTAVC>());
  Apply({32, 24, 1, IMAGE_RGB24, false, true, true, 60});
  cam->useDark = true;
  cam->GettingDark(1);
  std::vector<uint8_t> dark(RawBytes(), 12);
  std::memcpy(dark.data(), "\x11\xAA\x00\xBB", 4);
  for (size_t hot : {size_t{100}, size_t{333}, size_t{500}}) dark[hot] = 200;
  ASSERT_TRUE(cam->frameQueue->Push(dark.data(), dark.size()));
  std::vector<uint8_t> out(32 * 24 * 3);
  ASSERT_TRUE(cam->GetImage(out.data(), static_cast<int>(out.size()), 0));
  ASSERT_FALSE(cam->darkCapturing) << "the dark frame is complete";
  ASSERT_GT(cam->HotPixelsCorrectedPerFrame(), 0);
  uint32_t seed = 300;
  for (IMAGE_TYPE type : {IMAGE_8BIT, IMAGE_RGB24, IMAGE_YUV422})
    for (bool raw : {false, true}) ExpectPathsAgree({32, 24, 1, type, raw, true, false, 60}, seed++);
}

TEST(FrameQueueLoan, ALentSlotIsReadInPlaceAndLeavesOnReturn) {
  okc::core::FrameQueue queue(16);
  const uint8_t a[16] = {1}, b[16] = {2}, c[16] = {3};
  EXPECT_EQ(queue.LendFront(), nullptr) << "nothing to lend";
  okc::core::FrameMetadata meta;
  meta.sequence = 7;
  ASSERT_TRUE(queue.Push(a, sizeof a, meta));
  okc::core::FrameMetadata lentMeta;
  uint8_t* lent = queue.LendFront(&lentMeta);
  ASSERT_NE(lent, nullptr);
  EXPECT_EQ(lent[0], 1);
  EXPECT_EQ(lentMeta.sequence, 7u);
  EXPECT_EQ(queue.LendFront(), nullptr) << "one loan at a time";
  // The worker fills the other slot meanwhile, and then has no room.
  EXPECT_TRUE(queue.Push(b, sizeof b));
  EXPECT_FALSE(queue.Push(c, sizeof c));
  EXPECT_EQ(lent[0], 1) << "the lent slot is never written";
  queue.ReturnLent();
  EXPECT_EQ(queue.Count(), 1);
  uint8_t out[16] = {};
  ASSERT_TRUE(queue.Pop(out, sizeof out));
  EXPECT_EQ(out[0], 2);
}

TEST(FrameQueueLoan, AResetDuringALoanNeitherOverwritesTheSlotNorLosesALaterFrame) {
  okc::core::FrameQueue queue(16);
  const uint8_t a[16] = {1}, b[16] = {2}, c[16] = {3};
  ASSERT_TRUE(queue.Push(a, sizeof a));
  uint8_t* lent = queue.LendFront();
  ASSERT_NE(lent, nullptr);
  queue.Reset();  // a new capture run starts while the host still reads
  EXPECT_FALSE(queue.Push(b, sizeof b)) << "the next slot is the lent one";
  EXPECT_EQ(lent[0], 1);
  queue.ReturnLent();
  EXPECT_EQ(queue.Count(), 0) << "the reset already emptied the queue";
  ASSERT_TRUE(queue.Push(c, sizeof c));
  uint8_t out[16] = {};
  ASSERT_TRUE(queue.Pop(out, sizeof out));
  EXPECT_EQ(out[0], 3);
}

}  // namespace
