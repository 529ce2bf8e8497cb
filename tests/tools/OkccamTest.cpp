// okccam end to end: the real program on simulated cameras, its files read back with cfitsio.
#include <fitsio.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "tools/ToolRun.h"

namespace {

namespace fs = std::filesystem;
using okc::test::RunOkccam;
using okc::test::ToolRun;

class OkccamTool : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "okccam-test-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir = pattern;
    // Keep the program's stored settings inside the test folder.
    setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
  }
  void TearDown() override { fs::remove_all(dir); }
  fs::path dir;
};

std::string KeyString(fitsfile* file, const char* name) {
  char value[FLEN_VALUE] = {};
  int status = 0;
  fits_read_key(file, TSTRING, name, value, nullptr, &status);
  return status ? "<missing>" : value;
}

double KeyDouble(fitsfile* file, const char* name) {
  double value = -1;
  int status = 0;
  fits_read_key(file, TDOUBLE, name, &value, nullptr, &status);
  return status ? -999 : value;
}

TEST_F(OkccamTool, CaptureWritesFitsFilesWithTheirKeywords) {
  const fs::path out = dir / "frames";
  ToolRun run = RunOkccam("capture --sim TAVC --frames 2 --exposure-us 5000 --gain 30 --bin 2 --roi 320,240 --format raw16 "
                   "--out " + out.string());
  ASSERT_EQ(run.exitCode, 0) << run.output;
  EXPECT_NE(run.output.find("2 frames written"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("dropped"), std::string::npos);
  for (const char* name : {"frame-00001.fits", "frame-00002.fits"}) {
    SCOPED_TRACE(name);
    fitsfile* file = nullptr;
    int status = 0;
    ASSERT_EQ(fits_open_file(&file, (out / name).c_str(), READONLY, &status), 0);
    int bitpix = 0, naxis = 0;
    long axes[3] = {};
    fits_get_img_param(file, 3, &bitpix, &naxis, axes, &status);
    fits_get_img_equivtype(file, &bitpix, &status);
    EXPECT_EQ(bitpix, USHORT_IMG);
    EXPECT_EQ(naxis, 2);
    EXPECT_EQ(axes[0], 320);
    EXPECT_EQ(axes[1], 240);
    EXPECT_DOUBLE_EQ(KeyDouble(file, "EXPTIME"), 0.005);
    EXPECT_EQ(KeyDouble(file, "GAIN"), 30);
    EXPECT_EQ(KeyDouble(file, "XBINNING"), 2);
    EXPECT_EQ(KeyDouble(file, "YBINNING"), 2);
    EXPECT_DOUBLE_EQ(KeyDouble(file, "XPIXSZ"), 7.5);
    EXPECT_DOUBLE_EQ(KeyDouble(file, "YPIXSZ"), 7.5);
    EXPECT_GT(KeyDouble(file, "CCD-TEMP"), -50);
    EXPECT_EQ(KeyString(file, "INSTRUME"), "YRA OKCTAVC");
    EXPECT_EQ(KeyString(file, "DATE-OBS").size(), 23u);  // 2026-12-06T21:56:24.848
    // The scene reaches the file: a frame of a star field is not flat.
    std::vector<uint16_t> pixels(320 * 240);
    int anyNull = 0;
    fits_read_img(file, TUSHORT, 1, pixels.size(), nullptr, pixels.data(), &anyNull, &status);
    EXPECT_EQ(status, 0);
    EXPECT_NE(*std::min_element(pixels.begin(), pixels.end()), *std::max_element(pixels.begin(), pixels.end()));
    fits_close_file(file, &status);
  }
}

TEST_F(OkccamTool, RawColourFramesNameTheirBayerPattern) {
  const fs::path out = dir / "raw";
  ToolRun run = RunOkccam("capture --sim TAVC --frames 1 --exposure-us 5000 --roi 320,240 --out " + out.string());
  ASSERT_EQ(run.exitCode, 0) << run.output;
  fitsfile* file = nullptr;
  int status = 0;
  ASSERT_EQ(fits_open_file(&file, (out / "frame-00001.fits").c_str(), READONLY, &status), 0);
  // Sensor cell G R / B G, mirrored left-right by default: R G / G B.
  EXPECT_EQ(KeyString(file, "BAYERPAT"), "RGGB");
  fits_close_file(file, &status);
}

TEST_F(OkccamTool, ColourFramesBecomeAThreePlaneCube) {
  const fs::path out = dir / "colour";
  ToolRun run = RunOkccam("capture --sim TAVC --frames 1 --exposure-us 5000 --roi 320,240 --format rgb24 --out " +
                   out.string());
  ASSERT_EQ(run.exitCode, 0) << run.output;
  fitsfile* file = nullptr;
  int status = 0;
  ASSERT_EQ(fits_open_file(&file, (out / "frame-00001.fits").c_str(), READONLY, &status), 0);
  int bitpix = 0, naxis = 0;
  long axes[3] = {};
  fits_get_img_param(file, 3, &bitpix, &naxis, axes, &status);
  EXPECT_EQ(naxis, 3);
  EXPECT_EQ(axes[0], 320);
  EXPECT_EQ(axes[1], 240);
  EXPECT_EQ(axes[2], 3);
  EXPECT_EQ(KeyString(file, "BAYERPAT"), "<missing>");
  fits_close_file(file, &status);
}

TEST_F(OkccamTool, ClearErrorsAndNonZeroExits) {
  struct Case {
    std::string args;
    std::string message;
  };
  const Case cases[] = {
      {"list --sim NOPE", "unknown model"},
      {"capture --sim TAVC --frames -1 --out " + dir.string(), "--frames must be"},
      {"capture --sim TAVC --gain 101 --out " + dir.string(), "--gain must be"},
      {"capture --sim TAVC --format jpeg --out " + dir.string(), "--format must be"},
      {"capture --sim TAVC --frames 1 --out /proc/okccam-cannot-write", "output folder"},
      {"capture --sim TAVC --frames 1", "--out is required"},
      {"capture --sim TAVC --frames 1 --roi 5000,5000 --out " + dir.string(), "does not fit the delivered image"},
      {"capture --sim TAVC --file-format tiff --out " + dir.string(), "--file-format must be"},
      {"capture --sim TAVC --frame-type science --out " + dir.string(), "--frame-type must be"},
      {"capture --sim TAVC --frames 1 --roi 320 --out " + dir.string(), "--roi must be"},
      {"guide --sim TAVC --direction up --ms 10", "--direction must be"},
      {"info --sim TAVC --camera 3", "--camera must be"},
      {"frobnicate", "unknown command"},
      {"capture --sim TAVC --target-brightness 256 --out " + dir.string(), "--target-brightness must be"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args);
    ToolRun run = RunOkccam(c.args);
    EXPECT_NE(run.exitCode, 0);
    EXPECT_NE(run.output.find(c.message), std::string::npos) << run.output;
  }
}

int KeyLogical(fitsfile* file, const char* name) {
  int value = -1;
  int status = 0;
  fits_read_key(file, TLOGICAL, name, &value, nullptr, &status);
  return status ? -999 : value;
}

TEST_F(OkccamTool, AutomaticModesAreReportedPerFrameAndInTheHeader) {
  const fs::path out = dir / "auto";
  ToolRun run = RunOkccam("capture --sim TAVC --frames 3 --roi 320,240 --exposure-us 3000 --gain 40 --auto-exposure "
                          "--auto-wb --target-brightness 120 --timestamp --out " + out.string());
  ASSERT_EQ(run.exitCode, 0) << run.output;
  // The sky is far too dark for 3 ms: each frame reports what it was taken with.
  EXPECT_NE(run.output.find("frame 1: exposure 3000 us, gain 40, balance"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("frame 3: exposure"), std::string::npos) << run.output;
  fitsfile* file = nullptr;
  int status = 0;
  ASSERT_EQ(fits_open_file(&file, (out / "frame-00001.fits").c_str(), READONLY, &status), 0);
  EXPECT_EQ(KeyLogical(file, "AUTOEXP"), 1);
  EXPECT_EQ(KeyLogical(file, "AUTOGAIN"), 0);
  EXPECT_DOUBLE_EQ(KeyDouble(file, "EXPTIME"), 0.003);
  EXPECT_EQ(KeyDouble(file, "GAIN"), 40);
  fits_close_file(file, &status);

  // Without the flags the modes are off again (the stored settings kept them on).
  run = RunOkccam("capture --sim TAVC --frames 1 --roi 320,240 --exposure-us 3000 --out " + out.string());
  ASSERT_EQ(run.exitCode, 0) << run.output;
  EXPECT_EQ(run.output.find("frame 1:"), std::string::npos) << run.output;
  ASSERT_EQ(fits_open_file(&file, (out / "frame-00004.fits").c_str(), READONLY, &status), 0);
  EXPECT_EQ(KeyLogical(file, "AUTOEXP"), 0);
  fits_close_file(file, &status);
}

TEST_F(OkccamTool, ListAndInfoDescribeTheSimulatedCameras) {
  ToolRun list = RunOkccam("list --sim TAVC,TAVM-U");
  ASSERT_EQ(list.exitCode, 0) << list.output;
  EXPECT_NE(list.output.find("0  YRA OKCTAVC"), std::string::npos);
  EXPECT_NE(list.output.find("1  YRA OKCTAVM-U"), std::string::npos);
  EXPECT_NE(list.output.find("6a5d:6103"), std::string::npos);
  ToolRun info = RunOkccam("info --sim TAVC");
  ASSERT_EQ(info.exitCode, 0) << info.output;
  EXPECT_NE(info.output.find("1280 x 960"), std::string::npos);
  EXPECT_NE(info.output.find("exposure-us"), std::string::npos);
  EXPECT_NE(info.output.find("temperature"), std::string::npos);
}

}  // namespace

namespace {

// The VGA, WVGA and processor cameras capture through the tool: a file with the
// region asked for (whole 1024-pixel blocks, as the DORC needs) and the model's name.
TEST_F(OkccamTool, OtherFamiliesCaptureThroughTheTool) {
  for (const char* model : {"PIMC", "SELC", "SELM", "DORC"}) {
    SCOPED_TRACE(model);
    const fs::path out = dir / model;
    ToolRun run = RunOkccam(std::string("capture --sim ") + model +
                            " --frames 1 --exposure-us 5000 --roi 256,128 --out " + out.string());
    ASSERT_EQ(run.exitCode, 0) << run.output;
    fitsfile* file = nullptr;
    int status = 0;
    ASSERT_EQ(fits_open_file(&file, (out / "frame-00001.fits").c_str(), READONLY, &status), 0);
    int bitpix = 0, naxis = 0;
    long axes[3] = {};
    fits_get_img_param(file, 3, &bitpix, &naxis, axes, &status);
    EXPECT_EQ(naxis, 2);
    EXPECT_EQ(axes[0], 256);
    EXPECT_EQ(axes[1], 128);
    EXPECT_EQ(KeyString(file, "INSTRUME"), std::string("YRA OKC") + model);
    fits_close_file(file, &status);
  }
}

}  // namespace

namespace {

// RENM streams through the tool: 16-bit frames of a binned region.
TEST_F(OkccamTool, RenmCapturesSixteenBitBinnedFrames) {
  ToolRun info = RunOkccam("info --sim RENM");
  ASSERT_EQ(info.exitCode, 0) << info.output;
  EXPECT_NE(info.output.find("raw8 raw16"), std::string::npos) << info.output;
  const fs::path out = dir / "renm";
  ToolRun run = RunOkccam("capture --sim RENM --frames 2 --exposure-us 5000 --bin 2 --format raw16 --roi 160,120 --out " +
                          out.string());
  ASSERT_EQ(run.exitCode, 0) << run.output;
  fitsfile* file = nullptr;
  int status = 0;
  ASSERT_EQ(fits_open_file(&file, (out / "frame-00002.fits").c_str(), READONLY, &status), 0);
  int bitpix = 0, naxis = 0;
  long axes[3] = {};
  fits_get_img_param(file, 3, &bitpix, &naxis, axes, &status);
  EXPECT_EQ(bitpix, SHORT_IMG) << "16-bit samples";
  EXPECT_EQ(naxis, 2);
  EXPECT_EQ(axes[0], 160);
  EXPECT_EQ(axes[1], 120);
  EXPECT_EQ(KeyString(file, "INSTRUME"), std::string("YRA OKCRENM"));
  fits_close_file(file, &status);
}

}  // namespace
