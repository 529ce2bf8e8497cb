// okccam end to end, the files it leaves: numbering that never overwrites,
// no partial files after a failure or Ctrl-C, regions in delivered-image
// coordinates, SER videos read back, exposure start times, the header keys.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "tools/ToolRun.h"

namespace {

namespace fs = std::filesystem;
using okc::test::FitsFile;
using okc::test::RunOkccam;
using okc::test::ToolRun;

class OkccamFiles : public okc::test::ToolTest {
 protected:
  std::vector<std::string> Names(const fs::path& folder) const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
};

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Seconds since 1970 of "YYYY-MM-DDThh:mm:ss.mmm" (UTC).
double IsoSeconds(const std::string& text) {
  std::tm tm{};
  int ms = 0;
  if (std::sscanf(text.c_str(), "%d-%d-%dT%d:%d:%d.%d", &tm.tm_year, &tm.tm_mon, &tm.tm_mday, &tm.tm_hour,
                  &tm.tm_min, &tm.tm_sec, &ms) != 7)
    return -1;
  tm.tm_year -= 1900;
  tm.tm_mon -= 1;
  return static_cast<double>(timegm(&tm)) + ms / 1000.0;
}

TEST_F(OkccamFiles, ASecondRunContinuesTheNumberingAndNeverOverwrites) {
  const fs::path out = dir / "frames";
  const std::string args = "capture --sim TAVC --frames 2 --exposure-us 5000 --roi 320,240 --out " + out.string();
  ASSERT_EQ(RunOkccam(args).exitCode, 0);
  const std::string first = ReadFile(out / "frame-00001.fits");
  ToolRun second = RunOkccam(args);
  ASSERT_EQ(second.exitCode, 0) << second.output;
  EXPECT_EQ(Names(out), (std::vector<std::string>{"frame-00001.fits", "frame-00002.fits", "frame-00003.fits",
                                                  "frame-00004.fits"}));
  EXPECT_EQ(ReadFile(out / "frame-00001.fits"), first);

  // Another prefix starts its own series; --overwrite starts again at 1.
  ASSERT_EQ(RunOkccam(args + " --prefix m42 --frames 1").exitCode, 0);
  EXPECT_TRUE(fs::exists(out / "m42-00001.fits"));
  ASSERT_EQ(RunOkccam(args + " --overwrite --frames 1").exitCode, 0);
  EXPECT_NE(ReadFile(out / "frame-00001.fits"), first);
  EXPECT_EQ(Names(out).size(), 5u);
  EXPECT_NE(RunOkccam(args + " --prefix ../up").exitCode, 0);
}

TEST_F(OkccamFiles, AFailedWriteLeavesOnlyWholeFiles) {
  const fs::path out = dir / "full";
  // A file size limit (in 512-byte blocks; SIGXFSZ ignored): writes fail as
  // on a full disk.
  // The limit is per file: a FITS file of one frame fails at once, the SER
  // video of all frames at its third frame.
  for (const char* fileFormat : {"fits", "ser"}) {
    SCOPED_TRACE(fileFormat);
    const std::string limit =
        std::string("trap '' XFSZ; ulimit -f ") + (std::string(fileFormat) == "fits" ? "100" : "800") + "; ";
    fs::remove_all(out);
    ToolRun run = RunOkccam("capture --sim TAVC --frames 6 --exposure-us 5000 --roi 320,240 --format raw16 "
                            "--file-format " + std::string(fileFormat) + " --out " + out.string(),
                            limit);
    EXPECT_NE(run.exitCode, 0) << run.output;
    EXPECT_NE(run.output.find("cannot"), std::string::npos) << run.output;
    for (const std::string& name : Names(out)) {
      SCOPED_TRACE(name);
      EXPECT_NE(name[0], '.') << "temporary file left behind";
      EXPECT_EQ(FitsFile(out / name).Pixels<uint16_t>(TUSHORT).size(), 320u * 240);
    }
    EXPECT_TRUE(Names(out).empty());
  }
}

TEST_F(OkccamFiles, RegionOfTheTopLeftCornerIsTheFullFramesTopLeftCorner) {
  const std::string common = "capture --sim TAVC --sim-no-noise --frames 1 --exposure-us 20000 --gain 40 ";
  ToolRun full = RunOkccam(common + "--out " + (dir / "full").string());
  ASSERT_EQ(full.exitCode, 0) << full.output;
  ToolRun corner = RunOkccam(common + "--roi 320,240,0,0 --out " + (dir / "corner").string());
  ASSERT_EQ(corner.exitCode, 0) << corner.output;
  EXPECT_NE(corner.output.find("region 320,240,0,0 of the delivered 1280 x 960 image"), std::string::npos)
      << corner.output;
  FitsFile cornerFile(dir / "corner" / "frame-00001.fits");
  const std::vector<uint8_t> f = FitsFile(dir / "full" / "frame-00001.fits").Pixels<uint8_t>(TBYTE);
  const std::vector<uint8_t> c = cornerFile.Pixels<uint8_t>(TBYTE);
  const long fw = 1280, cw = 320, ch = 240;
  ASSERT_EQ(f.size(), size_t{1280} * 960);
  ASSERT_EQ(cornerFile.GetShape().axes, (std::vector<long>{cw, ch}));
  // The first and last rows of a window carry the camera's frame mark and
  // trailer, repaired from neighbouring rows: compared are the rows between.
  // The sensor times an exposure in lines, whose length depends on the
  // window's width: the same scene may differ by a count or a few percent.
  auto mismatches = [&](long offsetX) {
    int count = 0;
    for (long y = 1; y + 1 < ch; ++y) {
      for (long x = 0; x < cw; ++x) {
        const int a = c[y * cw + x], b = f[y * fw + x + offsetX];
        count += std::abs(a - b) > 2 + b / 10;
      }
    }
    return count;
  };
  EXPECT_EQ(mismatches(0), 0);
  // The comparison tells corners apart: the top-right corner of the full frame
  // (where an unmirrored region would come from) does not match.
  EXPECT_GT(mismatches(fw - cw), 100);
  EXPECT_EQ(cornerFile.Number("XORGSUBF"), 0);
  EXPECT_EQ(cornerFile.Number("YORGSUBF"), 0);
}

TEST_F(OkccamFiles, MalformedOrMisplacedRegionsAreRefused) {
  struct Case {
    const char* roi;
    const char* message;
  };
  const Case cases[] = {
      {"640,480junk", "--roi must be W,H or W,H,X,Y"},
      {"320", "--roi must be W,H or W,H,X,Y"},
      {"320,240,0", "--roi must be W,H or W,H,X,Y"},
      {"0,240", "--roi must be W,H or W,H,X,Y"},
      {"-320,240", "--roi must be W,H or W,H,X,Y"},
      {"320,240,-2,0", "--roi must be W,H or W,H,X,Y"},
      {"320, 240", "--roi must be W,H or W,H,X,Y"},
      {"1282,960", "does not fit the delivered image of 1280 x 960"},
      {"320,240,962,0", "reaches past the delivered image"},
      {"320,240,0,722", "reaches past the delivered image"},
      {"320,240,1,0", "even sensor pixel"},
      {"700,480,0,0", "multiple of 1024"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.roi);
    ToolRun run = RunOkccam("capture --sim TAVC --frames 1 --roi '" + std::string(c.roi) + "' --out " +
                            (dir / "r").string());
    EXPECT_NE(run.exitCode, 0);
    EXPECT_NE(run.output.find(c.message), std::string::npos) << run.output;
    if (fs::exists(dir / "r")) {
      EXPECT_TRUE(Names(dir / "r").empty());
    }
  }
}

// Little-endian fields of a SER file.
int64_t Le(const std::string& data, size_t at, int bytes) {
  uint64_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = v << 8 | static_cast<uint8_t>(data[at + i]);
  return bytes == 4 ? static_cast<int32_t>(v) : static_cast<int64_t>(v);
}
int64_t Le32(const std::string& data, size_t at) { return Le(data, at, 4); }
int64_t Le64(const std::string& data, size_t at) { return Le(data, at, 8); }

TEST_F(OkccamFiles, SerVideoReadsBackWithHeaderFramesAndTimestamps) {
  struct Case {
    const char* format;
    int bits;
    int colour;  // ColorID
    int bytesPerPixel;
  };
  const Case cases[] = {{"raw16", 16, 8 /* RGGB */, 2}, {"raw8", 8, 8, 1}, {"y8", 8, 0, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.format);
    const fs::path out = dir / c.format;
    const auto before = std::chrono::system_clock::now();
    ToolRun run = RunOkccam("capture --sim TAVC --frames 5 --exposure-us 100000 --roi 320,240 --file-format ser "
                            "--format " + std::string(c.format) + " --out " + out.string());
    ASSERT_EQ(run.exitCode, 0) << run.output;
    ASSERT_EQ(Names(out), std::vector<std::string>{"video-00001.ser"});
    const std::string data = ReadFile(out / "video-00001.ser");
    const size_t frameBytes = 320 * 240 * c.bytesPerPixel;
    ASSERT_EQ(data.size(), 178 + 5 * frameBytes + 5 * 8);
    EXPECT_EQ(data.substr(0, 14), "LUCAM-RECORDER");
    EXPECT_EQ(Le32(data, 18), c.colour);
    EXPECT_EQ(Le32(data, 22), 1);  // little-endian samples
    EXPECT_EQ(Le32(data, 26), 320);
    EXPECT_EQ(Le32(data, 30), 240);
    EXPECT_EQ(Le32(data, 34), c.bits);
    EXPECT_EQ(Le32(data, 38), 5);
    EXPECT_EQ(std::string(data.c_str() + 82), "YRA OKCTAVC");  // instrument
    // Times in 100 ns ticks since 0001-01-01; the header's UTC start is the first frame's.
    const int64_t epoch = 621355968000000000LL;
    const int64_t beforeTicks =
        epoch + std::chrono::duration_cast<std::chrono::microseconds>(before.time_since_epoch()).count() * 10;
    const size_t trailer = 178 + 5 * frameBytes;
    EXPECT_EQ(Le64(data, 170), Le64(data, trailer));
    EXPECT_GT(Le64(data, trailer), beforeTicks - 10'000'000);
    for (int i = 1; i < 5; ++i) {
      const double gap = (Le64(data, trailer + 8 * i) - Le64(data, trailer + 8 * (i - 1))) / 1e7;
      // Frames of a steady stream start one exposure apart (or a whole number
      // of them when the host missed frames on a loaded machine).
      const double periods = std::round(gap / 0.1);
      EXPECT_GE(periods, 1) << gap;
      EXPECT_NEAR(gap, periods * 0.1, 0.03) << gap;
    }
    // The scene reaches the frames.
    EXPECT_NE(data.find_first_not_of(data[178 + frameBytes / 2], 178), std::string::npos);
  }
}

TEST_F(OkccamFiles, DateObsIsTheExposureStartAndFramesFollowEachOtherByTheExposure) {
  const fs::path out = dir / "times";
  ToolRun run = RunOkccam("capture --sim TAVC --frames 4 --exposure-us 200000 --roi 320,240,64,32 --frame-type dark "
                          "--out " + out.string());
  ASSERT_EQ(run.exitCode, 0) << run.output;
  EXPECT_NE(run.output.find("region 320,240,64,32"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("exposure 200000 us"), std::string::npos) << run.output;
  double previousStart = 0;
  for (int i = 1; i <= 4; ++i) {
    SCOPED_TRACE(i);
    char name[32];
    std::snprintf(name, sizeof(name), "frame-%05d.fits", i);
    FitsFile file(out / name);
    ASSERT_TRUE(file.Open());
    const double start = IsoSeconds(file.Key("DATE-OBS"));
    const double end = IsoSeconds(file.Key("DATE-END"));
    EXPECT_GE(end - start, 0.199);
    EXPECT_LT(end - start, 0.5);
    if (i > 1) {
      const double gap = start - previousStart;
      const double periods = std::round(gap / 0.2);
      EXPECT_GE(periods, 1) << gap;
      EXPECT_NEAR(gap, periods * 0.2, 0.05) << gap;
    }
    previousStart = start;
    EXPECT_EQ(file.Key("IMAGETYP"), "Dark Frame");
    EXPECT_EQ(file.Number("XORGSUBF"), 64);
    EXPECT_EQ(file.Number("YORGSUBF"), 32);
    EXPECT_EQ(file.Number("OFFSET"), 0);
    EXPECT_EQ(file.Key("SWCREATE").rfind("okccam ", 0), 0u);
  }
}

TEST_F(OkccamFiles, CtrlCStopsAnEndlessCaptureWithTheSummaryAndWholeFiles) {
  const fs::path out = dir / "endless";
  const fs::path log = dir / "log.txt";
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    FILE* f = std::freopen(log.c_str(), "w", stdout);
    if (f) dup2(fileno(stdout), STDERR_FILENO);
    execl(OKCCAM_PATH, OKCCAM_PATH, "capture", "--sim", "TAVC", "--frames", "0", "--exposure-us", "20000", "--roi",
          "320,240", "--out", out.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  // Wait for the third file, then press Ctrl-C.
  for (int i = 0; i < 600 && !fs::exists(out / "frame-00003.fits"); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  kill(child, SIGINT);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  const std::string output = ReadFile(log);
  ASSERT_TRUE(WIFEXITED(status)) << output;
  EXPECT_EQ(WEXITSTATUS(status), 0) << output;
  EXPECT_NE(output.find("stopped by Ctrl-C"), std::string::npos) << output;
  const std::vector<std::string> names = Names(out);
  EXPECT_GE(names.size(), 3u);
  for (const std::string& name : names) EXPECT_NE(name[0], '.') << name;
  EXPECT_NE(output.find(std::to_string(names.size()) + " frames written"), std::string::npos) << output;
}

TEST_F(OkccamFiles, HelpVersionSettingsAndModelsWithoutStreaming) {
  ToolRun help = RunOkccam("capture --help 2>/dev/null");
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_NE(help.output.find("--frames N"), std::string::npos) << help.output;
  EXPECT_NE(help.output.find("default 1; 0: until Ctrl-C"), std::string::npos) << help.output;
  EXPECT_EQ(RunOkccam("capture -h --bogus 2>/dev/null").exitCode, 0);
  ToolRun overview = RunOkccam("--help 2>/dev/null");
  EXPECT_EQ(overview.exitCode, 0);
  EXPECT_NE(overview.output.find("capture"), std::string::npos);
  ToolRun version = RunOkccam("--version 2>/dev/null");
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_EQ(version.output.rfind("okccam ", 0), 0u) << version.output;

  // A simulated run stores its settings apart from the real cameras'.
  ASSERT_EQ(RunOkccam("capture --sim TAVC --frames 1 --exposure-us 7000 --roi 320,240 --out " +
                      (dir / "s").string()).exitCode, 0);
  size_t realKeys = 0, simulatedKeys = 0;
  for (const auto& entry : fs::directory_iterator(dir / "config" / "okccamera")) realKeys += entry.is_regular_file();
  for (const auto& entry : fs::directory_iterator(dir / "config" / "okccamera" / "simulated"))
    simulatedKeys += entry.is_regular_file();
  EXPECT_EQ(realKeys, 0u);
  EXPECT_GT(simulatedKeys, 0u);

  ToolRun info = RunOkccam("info --sim DORC");
  EXPECT_EQ(info.exitCode, 0) << info.output;
  EXPECT_NE(info.output.find("728 x 512"), std::string::npos) << info.output;
  // Its full window is whole 1024-pixel blocks.
  ToolRun capture = RunOkccam("capture --sim DORC --frames 1 --format rgb24 --out " + (dir / "d").string());
  EXPECT_EQ(capture.exitCode, 0) << capture.output;
  EXPECT_NE(capture.output.find("728 x 512"), std::string::npos) << capture.output;
  ToolRun tavc = RunOkccam("info --sim TAVC");
  EXPECT_NE(tavc.output.find("bayer        GRBG on the sensor"), std::string::npos) << tavc.output;
}

}  // namespace
