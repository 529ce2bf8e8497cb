// The date and time mark: the glyph bits drawn for a fixed time, the ink
// chosen from the background, both output formats, clipping on small frames,
// and the mark on frames delivered by a simulated camera.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "capture/CaptureFixture.h"
#include "imaging/TimeMark.h"
#include "okccamera/WallClock.h"

namespace {

using okc::imaging::AddTimeMark;
using okc::imaging::kTimeMarkFont;
using okc::platform::LocalTime;

const LocalTime kTime{2026, 1, 5, 13, 7, 9, 45};

// The frame an 8-bit mark of `time` must give on a uniform background: the
// table's bits, character by character, where they fall inside the frame.
std::vector<uint8_t> ExpectedMark(int w, int h, uint8_t background, uint8_t ink, const std::string& date,
                                  const std::string& time) {
  std::vector<uint8_t> frame(static_cast<size_t>(w) * h, background);
  auto draw = [&](const std::string& text, int left) {
    for (size_t j = 0; j < text.size(); ++j) {
      if (text[j] < '0' || text[j] > ':') continue;  // no glyph: left blank
      const auto& glyph = kTimeMarkFont[static_cast<size_t>(text[j] - '0')];
      for (int k = 0; k < 16; ++k)
        for (int b = 0; b < 8; ++b) {
          const int row = 7 + k, column = left + 8 * static_cast<int>(j) + b;
          if ((glyph[static_cast<size_t>(k)] >> b & 1) && row < h && column >= 0 && column < w)
            frame[static_cast<size_t>(row) * w + column] = ink;
        }
    }
  };
  draw(date, w - 200);
  draw(time, w - 128);
  return frame;
}

TEST(TimeMarkFont, IsTheTableOfElevenGlyphs) {
  // Spot checks against the listed bytes, and the ink count of every glyph.
  EXPECT_EQ(kTimeMarkFont[0][2], 0x38);
  EXPECT_EQ(kTimeMarkFont[1][11], 0x1E);
  EXPECT_EQ(kTimeMarkFont[4][5], 0xFE);
  EXPECT_EQ(kTimeMarkFont[9][7], 0xEC);
  EXPECT_EQ(kTimeMarkFont[10][9], 0x38);
  const int inkPerGlyph[11] = {42, 28, 38, 36, 41, 39, 41, 31, 45, 41, 12};
  for (size_t g = 0; g < kTimeMarkFont.size(); ++g) {
    int ink = 0;
    for (uint8_t row : kTimeMarkFont[g]) ink += std::popcount(row);
    EXPECT_EQ(ink, inkPerGlyph[g]) << "glyph " << g;
    // Rows 0, 1 and 13 to 15 are blank in every glyph.
    for (size_t k : {0u, 1u, 13u, 14u, 15u}) EXPECT_EQ(kTimeMarkFont[g][k], 0) << g << " " << k;
  }
}

TEST(TimeMark, FormatsDateAndTimeToTheMillisecond) {
  EXPECT_EQ(okc::imaging::TimeMarkDate(kTime), "20260105");
  EXPECT_EQ(okc::imaging::TimeMarkTime(kTime), "13:07:09:045");
}

TEST(TimeMark, DrawsTheTableBitsAtTheirPlace) {
  std::vector<uint8_t> frame(640 * 480, 0);
  AddTimeMark(frame.data(), frame.size(), 640, 480, IMAGE_8BIT, kTime);
  // Date at columns 440 .. 503, time at 512 .. 607, rows 7 .. 22; nothing else touched.
  EXPECT_EQ(frame, ExpectedMark(640, 480, 0, 180, "20260105", "13:07:09:045"));
  // Bit 0 is the leftmost column: the "1" of the date (character 5, from column
  // 480) has row 11 = 0x1E, ink in columns 481 to 484 of row 18.
  const uint8_t* row18 = &frame[18 * 640];
  EXPECT_EQ(std::vector<uint8_t>(row18 + 480, row18 + 486), (std::vector<uint8_t>{0, 180, 180, 180, 180, 0}));
}

TEST(WallClock, TellsTheLocalTimeOrTheOneInstalled) {
  const LocalTime now = okc::platform::LocalTimeNow();
  EXPECT_GE(now.year, 2020);
  EXPECT_TRUE(now.month >= 1 && now.month <= 12 && now.day >= 1 && now.day <= 31);
  EXPECT_TRUE(now.hour >= 0 && now.hour < 24 && now.minute >= 0 && now.minute < 60);
  EXPECT_TRUE(now.millisecond >= 0 && now.millisecond < 1000);
  auto fixed = std::make_shared<okc::platform::FixedWallClock>(kTime);
  okc::platform::UseWallClock(fixed);
  EXPECT_EQ(okc::platform::LocalTimeNow().millisecond, 45);
  fixed->Set(LocalTime{2030, 6, 7, 8, 9, 10, 11});
  EXPECT_EQ(okc::platform::LocalTimeNow().year, 2030);
  okc::platform::UseWallClock(nullptr);
  EXPECT_GE(okc::platform::LocalTimeNow().year, 2020);
}

TEST(TimeMark, ChoosesTheInkFromTheBackground) {
  struct Case {
    uint8_t background;
    uint8_t ink;
  };
  for (const Case c : {Case{0, 180}, Case{129, 180}, Case{130, 220}, Case{150, 220}, Case{179, 220},
                       Case{180, 120}, Case{255, 120}}) {
    std::vector<uint8_t> frame(320 * 40, c.background);
    AddTimeMark(frame.data(), frame.size(), 320, 40, IMAGE_8BIT, kTime);
    EXPECT_EQ(frame, ExpectedMark(320, 40, c.background, c.ink, "20260105", "13:07:09:045"))
        << "background " << int(c.background);
  }
}

TEST(TimeMark, InksAllThreeBytesOfAColourPixel) {
  // Mean (60 + 150 + 240) / 3 = 150: the middle ink.
  const int w = 256, h = 24;
  std::vector<uint8_t> frame(static_cast<size_t>(w) * h * 3);
  for (size_t i = 0; i < frame.size(); i += 3) {
    frame[i] = 60;
    frame[i + 1] = 150;
    frame[i + 2] = 240;
  }
  AddTimeMark(frame.data(), frame.size(), w, h, IMAGE_RGB24, kTime);
  const std::vector<uint8_t> grey = ExpectedMark(w, h, 0, 220, "20260105", "13:07:09:045");
  for (size_t p = 0; p < grey.size(); ++p) {
    if (grey[p] == 220) {
      EXPECT_EQ(frame[3 * p], 220);
      EXPECT_EQ(frame[3 * p + 1], 220);
      EXPECT_EQ(frame[3 * p + 2], 220);
    } else {
      EXPECT_EQ(frame[3 * p], 60);
      EXPECT_EQ(frame[3 * p + 2], 240);
    }
  }
}

TEST(TimeMark, LeavesOtherFormatsAndShortBuffersAlone) {
  for (IMAGE_TYPE type : {IMAGE_YUV422, IMAGE_16BIT, IMAGE_16BIT_ALT}) {
    std::vector<uint8_t> frame(640 * 480 * 2, 7);
    AddTimeMark(frame.data(), frame.size(), 640, 480, type, kTime);
    EXPECT_TRUE(std::all_of(frame.begin(), frame.end(), [](uint8_t v) { return v == 7; })) << type;
  }
  std::vector<uint8_t> frame(640 * 480 - 1, 7);
  AddTimeMark(frame.data(), frame.size(), 640, 480, IMAGE_8BIT, kTime);
  EXPECT_TRUE(std::all_of(frame.begin(), frame.end(), [](uint8_t v) { return v == 7; }));
}

TEST(TimeMark, ClipsToFramesTooSmallForIt) {
  struct Case {
    int w, h;
  };
  // 16 x 8: the whole mark lies left of the frame; 150 x 30: the date is cut
  // on the left; 200 x 10: only rows 7 to 9; 3 x 2: nothing at all.
  for (const Case c : {Case{16, 8}, Case{150, 30}, Case{200, 10}, Case{3, 2}}) {
    // Exactly the frame's bytes, so a write past its end is caught by the address sanitizer.
    auto frame = std::make_unique<uint8_t[]>(static_cast<size_t>(c.w) * c.h);
    std::fill_n(frame.get(), c.w * c.h, 0);
    AddTimeMark(frame.get(), static_cast<size_t>(c.w) * c.h, c.w, c.h, IMAGE_8BIT, kTime);
    const std::vector<uint8_t> expected = ExpectedMark(c.w, c.h, 0, 180, "20260105", "13:07:09:045");
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), frame.get())) << c.w << "x" << c.h;
  }
}

