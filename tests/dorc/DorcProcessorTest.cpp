// The DORC sensor's processor as the simulator's log shows it: the start-up
// table and its commands, polling of the busy bit, the state change, and a
// processor that stays busy or answers wrongly (a clear failure, no hang, a
// camera that still closes). Variables by driver and offset.
#include <algorithm>
#include <tuple>

#include "DorcFixture.h"

namespace okc::test {
namespace {

using okc::sim::SensorProcessorFault;

constexpr uint8_t kWrite16 = 0xA6, kWrite8 = 0xB6, kRead16 = 0xA7;
constexpr uint16_t kCommandRegister = 0x0040;

// The start-up table as the sensor receives it (the 100 ms pause sends nothing).
const std::vector<std::tuple<uint8_t, int, int>> kStartup = {
    {kWrite16, 0x001A, 0x0026}, {kWrite16, 0x0040, 0x8101}, {kWrite16, 0xC972, 0x0005}, {kWrite16, 0x098E, 0x4802},
    {kWrite16, 0xC802, 0x0000}, {kWrite16, 0xC800, 0x0000}, {kWrite16, 0xC806, 0x02D7}, {kWrite16, 0xC804, 0x01FF},
    {kWrite16, 0xC80C, 0x00A4}, {kWrite16, 0xC80E, 0x01B2}, {kWrite16, 0xC810, 0x0355}, {kWrite16, 0xC812, 0x0212},
    {kWrite16, 0xC814, 0x0031}, {kWrite16, 0xC816, 0x0202}, {kWrite8, 0xC86C, 0x00},    {kWrite16, 0xC882, 0x3C00},
    {kWrite16, 0xC884, 0x3C00}, {kWrite16, 0xC968, 0x02D8}, {kWrite16, 0xC96A, 0x0200}, {kWrite16, 0xC96C, 0x0200},
    {kWrite16, 0x098E, 0x4960}, {kWrite16, 0xC960, 0x0000}, {kWrite8, 0xC8FF, 0x00},    {kWrite16, 0xA804, 0x0000},
    {kWrite16, 0xFC00, 0x0000}, {kWrite16, 0x0040, 0x8606}, {kWrite8, 0xC864, 0x01},    {kWrite16, 0xC858, 0x0011},
    {kWrite16, 0xC972, 0x0025}, {kWrite16, 0xC972, 0x0025}, {kWrite16, 0xC858, 0x0011}, {kWrite8, 0xC83D, 0x02},
    {kWrite16, 0xC83A, 0x0020}, {kWrite8, 0xC83C, 0x00},    {kWrite8, 0x9427, 0x00},    {kWrite8, 0x9427, 0x00},
    {kWrite8, 0x9427, 0x00},    {kWrite8, 0xC850, 0x00},    {kWrite16, 0x001E, 0x0302},
    // The change to the working configuration: request state 0x28, then ask
    // until the processor stops answering "busy" (twice in the simulator).
    {kWrite16, 0xFC00, 0x2800}, {kWrite16, 0x0040, 0x8100}, {kWrite16, 0x0040, 0x8101}, {kWrite16, 0x0040, 0x8101},
    {kWrite16, 0x0040, 0x8101},
};

class DorcProcessor : public DorcTest {};

TEST_F(DorcProcessor, InitialisationRunsTheStartupTableThenTheStateChange) {
  Attach();
  ASSERT_TRUE(OpenAttached(false));
  sim->ClearRequests();
  ASSERT_TRUE(OpenAttached());
  const auto log = sim->VendorRequests();
  // Clock and sample width come before the first register write.
  const auto first = std::find_if(log.begin(), log.end(), [](const auto& r) { return r.request == kWrite16; });
  ASSERT_GE(first - log.begin(), 2);
  EXPECT_EQ(first[-2].request, 0xA4);
  EXPECT_EQ(first[-1].request, 0xAB);
  std::vector<std::tuple<uint8_t, int, int>> writes;
  for (const auto& r : log)
    if (r.request == kWrite16 || r.request == kWrite8) writes.emplace_back(r.request, r.value, r.index);
  ASSERT_GE(writes.size(), kStartup.size());
  for (size_t i = 0; i < kStartup.size(); ++i) EXPECT_EQ(writes[i], kStartup[i]) << "row " << i;
  EXPECT_EQ(writes.back(), std::make_tuple(kWrite16, 0x3040, 0x41));
  // Each of the 6 commands was polled until its busy bit cleared: twice busy, then the result.
  EXPECT_EQ(ReadCount(kCommandRegister), 6u * 3u);
  EXPECT_EQ(sim->Register(0xFC00) >> 8, 0x31);
}

TEST_F(DorcProcessor, CommandsReturnTheProcessorsResultAfterPolling) {
  Open();
  sim->ClearRequests();
  EXPECT_EQ(Cam().issueCommand(0x8606), CCameraDORC::kCommandDone);
  EXPECT_EQ(ReadCount(kCommandRegister), 3u);
  unsigned char state = 0;
  EXPECT_EQ(Cam().getState(&state), CCameraDORC::kCommandDone);
  EXPECT_EQ(state, 0x31);
  EXPECT_EQ(Cam().setState(0x34), CCameraDORC::kCommandDone);
  EXPECT_EQ(Cam().getState(&state), CCameraDORC::kCommandDone);
  EXPECT_EQ(state, 0x34);
  EXPECT_EQ(LastWrite(0xFC00), 0x3400);
}

TEST_F(DorcProcessor, AProcessorThatStaysBusyFailsInitialisationAfterAHundredPolls) {
  Attach();
  ASSERT_TRUE(OpenAttached(false));
  sim->SetSensorProcessorFault(SensorProcessorFault::StaysBusy);
  sim->ClearRequests();
  EXPECT_FALSE(initCamera());
  // The first command of the table: written once, polled 100 times, then given up.
  EXPECT_EQ(WriteCount(kCommandRegister), 1u);
  EXPECT_EQ(ReadCount(kCommandRegister), 100u);
  EXPECT_EQ(LastWrite(0x3040), -1);
  EXPECT_EQ(Cam().issueCommand(0x8101), CCameraDORC::kNoCompletion);
  EXPECT_TRUE(Cam().CloseCamera());
    EXPECT_FALSE(Cam().opened);
}

TEST_F(DorcProcessor, BusyAnswersAndAWrongStateFailTheStateChange) {
  struct Case {
    SensorProcessorFault fault;
    int result;
    size_t stateQueries;
  };
  for (const Case& c : {Case{SensorProcessorFault::BusyAnswers, CCameraDORC::kNoCompletion, 100},
                        Case{SensorProcessorFault::WrongState, CCameraDORC::kOtherState, 3}}) {
    Attach();
    ASSERT_TRUE(OpenAttached(false));
    sim->SetSensorProcessorFault(c.fault);
    sim->ClearRequests();
    EXPECT_EQ(Cam().changeConfig(), c.result);
    size_t queries = 0;
    for (const auto& [reg, value] : Writes()) queries += reg == kCommandRegister && value == 0x8101;
    EXPECT_EQ(queries, c.stateQueries);
    EXPECT_FALSE(initCamera());
    EXPECT_TRUE(Cam().CloseCamera());
    EXPECT_FALSE(Cam().opened);
    bus->Detach(sim);
    okc::api::ForgetEnumeration();
  }
}

TEST_F(DorcProcessor, VariablesAreAddressedByDriverAndOffset) {
  Open();
  sim->ClearRequests();
  EXPECT_TRUE(Cam().WriteVar16(18, 0x10, 0x1234));
  EXPECT_EQ(LastWrite(0x8000 + 18 * 0x400 + 0x10), 0x1234);
  EXPECT_EQ(Cam().ReadVar16(18, 0x10), 0x1234);
  // Outside the 32 drivers of 1024 bytes: nothing is sent.
  sim->ClearRequests();
  EXPECT_FALSE(Cam().WriteVar16(32, 0, 1));
  EXPECT_FALSE(Cam().WriteVar16(0, 1024, 1));
  EXPECT_EQ(Cam().ReadVar16(-1, 0), 0);
  EXPECT_TRUE(sim->VendorRequests().empty());
}

}  // namespace
}  // namespace okc::test
