// Dark frames as 8-bit grey BMP files: the exact bytes written, and files the
// reader must refuse without reading past their end.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <numeric>
#include <vector>

#include "ScratchDir.h"
#include "imaging/BmpFile.h"

using okc::imaging::BmpReadResult;
using okc::imaging::GreyBmpRowBytes;
using okc::imaging::ReadGreyBmp;
using okc::imaging::WriteGreyBmp;

namespace {

std::vector<uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

uint32_t Le32(const std::vector<uint8_t>& bytes, size_t at) {
  return bytes[at] | (bytes[at + 1] << 8) | (bytes[at + 2] << 16) | (static_cast<uint32_t>(bytes[at + 3]) << 24);
}
uint16_t Le16(const std::vector<uint8_t>& bytes, size_t at) { return static_cast<uint16_t>(bytes[at] | (bytes[at + 1] << 8)); }
void Put32(std::vector<uint8_t>& bytes, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

std::vector<uint8_t> Ramp(size_t count) {
  std::vector<uint8_t> pixels(count);
  std::iota(pixels.begin(), pixels.end(), uint8_t{1});
  return pixels;
}

class BmpFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(scratch_.Path().empty());
    ASSERT_TRUE(WriteGreyBmp(good_.c_str(), kWidth, kHeight, pixels_.data()));
    goodBytes_ = ReadBytes(good_);
  }

  // Reads `bytes` as a file and checks that the result is `expected` and, unless Ok, that
  // the output was not written.
  void ExpectRead(const std::vector<uint8_t>& bytes, BmpReadResult expected, int width = kWidth,
                  int height = kHeight) {
    const std::string path = scratch_ / "case.bmp";
    WriteBytes(path, bytes);
    std::vector<uint8_t> out(static_cast<size_t>(kWidth) * kHeight + 64, 0xEE);
    EXPECT_EQ(ReadGreyBmp(path.c_str(), width, height, out.data()), expected);
    if (expected != BmpReadResult::Ok) {
      EXPECT_EQ(std::count(out.begin(), out.end(), 0xEE), static_cast<long>(out.size()));
    }
  }

  static constexpr int kWidth = 8;
  static constexpr int kHeight = 3;
  ScratchDir scratch_;
  std::string good_ = scratch_ / "dark.bmp";
  std::vector<uint8_t> pixels_ = Ramp(kWidth * kHeight);
  std::vector<uint8_t> goodBytes_;
};

}  // namespace

TEST(BmpRowBytes, RoundsTheWidthUpToFourBytes) {
  EXPECT_EQ(GreyBmpRowBytes(1), 4u);
  EXPECT_EQ(GreyBmpRowBytes(4), 4u);
  EXPECT_EQ(GreyBmpRowBytes(5), 8u);
  EXPECT_EQ(GreyBmpRowBytes(1280), 1280u);
  EXPECT_EQ(GreyBmpRowBytes(0), 0u);
}

TEST_F(BmpFileTest, WritesTheHeadersPaletteAndRowsExactly) {
  const auto& b = goodBytes_;
  ASSERT_EQ(b.size(), 1078u + 8 * 3);
  EXPECT_EQ(b[0], 'B');
  EXPECT_EQ(b[1], 'M');
  EXPECT_EQ(Le32(b, 2), 1078u + 24);
  EXPECT_EQ(Le32(b, 6), 0u);  // both reserved fields
  EXPECT_EQ(Le32(b, 10), 1078u);
  EXPECT_EQ(Le32(b, 14), 40u);
  EXPECT_EQ(Le32(b, 18), 8u);
  EXPECT_EQ(Le32(b, 22), 3u);
  EXPECT_EQ(Le16(b, 26), 1u);
  EXPECT_EQ(Le16(b, 28), 8u);
  EXPECT_EQ(Le32(b, 30), 0u);
  EXPECT_EQ(Le32(b, 34), 24u);
  EXPECT_EQ(Le32(b, 38), 0u);
  EXPECT_EQ(Le32(b, 42), 0u);
  EXPECT_EQ(Le32(b, 46), 256u);
  EXPECT_EQ(Le32(b, 50), 0u);
  for (uint32_t i = 0; i < 256; ++i) {
    ASSERT_EQ(Le32(b, 54 + 4 * i), i | (i << 8) | (i << 16)) << "palette entry " << i;
  }
  // Sensor row 0 comes first: the rows are not turned upside down.
  EXPECT_TRUE(std::equal(pixels_.begin(), pixels_.end(), b.begin() + 1078));
}

TEST_F(BmpFileTest, PaddedRowsAreWrittenWithZeroFillAndReadBack) {
  const std::string path = scratch_ / "odd.bmp";
  const std::vector<uint8_t> pixels = Ramp(5 * 3);
  ASSERT_TRUE(WriteGreyBmp(path.c_str(), 5, 3, pixels.data()));
  const std::vector<uint8_t> bytes = ReadBytes(path);
  ASSERT_EQ(bytes.size(), 1078u + 8 * 3);
  EXPECT_EQ(Le32(bytes, 34), 24u);
  const std::vector<uint8_t> secondRow(bytes.begin() + 1078 + 8, bytes.begin() + 1078 + 16);
  EXPECT_EQ(secondRow, (std::vector<uint8_t>{6, 7, 8, 9, 10, 0, 0, 0}));

  std::vector<uint8_t> out(15);
  ASSERT_EQ(ReadGreyBmp(path.c_str(), 5, 3, out.data()), BmpReadResult::Ok);
  EXPECT_EQ(out, pixels);
}