TEST(TimeMark, LeavesCharactersWithoutGlyphBlank) {
  // A year below 1000 prints with a leading space.
  const LocalTime early{999, 12, 31, 23, 59, 59, 999};
  std::vector<uint8_t> frame(640 * 40, 0);
  AddTimeMark(frame.data(), frame.size(), 640, 40, IMAGE_8BIT, early);
  EXPECT_EQ(frame, ExpectedMark(640, 40, 0, 180, " 9991231", "23:59:59:999"));
}

// ---- through the camera ----

class TimeMarkCapture : public okc::test::CaptureTest {
 protected:
  void TearDown() override {
    okc::platform::UseWallClock(nullptr);
    okc::test::CaptureTest::TearDown();
  }
};

TEST_F(TimeMarkCapture, DeliveredFramesCarryTheMarkOfTheWallClock) {
  okc::platform::UseWallClock(std::make_shared<okc::platform::FixedWallClock>(kTime));
  OpenTavc(320, 240, 1, IMGTYPE_RAW8, 2000);
  sim->SetLensCovered(true);  // a dark background: ink 180
  addTimestamp(true);
  ASSERT_TRUE(isTimestampAdded());
  startCapture();
  std::vector<uint8_t> frame(320 * 240);
  ASSERT_TRUE(getImageData(frame.data(), static_cast<int>(frame.size()), 5000));
  stopCapture();
  const std::vector<uint8_t> mark = ExpectedMark(320, 240, 0, 180, "20260105", "13:07:09:045");
  int inked = 0;
  for (size_t i = 0; i < mark.size(); ++i) {
    if (mark[i] == 180) {
      EXPECT_EQ(frame[i], 180) << "pixel " << i;
      ++inked;
    }
  }
  EXPECT_GT(inked, 0);
}

TEST_F(TimeMarkCapture, SixteenBitFramesAreNotMarked) {
  okc::platform::UseWallClock(std::make_shared<okc::platform::FixedWallClock>(kTime));
  OpenTavc(320, 240, 1, IMGTYPE_RAW16, 2000);
  sim->SetLensCovered(true);
  addTimestamp(true);
  startCapture();
  std::vector<uint16_t> frame(320 * 240);
  ASSERT_TRUE(getImageData(reinterpret_cast<unsigned char*>(frame.data()), static_cast<int>(frame.size() * 2), 5000));
  stopCapture();
  // Dark current at 2 ms stays far below any ink level (ink x 256 in 16 bits).
  for (int k = 0; k < 16; ++k)
    for (int x = 320 - 200; x < 320 - 32; ++x) EXPECT_LT(frame[static_cast<size_t>(7 + k) * 320 + x], 120 * 256);
}

}  // namespace
