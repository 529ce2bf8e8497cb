// Readout window, start position, pixel clock and sample width of the TAVC, and
// what the simulated sensor does with the registers written.
#include <algorithm>
#include <tuple>

#include "tests/tavc/TavcFixture.h"

namespace okc::test {
namespace {

// Index of the first occurrence of `run` as consecutive register addresses, or -1.
long FindRun(const std::vector<RegisterWrite>& writes, const Values& run) {
  const auto sameAddress = [](uint16_t a, const RegisterWrite& w) { return a == w.first; };
  for (size_t i = 0; i + run.size() <= writes.size(); ++i)
    if (std::equal(run.begin(), run.end(), writes.begin() + i, sameAddress)) return static_cast<long>(i);
  return -1;
}

// Every case changes the clock; 16-bit and back to 8 bits switch the controller's sample width.
TEST_F(TavcTest, FullFrameWindowClockAndSampleWidth) {
  OpenAt(640, 480);
  const struct {
    IMAGE_TYPE type;
    int mhz;
    uint16_t sysDivider;
    bool sixteenBit;
  } cases[] = {{IMAGE_8BIT, 50, 1, false}, {IMAGE_16BIT, 25, 2, true}, {IMAGE_RGB24, 50, 1, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.type);
    sim_->ClearRequests();
    ASSERT_TRUE(camera_->SetResolution(1280, 960, 1, c.type));
    EXPECT_EQ(Registers({0x3002, 0x3006, 0x3004, 0x3008, 0x300A, 0x306E}), (Values{2, 961, 0, 1279, 986, 0x9210}));
    EXPECT_EQ(camera_->GetCMOSClk(), c.mhz);
    EXPECT_EQ(Registers({0x302C, 0x3030}), (Values{c.sysDivider, 25}));
    EXPECT_EQ(camera_->IsOutput16Bits(), c.sixteenBit);
    EXPECT_EQ(sim_->SixteenBitSamples(), c.sixteenBit);
    // The PLL row is written while the sensor is held; the window goes out as one bracketed group.
    const auto writes = Writes();
    const long pll = FindRun(writes, {0x301A, 0x302C, 0x302A, 0x302E, 0x3030, 0x301A});
    ASSERT_GE(pll, 0);
    EXPECT_EQ(writes[pll].second, 0x10DA);
    EXPECT_EQ(writes[pll + 5].second, 0x10DC);
    EXPECT_GE(FindRun(writes, {0x3032, 0x3002, 0x3004, 0x300A, 0x3006, 0x3008, 0x3032, 0x306E}), 0);
    // The sensor runs at that clock, paced at 80 % of 42 bytes per microsecond.
    const okc::sim::SimSensorState s = sim_->Sensor();
    EXPECT_DOUBLE_EQ(s.pixelClockMhz, c.mhz);
    EXPECT_EQ(s.lineLength, 1854u);
    const double pacedUs = (c.sixteenBit ? 2.0 : 1.0) * 1280 * 960 * 100 / (42.0 * 80);
    EXPECT_NEAR(s.framePeriodUs, pacedUs, 0.001 * pacedUs);
  }
  EXPECT_GE(sim_->PipeResets(), 1);
  EXPECT_GE(sim_->PipeAborts(), 1);
  // The full frame has no room to move.
  sim_->ClearRequests();
  EXPECT_FALSE(camera_->SetStartPos(0, 0));
  EXPECT_FALSE(camera_->SetStartPos(2, 2));
  EXPECT_TRUE(sim_->VendorRequests().empty());
  EXPECT_EQ(StartPos(), std::pair(0, 0));
}

// Windows are centred on the sensor (rows start at 2); each clock comes from its PLL row.
TEST_F(TavcTest, WindowsAreCentredAtTheirClock) {
  OpenAt(1280, 960);
  const struct {
    int width, height, bin;
    IMAGE_TYPE type;
    double mhz;
  } cases[] = {{640, 480, 2, IMAGE_8BIT, 50},  {1024, 768, 1, IMAGE_8BIT, 63},  {960, 720, 1, IMAGE_8BIT, 66},
               {800, 640, 1, IMAGE_8BIT, 80},  {800, 640, 1, IMAGE_16BIT, 40}, {480, 320, 1, IMAGE_16BIT, 50},
               {320, 240, 1, IMAGE_16BIT, 80}, {640, 480, 2, IMAGE_16BIT, 25}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << " bin " << c.bin << " type " << c.type);
    ASSERT_TRUE(camera_->SetResolution(c.width, c.height, c.bin, c.type));
    EXPECT_EQ(camera_->bin, c.bin);
    const okc::sim::SimSensorState s = sim_->Sensor();
    EXPECT_NEAR(s.pixelClockMhz, c.mhz, 0.01);  // 62 MHz is nominal: the PLL makes 63
    EXPECT_EQ(s.x, (1280 - c.width * c.bin) / 2);
    EXPECT_EQ(s.y, 2 + (960 - c.height * c.bin) / 2);
    EXPECT_EQ(s.width, c.width * c.bin);
    EXPECT_EQ(s.height, c.height * c.bin);
  }
}

TEST_F(TavcTest, InvalidGeometryOrTypeIsRefusedAndChangesNothing) {
  OpenAt(640, 480);
  const struct {
    int width, height, bin, type;
  } refused[] = {{100, 100, 1, 0}, {1281, 2, 1, 0},     {1280, 960, 2, 0}, {640, 481, 1, 0},
                 {0, 0, 1, 0},     {-1280, -960, 1, 0}, {320, 240, 0, 0},  {320, 240, 3, 0},
                 {320, 240, 1, 5}, {320, 240, 1, -1}};
  for (const auto& r : refused)
    EXPECT_FALSE(camera_->SetResolution(r.width, r.height, r.bin, static_cast<IMAGE_TYPE>(r.type)))
        << r.width << "x" << r.height << " bin " << r.bin << " type " << r.type;
  EXPECT_TRUE(sim_->VendorRequests().empty());
  EXPECT_EQ(std::tuple(camera_->width, camera_->height, camera_->bin, camera_->imageType),
            std::tuple(640, 480, 1, IMAGE_8BIT));
  EXPECT_EQ(StartPos(), std::pair(320, 240));
}

TEST_F(TavcTest, StartPositionIsEvenAndStaysOnTheSensor) {
  OpenAt(320, 240);
  EXPECT_EQ(camera_->GetCMOSClk(), 80);
  EXPECT_EQ(Registers({0x3002, 0x3004, 0x3006, 0x3008, 0x300A, 0x3030}), (Values{362, 480, 601, 799, 266, 80}));
  EXPECT_EQ(StartPos(), std::pair(480, 360));

  ASSERT_TRUE(camera_->SetStartPos(-5, 7));
  EXPECT_EQ(StartPos(), std::pair(0, 6));
  // Only the four corners move; frame length, clock and exposure stay.
  const std::vector<RegisterWrite> expected = {{0x3002, 8}, {0x3004, 0}, {0x3006, 247}, {0x3008, 319}};
  EXPECT_EQ(Writes(), expected);
  EXPECT_TRUE(Commands().empty());

  ASSERT_TRUE(camera_->SetStartPos(2000, 2000));
  EXPECT_EQ(StartPos(), std::pair(960, 720));
  EXPECT_EQ(Registers({0x3006, 0x3008}), (Values{961, 1279}));
  // A new size drops the earlier start position and centres again.
  ASSERT_TRUE(camera_->SetResolution(640, 480, 1, IMAGE_8BIT));
  EXPECT_EQ(StartPos(), std::pair(320, 240));
}

TEST_F(TavcTest, StartPositionWhileCapturingPausesTheStream) {
  OpenAt(640, 480);
  camera_->capturing = true;
  EXPECT_TRUE(camera_->SetStartPos(100, 100));
  camera_->capturing = false;
  const auto requests = sim_->VendorRequests();
  ASSERT_EQ(requests.size(), 6u);
  EXPECT_EQ(requests.front().request, 0xAA);
  EXPECT_EQ(requests.back().request, 0xA9);
}

TEST_F(TavcTest, TwentyFourMegahertzModeResetsAndReprogramsTheSensor) {
  OpenAt(640, 480);
  const uint16_t line = camera_->lineLength;
  ASSERT_TRUE(camera_->SetCMOSClk(24));
  EXPECT_EQ(camera_->GetCMOSClk(), 24);
  const auto commands = Commands();
  ASSERT_GE(commands.size(), 3u);
  EXPECT_EQ(commands[0], 0xAA);
  EXPECT_EQ(commands[1], 0xA3);
  EXPECT_EQ(commands.back(), 0xA9);
  const auto writes = Writes();
  EXPECT_EQ(std::count_if(writes.begin(), writes.end(), [](auto w) { return w.first == 0x3086; }), 79);
  // Window, line and gain (50, on the 24 MHz base) are programmed again.
  EXPECT_EQ(Registers({0x3008, 0x300C, 0x30B0}), (Values{320 + 640 - 1, line, 0x5330}));
  EXPECT_DOUBLE_EQ(sim_->Sensor().pixelClockMhz, 24.0);
  // Asking again for the clock in force does nothing.
  sim_->ClearRequests();
  EXPECT_TRUE(camera_->SetCMOSClk(24));
  EXPECT_TRUE(sim_->VendorRequests().empty());
  // Leaving the mode brings the 48 MHz clock back before the PLL is set.
  ASSERT_TRUE(camera_->SetCMOSClk(80));
  ASSERT_FALSE(Commands().empty());
  EXPECT_EQ(Commands().front(), 0xA4);
  EXPECT_EQ(sim_->Sensor().inputClockMhz, 48u);
  EXPECT_DOUBLE_EQ(sim_->Sensor().pixelClockMhz, 80.0);
}

TEST_F(TavcTest, ClockChangeKeepsTheIntegrationTime) {
  OpenAt(640, 480);
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