TEST_F(BmpFileTest, AcceptsTheLongerInformationHeaders) {
  // A version 5 header (124 bytes) with the palette and pixels behind it, as image editors write.
  std::vector<uint8_t> bytes(goodBytes_.begin(), goodBytes_.begin() + 54);
  bytes.resize(14 + 124, 0);
  Put32(bytes, 14, 124);
  bytes.insert(bytes.end(), goodBytes_.begin() + 54, goodBytes_.end());
  Put32(bytes, 10, 14 + 124 + 1024);
  Put32(bytes, 2, static_cast<uint32_t>(bytes.size()));
  ExpectRead(bytes, BmpReadResult::Ok);
}

TEST_F(BmpFileTest, RefusesFilesThatAreNotTheExpectedDarkFrame) {
  ExpectRead(goodBytes_, BmpReadResult::Refused, kWidth + 4, kHeight);
  ExpectRead(goodBytes_, BmpReadResult::Refused, kWidth, kHeight - 1);

  auto broken = goodBytes_;
  broken[28] = 24;  // 24 bits per pixel
  ExpectRead(broken, BmpReadResult::Refused);

  broken = goodBytes_;
  broken[30] = 1;  // run-length compressed
  ExpectRead(broken, BmpReadResult::Refused);

  broken = goodBytes_;
  broken[0] = 'X';
  ExpectRead(broken, BmpReadResult::Refused);

  broken = goodBytes_;
  Put32(broken, 14, 12);  // the old 12-byte header
  ExpectRead(broken, BmpReadResult::Refused);

  broken = goodBytes_;
  Put32(broken, 22, static_cast<uint32_t>(-kHeight));  // top-down rows
  ExpectRead(broken, BmpReadResult::Refused, kWidth, -kHeight);
}

TEST_F(BmpFileTest, RefusesHeadersThatLieAboutTheFile) {
  auto lying = goodBytes_;
  Put32(lying, 10, 1079);  // pixels would run one byte past the end
  ExpectRead(lying, BmpReadResult::Refused);

  lying = goodBytes_;
  Put32(lying, 10, 0xFFFFFFF0u);
  ExpectRead(lying, BmpReadResult::Refused);

  lying = goodBytes_;
  Put32(lying, 10, 20);  // pixels inside the headers
  ExpectRead(lying, BmpReadResult::Refused);

  lying = goodBytes_;
  Put32(lying, 2, static_cast<uint32_t>(goodBytes_.size() + 100));
  ExpectRead(lying, BmpReadResult::Refused);

  auto cut = goodBytes_;
  cut.pop_back();
  ExpectRead(cut, BmpReadResult::Refused);
  ExpectRead(std::vector<uint8_t>(goodBytes_.begin(), goodBytes_.begin() + 30), BmpReadResult::Refused);
  ExpectRead({}, BmpReadResult::Refused);

  auto unsized = goodBytes_;
  Put32(unsized, 2, 0);  // size left out by the writer: the real file size decides
  ExpectRead(unsized, BmpReadResult::Ok);
}

TEST_F(BmpFileTest, MissingFilesAndFoldersCannotBeOpened) {
  std::vector<uint8_t> out(kWidth * kHeight);
  EXPECT_EQ(ReadGreyBmp((scratch_ / "missing.bmp").c_str(), kWidth, kHeight, out.data()), BmpReadResult::CannotOpen);
  EXPECT_EQ(ReadGreyBmp(scratch_.Path().c_str(), kWidth, kHeight, out.data()), BmpReadResult::CannotOpen);
  EXPECT_EQ(ReadGreyBmp(nullptr, kWidth, kHeight, out.data()), BmpReadResult::CannotOpen);
}

TEST_F(BmpFileTest, WriteReportsFilesThatCannotBeWritten) {
  EXPECT_FALSE(WriteGreyBmp((scratch_ / "no/such/folder.bmp").c_str(), kWidth, kHeight, pixels_.data()));
  EXPECT_FALSE(WriteGreyBmp((scratch_ / "null.bmp").c_str(), kWidth, kHeight, nullptr));
  EXPECT_FALSE(WriteGreyBmp((scratch_ / "empty.bmp").c_str(), 0, kHeight, pixels_.data()));
  EXPECT_FALSE(std::filesystem::exists(scratch_ / "null.bmp"));
  if (std::filesystem::exists("/dev/full")) {
    EXPECT_FALSE(WriteGreyBmp("/dev/full", kWidth, kHeight, pixels_.data()));
    EXPECT_TRUE(std::filesystem::exists("/dev/full"));  // a failed write never removes a device
  }
}
