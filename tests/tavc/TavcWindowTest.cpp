// Readout window, start position, pixel clock and sample width of the TAVC.
#include <algorithm>
#include <iterator>

#include "tests/tavc/TavcFixture.h"

namespace okc::test {
namespace {

// Index of the first occurrence of `run` as consecutive writes, or -1.
long FindRun(const std::vector<RegisterWrite>& writes, const std::vector<uint16_t>& run) {
  for (size_t i = 0; i + run.size() <= writes.size(); ++i) {
    bool match = true;
    for (size_t j = 0; j < run.size() && match; ++j) match = writes[i + j].first == run[j];
    if (match) return static_cast<long>(i);
  }
  return -1;
}

TEST_F(TavcTest, FullFrameEightBitWindowAndClock) {
  OpenAndInit();
  ASSERT_TRUE(camera_->SetResolution(1280, 960, 1, IMAGE_8BIT));
  EXPECT_EQ(sim_->Register(0x3002), 2);
  EXPECT_EQ(sim_->Register(0x3006), 961);
  EXPECT_EQ(sim_->Register(0x3004), 0);
  EXPECT_EQ(sim_->Register(0x3008), 1279);
  EXPECT_EQ(sim_->Register(0x300A), 986);
  EXPECT_EQ(sim_->Register(0x306E), 0x9210);
  EXPECT_EQ(camera_->GetCMOSClk(), 50);
  // The 50 MHz PLL row, written while the sensor is held for the change.
  EXPECT_EQ(sim_->Register(0x302C), 1);
  EXPECT_EQ(sim_->Register(0x302A), 8);
  EXPECT_EQ(sim_->Register(0x302E), 3);
  EXPECT_EQ(sim_->Register(0x3030), 25);
  const auto writes = Writes();
  const long pll = FindRun(writes, {0x301A, 0x302C, 0x302A, 0x302E, 0x3030, 0x301A});
  ASSERT_GE(pll, 0);
  EXPECT_EQ(writes[pll].second, 0x10DA);
  EXPECT_EQ(writes[pll + 5].second, 0x10DC);
  EXPECT_GE(sim_->PipeResets(), 1);
  EXPECT_GE(sim_->PipeAborts(), 1);
  // The window registers go out as one bracketed group.
  EXPECT_GE(FindRun(writes, {0x3032, 0x3002, 0x3004, 0x300A, 0x3006, 0x3008, 0x3032, 0x306E}), 0);
  EXPECT_FALSE(sim_->SixteenBitSamples());
  EXPECT_FALSE(camera_->IsOutput16Bits());
  int x = -1, y = -1;
  EXPECT_TRUE(camera_->GetStartPos(&x, &y));
  EXPECT_EQ(x, 0);
  EXPECT_EQ(y, 0);
}

TEST_F(TavcTest, FullFrameSixteenBitRunsAtHalfTheClock) {
  OpenAndInit();
  ASSERT_TRUE(camera_->SetResolution(1280, 960, 1, IMAGE_16BIT));
  EXPECT_EQ(camera_->GetCMOSClk(), 25);
  EXPECT_EQ(sim_->Register(0x302C), 2);
  EXPECT_EQ(sim_->Register(0x3030), 25);
  EXPECT_TRUE(camera_->IsOutput16Bits());
  EXPECT_TRUE(sim_->SixteenBitSamples());
  EXPECT_EQ(camera_->imageType, IMAGE_16BIT);
  // Back to 8 bits: the controller is told and the clock goes up again.
  ASSERT_TRUE(camera_->SetResolution(1280, 960, 1, IMAGE_RGB24));
  EXPECT_FALSE(sim_->SixteenBitSamples());
  EXPECT_EQ(camera_->GetCMOSClk(), 50);
}

TEST_F(TavcTest, BinTwoReadsTheWholeSensor) {
  OpenAndInit();
  ASSERT_TRUE(camera_->SetResolution(640, 480, 2, IMAGE_8BIT));
  EXPECT_EQ(camera_->width, 640);
  EXPECT_EQ(camera_->height, 480);
  EXPECT_EQ(camera_->bin, 2);
  EXPECT_EQ(sim_->Register(0x3004), 0);
  EXPECT_EQ(sim_->Register(0x3008), 1279);
  EXPECT_EQ(sim_->Register(0x3006), 961);
  EXPECT_EQ(sim_->Register(0x300A), 986);
}

TEST_F(TavcTest, InvalidGeometryOrTypeIsRefusedAndChangesNothing) {
  OpenAndInit();
  ASSERT_TRUE(camera_->SetResolution(640, 480, 1, IMAGE_8BIT));
  sim_->ClearRequests();
  const struct {
    int width, height, bin, type;
  } refused[] = {{100, 100, 1, 0},  {1281, 2, 1, 0},   {1280, 960, 2, 0}, {640, 481, 1, 0},
                 {0, 0, 1, 0},      {-1280, -960, 1, 0}, {320, 240, 0, 0},  {320, 240, -1, 0},
                 {320, 240, 3, 0},  {320, 240, 1, 5},  {320, 240, 1, -1}};
  for (const auto& r : refused) {
    EXPECT_FALSE(camera_->SetResolution(r.width, r.height, r.bin, static_cast<IMAGE_TYPE>(r.type)))
        << r.width << "x" << r.height << " bin " << r.bin << " type " << r.type;
  }
  EXPECT_TRUE(sim_->VendorRequests().empty());
  EXPECT_EQ(camera_->width, 640);
  EXPECT_EQ(camera_->height, 480);
  EXPECT_EQ(camera_->bin, 1);
  EXPECT_EQ(camera_->imageType, IMAGE_8BIT);
  EXPECT_EQ(camera_->startX, 320);
  EXPECT_EQ(camera_->startY, 240);
}

TEST_F(TavcTest, SmallWindowIsCentredAndRunsAt80Mhz) {
  OpenAndInit();
  ASSERT_TRUE(camera_->SetResolution(320, 240, 1, IMAGE_8BIT));
  int x = 0, y = 0;
  camera_->GetStartPos(&x, &y);
  EXPECT_EQ(x, 480);
  EXPECT_EQ(y, 360);
  EXPECT_EQ(sim_->Register(0x3002), 362);
  EXPECT_EQ(sim_->Register(0x3004), 480);
  EXPECT_EQ(sim_->Register(0x3006), 601);
  EXPECT_EQ(sim_->Register(0x3008), 799);
  EXPECT_EQ(sim_->Register(0x300A), 266);
  EXPECT_EQ(camera_->GetCMOSClk(), 80);
  EXPECT_EQ(sim_->Register(0x3030), 80);
}

TEST_F(TavcTest, StartPositionIsEvenAndStaysOnTheSensor) {
  OpenAndInit();
  ASSERT_TRUE(camera_->SetResolution(320, 240, 1, IMAGE_8BIT));
  sim_->ClearRequests();
  ASSERT_TRUE(camera_->SetStartPos(-5, 7));
  int x = -1, y = -1;
  camera_->GetStartPos(&x, &y);
  EXPECT_EQ(x, 0);
  EXPECT_EQ(y, 6);
  EXPECT_EQ(sim_->Register(0x3002), 8);
  EXPECT_EQ(sim_->Register(0x3004), 0);
  EXPECT_EQ(sim_->Register(0x3006), 247);
  EXPECT_EQ(sim_->Register(0x3008), 319);
  // Only the four corners move; frame length, clock and exposure stay.
  const std::vector<RegisterWrite> expected = {{0x3002, 8}, {0x3004, 0}, {0x3006, 247}, {0x3008, 319}};
  EXPECT_EQ(Writes(), expected);
  EXPECT_TRUE(Commands().empty());

  ASSERT_TRUE(camera_->SetStartPos(2000, 2000));
  camera_->GetStartPos(&x, &y);
  EXPECT_EQ(x, 960);
  EXPECT_EQ(y, 720);
  EXPECT_EQ(sim_->Register(0x3008), 1279);
  EXPECT_EQ(sim_->Register(0x3006), 961);
}

TEST_F(TavcTest, StartPositionAtFullFrameIsRefused) {
  OpenAndInit();
  ASSERT_TRUE(camera_->SetResolution(1280, 960, 1, IMAGE_8BIT));
  sim_->ClearRequests();
  EXPECT_FALSE(camera_->SetStartPos(0, 0));
  EXPECT_FALSE(camera_->SetStartPos(2, 2));
  EXPECT_TRUE(sim_->VendorRequests().empty());
  EXPECT_EQ(camera_->startX, 0);
  EXPECT_EQ(camera_->startY, 0);
}

TEST_F(TavcTest, StartPositionWhileCapturingPausesTheStream) {
  OpenAndInit();
  ASSERT_TRUE(camera_->SetResolution(640, 480, 1, IMAGE_8BIT));
  sim_->ClearRequests();
  camera_->capturing = true;
  EXPECT_TRUE(camera_->SetStartPos(100, 100));
  camera_->capturing = false;
  const auto requests = sim_->VendorRequests();
  ASSERT_EQ(requests.size(), 6u);
  EXPECT_EQ(requests.front().request, 0xAA);
  EXPECT_EQ(requests.back().request, 0xA9);
}

TEST_F(TavcTest, NewSizeDropsTheEarlierStartPosition) {
  OpenAndInit();
  ASSERT_TRUE(camera_->SetResolution(320, 240, 1, IMAGE_8BIT));
  ASSERT_TRUE(camera_->SetStartPos(0, 0));
  ASSERT_TRUE(camera_->SetResolution(640, 480, 1, IMAGE_8BIT));
  EXPECT_EQ(camera_->startX, 320);
  EXPECT_EQ(camera_->startY, 240);
}

TEST_F(TavcTest, ResolutionDuringLongExposureEndsItAndKeepsTheMode) {
  OpenAndInit();
  ASSERT_TRUE(camera_->SetResolution(1280, 960, 1, IMAGE_8BIT));
  ASSERT_TRUE(camera_->SetExp(20000000, false));
  ASSERT_TRUE(camera_->longExposure);
  sim_->ClearRequests();
  ASSERT_TRUE(camera_->SetResolution(640, 480, 1, IMAGE_8BIT));
  EXPECT_EQ(sim_->VendorRequests(0xAF).size(), 1u);
  EXPECT_TRUE(camera_->longExposure);
  EXPECT_EQ(sim_->Register(0x3008), 320 + 640 - 1);
  EXPECT_EQ(sim_->Register(0x3012), 0x0FFF);
}

TEST_F(TavcTest, TwentyFourMegahertzModeResetsAndReprogramsTheSensor) {
  OpenAndInit();
  ASSERT_TRUE(camera_->SetResolution(640, 480, 1, IMAGE_8BIT));
  const uint16_t line = camera_->lineLength;
  sim_->ClearRequests();
  ASSERT_TRUE(camera_->SetCMOSClk(24));
  EXPECT_EQ(camera_->GetCMOSClk(), 24);
  const auto commands = Commands();
  ASSERT_GE(commands.size(), 3u);
  EXPECT_EQ(commands[0], 0xAA);
  EXPECT_EQ(commands[1], 0xA3);
  EXPECT_EQ(commands.back(), 0xA9);
  const auto writes = Writes();
  EXPECT_EQ(std::count_if(writes.begin(), writes.end(), [](auto w) { return w.first == 0x3086; }), 79);
  EXPECT_EQ(sim_->Register(0x3008), 320 + 640 - 1);
  EXPECT_EQ(sim_->Register(0x300C), line);
  // Gain 50 with the 24 MHz base.
  EXPECT_EQ(sim_->Register(0x30B0), 0x5330);
  // Asking again for the clock in force does nothing.
  sim_->ClearRequests();
  EXPECT_TRUE(camera_->SetCMOSClk(24));
  EXPECT_TRUE(sim_->VendorRequests().empty());
  // Leaving the mode brings the 48 MHz clock back before the PLL is set.
  ASSERT_TRUE(camera_->SetCMOSClk(80));
  ASSERT_FALSE(Commands().empty());
  EXPECT_EQ(Commands().front(), 0xA4);
  EXPECT_EQ(sim_->Register(0x3030), 80);
}

TEST_F(TavcTest, ClockChangeKeepsTheIntegrationTime) {
  OpenAndInit();
  ASSERT_TRUE(camera_->SetResolution(640, 480, 1, IMAGE_8BIT));
  ASSERT_TRUE(camera_->SetExp(100000, false));
  const uint16_t line = camera_->lineLength;
  sim_->ClearRequests();
  ASSERT_TRUE(camera_->SetCMOSClk(40));
  const auto writes = Writes();
  ASSERT_FALSE(writes.empty());
  EXPECT_EQ(writes.front(), RegisterWrite(0x3012, static_cast<uint16_t>((100000ull * 40 - 26) / line)));
}

}  // namespace
}  // namespace okc::test
