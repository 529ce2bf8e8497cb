// A camera that another program holds, or that has gone since it was counted:
// it keeps its number, opening it fails with one line saying why, and it never
// lets another camera be opened in its place.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "api/CameraState.h"
#include "okccamera/CUsbDevice.h"
#include "okccamera/okccamera.h"
#include "support/SimEnvironment.h"

using okc::sim::Model;
using okc::sim::SimCamera;
using okc::sim::SimDeviceOptions;

namespace {

class BusyDevice : public okc::test::SimEnvironment {
 protected:
  void SetUp() override {
    SimEnvironment::SetUp();
    SimDeviceOptions claimed;
    claimed.model = Model::TAVC;
    claimed.busy = true;
    first = bus->Attach(claimed);
    second = bus->Attach(Model::TAVC);
  }

  static std::u16string Wide(const std::string& s) { return {s.begin(), s.end()}; }

  // The serial number of the device the current camera opened, or "" without one.
  static std::u16string OpenedSerial() {
    auto camera = okc::api::CurrentCamera();
    return camera && camera->device ? camera->device->serialNumber : u"";
  }

  // openCamera(index) that must fail; returns what it wrote to standard error.
  static std::string FailingOpen(int index) {
    testing::internal::CaptureStderr();
    const bool opened = openCamera(index);
    std::string said = testing::internal::GetCapturedStderr();
    EXPECT_FALSE(opened);
    EXPECT_EQ(okc::api::CurrentCamera(), nullptr);
    EXPECT_EQ(getMaxWidth(), 0);  // the neutral answer
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
    return said;
  }

  std::shared_ptr<SimCamera> first;
  std::shared_ptr<SimCamera> second;
};

TEST_F(BusyDevice, KeepsItsNumberSoTheNextCameraOpensAtItsOwn) {
  testing::internal::CaptureStderr();
  ASSERT_EQ(getNumberOfConnectedCameras(), 2);
  EXPECT_STREQ(getCameraModel(0), "YRA OKCTAVC");
  EXPECT_STREQ(getCameraModel(1), "YRA OKCTAVC");
  const bool opened = openCamera(1);
  // Counting and walking past the busy camera say nothing: the user did not ask for it.
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  ASSERT_TRUE(opened);
  EXPECT_EQ(OpenedSerial(), Wide(second->Options().serialNumber));
  ASSERT_TRUE(initCamera());
  EXPECT_FALSE(second->VendorRequests().empty());
  EXPECT_TRUE(first->Requests().empty());  // never opened: not even a descriptor was asked for
}

TEST_F(BusyDevice, OpeningItFailsSayingItIsBusyAndClosesThePreviousCamera) {
  ASSERT_EQ(getNumberOfConnectedCameras(), 2);
  ASSERT_TRUE(openCamera(1));
  const std::string said = FailingOpen(0);
  EXPECT_NE(said.find("YRA OKCTAVC number 1 is busy"), std::string::npos) << said;
  EXPECT_TRUE(first->Requests().empty());
  // The camera that was current has been closed, as openCamera always does first.
  second->ClearRequests();
  EXPECT_FALSE(getImageData(nullptr, 0, 0));
  EXPECT_TRUE(second->Requests().empty());
}

TEST_F(BusyDevice, ReleasedAfterCountingItOpensAtItsNumber) {
  ASSERT_EQ(getNumberOfConnectedCameras(), 2);
  first->SetBusy(false);
  ASSERT_TRUE(openCamera(0));
  EXPECT_EQ(OpenedSerial(), Wide(first->Options().serialNumber));
}

TEST_F(BusyDevice, ClaimedAfterCountingFailsWithoutShiftingTheOthers) {
  first->SetBusy(false);
  ASSERT_EQ(getNumberOfConnectedCameras(), 2);
  first->SetBusy(true);
  EXPECT_NE(FailingOpen(0).find("busy"), std::string::npos);
  ASSERT_TRUE(openCamera(1));
  EXPECT_EQ(OpenedSerial(), Wide(second->Options().serialNumber));
}

TEST_F(BusyDevice, GoneSinceCountingFailsSayingItIsGone) {
  first->SetBusy(false);
  ASSERT_EQ(getNumberOfConnectedCameras(), 2);
  second->Unplug();
  const std::string said = FailingOpen(1);
  EXPECT_NE(said.find("YRA OKCTAVC number 2 is gone"), std::string::npos) << said;
}

TEST_F(BusyDevice, OtherModelsKeepTheirNumbersAroundIt) {
  bus->Attach(Model::TAVM);
  bus->Attach(Model::SELM);
  ASSERT_EQ(getNumberOfConnectedCameras(), 4);
  EXPECT_STREQ(getCameraModel(0), "YRA OKCTAVM");
  EXPECT_STREQ(getCameraModel(3), "YRA OKCSELM");
  ASSERT_TRUE(openCamera(3));
  EXPECT_STREQ(okc::api::CurrentCamera()->modelName, "YRA OKCSELM");
}

}  // namespace
