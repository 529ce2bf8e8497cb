// okccam end to end: the real program on simulated cameras, its files read back with cfitsio.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "tools/ToolRun.h"

namespace {

namespace fs = std::filesystem;
using okc::test::FitsFile;
using okc::test::RunOkccam;
using okc::test::ToolRun;
using OkccamTool = okc::test::ToolTest;
using Axes = std::vector<long>;

TEST_F(OkccamTool, CaptureWritesFitsFilesWithTheirKeywords) {
  const fs::path out = dir / "frames";
  ToolRun run = RunOkccam("capture --sim TAVC --frames 2 --exposure-us 5000 --gain 30 --bin 2 --roi 320,240 --format raw16 "
                   "--out " + out.string());
  ASSERT_EQ(run.exitCode, 0) << run.output;
  EXPECT_NE(run.output.find("2 frames written"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("dropped"), std::string::npos);
  for (const char* name : {"frame-00001.fits", "frame-00002.fits"}) {
    SCOPED_TRACE(name);
    FitsFile file(out / name);
    ASSERT_TRUE(file.Open());
    EXPECT_EQ(file.GetShape().bitpix, USHORT_IMG);
    EXPECT_EQ(file.GetShape().axes, (Axes{320, 240}));
    EXPECT_DOUBLE_EQ(file.Number("EXPTIME"), 0.005);
    EXPECT_EQ(file.Number("GAIN"), 30);
    EXPECT_EQ(file.Number("XBINNING"), 2);
    EXPECT_EQ(file.Number("YBINNING"), 2);
    EXPECT_DOUBLE_EQ(file.Number("XPIXSZ"), 7.5);
    EXPECT_DOUBLE_EQ(file.Number("YPIXSZ"), 7.5);
    EXPECT_GT(file.Number("CCD-TEMP"), -50);
    EXPECT_EQ(file.Key("INSTRUME"), "YRA OKCTAVC");
    EXPECT_EQ(file.Key("DATE-OBS").size(), 23u);  // 2026-12-06T21:56:24.848
    // The scene reaches the file: a frame of a star field is not flat.
    const std::vector<uint16_t> pixels = file.Pixels<uint16_t>(TUSHORT);
    ASSERT_EQ(pixels.size(), 320u * 240);
    EXPECT_NE(*std::min_element(pixels.begin(), pixels.end()), *std::max_element(pixels.begin(), pixels.end()));
  }
}

// Each family and format gives a file of the region asked for (whole 1024-pixel
// blocks, as the DORC needs), with the model's name and the Bayer pattern of raw
// colour frames only.
TEST_F(OkccamTool, EveryFamilyAndFormatGivesItsFileShape) {
  struct Case {
    const char* model;
    const char* args;
    int bitpix;
    Axes axes;
    const char* bayer;
  };
  const Case cases[] = {
      // Sensor cell G R / B G, mirrored left-right by default: R G / G B.
      {"TAVC", "--roi 320,240", BYTE_IMG, {320, 240}, "RGGB"},
      {"TAVC", "--roi 320,240 --format rgb24", BYTE_IMG, {320, 240, 3}, "<missing>"},
      {"PIMC", "--roi 256,128", BYTE_IMG, {256, 128}, nullptr},
      {"SELC", "--roi 256,128", BYTE_IMG, {256, 128}, nullptr},
      {"SELM", "--roi 256,128", BYTE_IMG, {256, 128}, nullptr},
      {"DORC", "--roi 256,128", BYTE_IMG, {256, 128}, nullptr},
      // RENM: 16-bit samples of a binned region.
      {"RENM", "--roi 160,120 --bin 2 --format raw16", USHORT_IMG, {160, 120}, nullptr},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.model) + " " + c.args);
    const fs::path out = dir / std::to_string(++n);
    ToolRun run = RunOkccam(std::string("capture --sim ") + c.model + " --frames 1 --exposure-us 5000 " + c.args +
                            " --out " + out.string());
    ASSERT_EQ(run.exitCode, 0) << run.output;
    FitsFile file(out / "frame-00001.fits");
    ASSERT_TRUE(file.Open());
    EXPECT_EQ(file.GetShape().bitpix, c.bitpix);
    EXPECT_EQ(file.GetShape().axes, c.axes);
    EXPECT_EQ(file.Key("INSTRUME"), std::string("YRA OKC") + c.model);
    if (c.bayer) {
      EXPECT_EQ(file.Key("BAYERPAT"), c.bayer);
    }
  }
  ToolRun info = RunOkccam("info --sim RENM");
  EXPECT_NE(info.output.find("raw8 raw16"), std::string::npos) << info.output;
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

TEST_F(OkccamTool, AutomaticModesAreReportedPerFrameAndInTheHeader) {
  const fs::path out = dir / "auto";
  ToolRun run = RunOkccam("capture --sim TAVC --frames 3 --roi 320,240 --exposure-us 3000 --gain 40 --auto-exposure "
                          "--auto-wb --target-brightness 120 --timestamp --out " + out.string());
  ASSERT_EQ(run.exitCode, 0) << run.output;
  // The sky is far too dark for 3 ms: each frame reports what it was taken with.
  EXPECT_NE(run.output.find("frame 1: exposure 3000 us, gain 40, balance"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("frame 3: exposure"), std::string::npos) << run.output;
  {
    FitsFile file(out / "frame-00001.fits");
    ASSERT_TRUE(file.Open());
    EXPECT_EQ(file.Logical("AUTOEXP"), 1);
    EXPECT_EQ(file.Logical("AUTOGAIN"), 0);
    EXPECT_DOUBLE_EQ(file.Number("EXPTIME"), 0.003);
    EXPECT_EQ(file.Number("GAIN"), 40);
  }
  // Without the flags the modes are off again (the stored settings kept them on).
  run = RunOkccam("capture --sim TAVC --frames 1 --roi 320,240 --exposure-us 3000 --out " + out.string());
  ASSERT_EQ(run.exitCode, 0) << run.output;
  EXPECT_EQ(run.output.find("frame 1:"), std::string::npos) << run.output;
  FitsFile file(out / "frame-00004.fits");
  ASSERT_TRUE(file.Open());
  EXPECT_EQ(file.Logical("AUTOEXP"), 0);
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
