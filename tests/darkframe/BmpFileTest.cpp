// Dark frames as 8-bit grey BMP files: the exact bytes written, and files the
// reader must refuse without reading past their end or writing its output.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <numeric>
#include <vector>

#include "imaging/BmpFile.h"
#include "support/SimEnvironment.h"

using okc::imaging::BmpReadResult;
using okc::imaging::ReadGreyBmp;
using okc::imaging::WriteGreyBmp;

namespace {

std::vector<uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

uint32_t Le(const std::vector<uint8_t>& bytes, size_t at, int size = 4) {
  uint32_t value = 0;
  for (int i = size - 1; i >= 0; --i) value = value << 8 | bytes[at + i];
  return value;
}

void Put(std::vector<uint8_t>& bytes, size_t at, uint32_t value, int size = 4) {
  for (int i = 0; i < size; ++i) bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

// A 5 x 3 dark frame: rows are padded to 8 bytes.
class BmpFileTest : public okc::test::SimEnvironment {
 protected:
  void SetUp() override {
    SimEnvironment::SetUp();
    scratch_ = MakeTempDir();
    good_ = scratch_ + "/dark.bmp";
    std::iota(pixels_.begin(), pixels_.end(), uint8_t{1});
    ASSERT_TRUE(WriteGreyBmp(good_.c_str(), kWidth, kHeight, pixels_.data()));
    goodBytes_ = ReadBytes(good_);
  }

  // Reads `bytes` as a file; unless the result is Ok the output must stay untouched.
  BmpReadResult Read(const std::vector<uint8_t>& bytes, int width = kWidth, int height = kHeight) {
    const std::string path = scratch_ + "/case.bmp";
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    std::vector<uint8_t> out(kWidth * kHeight + 64, 0xEE);
    const BmpReadResult result = ReadGreyBmp(path.c_str(), width, height, out.data());
    if (result != BmpReadResult::Ok) {
      EXPECT_EQ(out, std::vector<uint8_t>(out.size(), 0xEE));
    }
    return result;
  }

  static constexpr int kWidth = 5;
  static constexpr int kHeight = 3;
  std::string scratch_;
  std::string good_;
  std::vector<uint8_t> pixels_ = std::vector<uint8_t>(kWidth * kHeight);
  std::vector<uint8_t> goodBytes_;
};

}  // namespace

TEST_F(BmpFileTest, WritesHeadersPaletteAndPaddedRowsAndReadsThemBack) {
  const auto& b = goodBytes_;
  ASSERT_EQ(b.size(), 1078u + 8 * 3);
  EXPECT_EQ(Le(b, 0, 2), 'B' | 'M' << 8);
  const struct {
    size_t at;
    int size;
    uint32_t value;
  } fields[] = {{2, 4, 1078 + 24}, {6, 4, 0},  {10, 4, 1078}, {14, 4, 40}, {18, 4, 5},  {22, 4, 3},  {26, 2, 1},
                {28, 2, 8},        {30, 4, 0}, {34, 4, 24},   {38, 4, 0},  {42, 4, 0},  {46, 4, 256}, {50, 4, 0}};
  for (const auto& f : fields) EXPECT_EQ(Le(b, f.at, f.size), f.value) << "offset " << f.at;
  for (uint32_t i = 0; i < 256; ++i) ASSERT_EQ(Le(b, 54 + 4 * i), i | (i << 8) | (i << 16)) << "palette " << i;
  // Sensor row 0 comes first, each row zero-filled to 8 bytes.
  EXPECT_EQ(std::vector<uint8_t>(b.begin() + 1078, b.begin() + 1094),
            (std::vector<uint8_t>{1, 2, 3, 4, 5, 0, 0, 0, 6, 7, 8, 9, 10, 0, 0, 0}));
  std::vector<uint8_t> out(kWidth * kHeight);
  ASSERT_EQ(ReadGreyBmp(good_.c_str(), kWidth, kHeight, out.data()), BmpReadResult::Ok);
  EXPECT_EQ(out, pixels_);
}

TEST_F(BmpFileTest, AcceptsALongerInformationHeaderAndAMissingFileSize) {
  // A version 5 header (124 bytes) with the palette and pixels behind it, as image editors write.
  std::vector<uint8_t> bytes(goodBytes_.begin(), goodBytes_.begin() + 54);
  bytes.resize(14 + 124, 0);
  Put(bytes, 14, 124);
  bytes.insert(bytes.end(), goodBytes_.begin() + 54, goodBytes_.end());
  Put(bytes, 10, 14 + 124 + 1024);
  Put(bytes, 2, static_cast<uint32_t>(bytes.size()));
  EXPECT_EQ(Read(bytes), BmpReadResult::Ok);
  auto unsized = goodBytes_;
  Put(unsized, 2, 0);  // size left out by the writer: the real file size decides
  EXPECT_EQ(Read(unsized), BmpReadResult::Ok);
}

TEST_F(BmpFileTest, RefusesFilesThatAreNotTheExpectedDarkFrameOrLie) {
  const uint32_t size = static_cast<uint32_t>(goodBytes_.size());
  const struct {
    const char* what;
    size_t at;
    uint32_t value;
    int fieldSize;  // 0: nothing patched
    size_t keep;  // bytes of the file kept
    int width, height;
  } cases[] = {
      {"other width", 0, 0, 0, size, kWidth + 4, kHeight},
      {"other height", 0, 0, 0, size, kWidth, kHeight - 1},
      {"24 bits per pixel", 28, 24, 2, size, kWidth, kHeight},
      {"run-length compressed", 30, 1, 4, size, kWidth, kHeight},
      {"not a BMP", 0, 'X', 1, size, kWidth, kHeight},
      {"12-byte header", 14, 12, 4, size, kWidth, kHeight},
      {"top-down rows", 22, static_cast<uint32_t>(-kHeight), 4, size, kWidth, -kHeight},
      {"pixels one byte past the end", 10, 1079, 4, size, kWidth, kHeight},
      {"pixels far past the end", 10, 0xFFFFFFF0u, 4, size, kWidth, kHeight},
      {"pixels inside the headers", 10, 20, 4, size, kWidth, kHeight},
      {"file size too large", 2, size + 100, 4, size, kWidth, kHeight},
      {"last byte missing", 0, 0, 0, size - 1, kWidth, kHeight},
      {"cut inside the header", 0, 0, 0, 30, kWidth, kHeight},
      {"empty", 0, 0, 0, 0, kWidth, kHeight},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<uint8_t> bytes(goodBytes_.begin(), goodBytes_.begin() + c.keep);
    if (c.fieldSize) Put(bytes, c.at, c.value, c.fieldSize);
    EXPECT_EQ(Read(bytes, c.width, c.height), BmpReadResult::Refused);
  }
}

TEST_F(BmpFileTest, MissingFilesAndUnwritablePlacesAreReported) {
  std::vector<uint8_t> out(kWidth * kHeight);
  EXPECT_EQ(ReadGreyBmp((scratch_ + "/missing.bmp").c_str(), kWidth, kHeight, out.data()), BmpReadResult::CannotOpen);
  EXPECT_EQ(ReadGreyBmp(scratch_.c_str(), kWidth, kHeight, out.data()), BmpReadResult::CannotOpen);
  EXPECT_EQ(ReadGreyBmp(nullptr, kWidth, kHeight, out.data()), BmpReadResult::CannotOpen);
  EXPECT_FALSE(WriteGreyBmp((scratch_ + "/no/such/folder.bmp").c_str(), kWidth, kHeight, pixels_.data()));
  EXPECT_FALSE(WriteGreyBmp((scratch_ + "/null.bmp").c_str(), kWidth, kHeight, nullptr));
  EXPECT_FALSE(WriteGreyBmp((scratch_ + "/empty.bmp").c_str(), 0, kHeight, pixels_.data()));
  EXPECT_FALSE(std::filesystem::exists(scratch_ + "/null.bmp"));
  if (std::filesystem::exists("/dev/full")) {
    EXPECT_FALSE(WriteGreyBmp("/dev/full", kWidth, kHeight, pixels_.data()));
    EXPECT_TRUE(std::filesystem::exists("/dev/full"));  // a failed write never removes a device
  }
}

// A FIFO, device or folder is refused at once, for reading and for writing, and left as it was.
TEST_F(BmpFileTest, PathsThatAreNoRegularFilesAreRefusedAtOnce) {
  const std::string fifo = scratch_ + "/dark.fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const std::string folder = scratch_ + "/folder.bmp";
  std::filesystem::create_directory(folder);
  std::vector<uint8_t> out(kWidth * kHeight, 0xAA);
  for (const std::string& path : {fifo, folder, std::string("/dev/null"), std::string("/dev/zero")}) {
    SCOPED_TRACE(path);
    EXPECT_EQ(ReadGreyBmp(path.c_str(), kWidth, kHeight, out.data()), BmpReadResult::CannotOpen);
    EXPECT_FALSE(WriteGreyBmp(path.c_str(), kWidth, kHeight, pixels_.data()));
    EXPECT_FALSE(std::filesystem::is_regular_file(path));
  }
  EXPECT_TRUE(std::filesystem::is_fifo(fifo));
  EXPECT_TRUE(std::filesystem::is_directory(folder));
  EXPECT_EQ(out, std::vector<uint8_t>(kWidth * kHeight, 0xAA));
}
