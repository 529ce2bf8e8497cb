// okccam firmware and hotpixels end to end on simulated cameras.
#include <gtest/gtest.h>

#include <string>

#include "imaging/BmpFile.h"
#include "tests/firmware/ImageBuilder.h"

#include "tools/ToolRun.h"

namespace {

using okc::test::RunOkccam;
using okc::test::ToolRun;
using okc::test::Bytes;

class FirmwareTool : public okc::test::ToolTest {
 protected:
  std::string File(const std::string& name, const Bytes& bytes) {
    const std::string path = (dir / name).string();
    okc::test::WriteFile(path, bytes);
    return path;
  }
};

TEST_F(FirmwareTool, WritesASoundImageWithAProgressBarAndRefusesBrokenOnesBeforeOpening) {
  const std::string good = File("good.img", okc::test::Fx3Builder::OfSize(5000));
  ToolRun run = RunOkccam("firmware --sim TAVC-U --file " + good + " --media flash");
  EXPECT_EQ(run.exitCode, 0) << run.output;
  EXPECT_NE(run.output.find("100%"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("wrote " + good + " to the flash of camera 0 (YRA OKCTAVC-U)"), std::string::npos)
      << run.output;

  Bytes broken = okc::test::Fx3Builder::OfSize(5000);
  broken[300] ^= 1;
  const std::pair<std::string, std::string> refused[] = {
      {"firmware --sim TAVC-U --file " + File("bad.img", broken), "checksum does not match"},
      {"firmware --sim TAVC-U --file " + File("short.img", Bytes(broken.begin(), broken.begin() + 3000)),
       "ends before its sections"},
      {"firmware --sim TAVC-U --file " + dir.string(), "not a regular file"},
      {"firmware --sim TAVC-U --file " + (dir / "none.img").string(), "cannot be opened"},
      {"firmware --sim TAVC-U --file " + File("code1.img", okc::test::Fx3Builder::OfSize(5000, 1)) +
           " --media eeprom",
       "no I2C EEPROM size"},
  };
  for (const auto& [args, message] : refused) {
    run = RunOkccam(args);
    EXPECT_EQ(run.exitCode, 1) << args;
    EXPECT_NE(run.output.find(message), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("nothing was sent"), std::string::npos) << run.output;
  }
  run = RunOkccam("firmware --sim TAVC-U --file " + good + " --media disk");
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.output.find("--media must be ram, eeprom or flash"), std::string::npos);
  // The camera's firmware has no boot loader: a RAM download fails clearly.
  run = RunOkccam("firmware --sim TAVC-U --file " + good);
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.output.find("failed: a transfer to the camera failed"), std::string::npos) << run.output;
}

TEST_F(FirmwareTool, HotPixelMapSavedFromADarkFrameAndShownByInfo) {
  Bytes dark(1280 * 960, 12);
  dark[500 * 1280 + 700] = 90;
  dark[10 * 1280 + 640] = 200;
  const std::string bmp = (dir / "dark.bmp").string();
  ASSERT_TRUE(okc::imaging::WriteGreyBmp(bmp.c_str(), 1280, 960, dark.data()));
  ToolRun run = RunOkccam("hotpixels --sim TAVC --save --dark " + bmp);
  EXPECT_EQ(run.exitCode, 0) << run.output;
  EXPECT_NE(run.output.find("stored 2 hot pixels"), std::string::npos) << run.output;

  const std::pair<std::string, std::string> refused[] = {
      {"hotpixels --sim TAVC --load", "holds no sound hot-pixel map"},  // a new simulated camera: empty flash
      {"hotpixels --sim TAVC --save", "--save needs --dark"},
      {"hotpixels --sim TAVC", "give one of --save, --load and --clear"},
      {"hotpixels --sim TAVC --load --clear", "only one of"},
      {"hotpixels --sim TAVC --save --dark " + File("tiny.bmp", Bytes(100, 'B')), "is not an 8-bit grey BMP"},
  };
  for (const auto& [args, message] : refused) {
    run = RunOkccam(args);
    EXPECT_EQ(run.exitCode, 1) << args;
    EXPECT_NE(run.output.find(message), std::string::npos) << run.output;
  }
  run = RunOkccam("hotpixels --sim TAVC --clear");
  EXPECT_EQ(run.exitCode, 0) << run.output;

  run = RunOkccam("info --sim TAVC --firmware-dir " + dir.string());
  EXPECT_EQ(run.exitCode, 0) << run.output;
  EXPECT_NE(run.output.find("hot pixels   0 corrected in every frame (0 in the camera's map)"), std::string::npos)
      << run.output;
}

}  // namespace
