// Counting, naming, opening and closing cameras through the exported functions.
#include <gtest/gtest.h>

#include "api/CameraState.h"
#include "okccamera/CUsbDevice.h"
#include "okccamera/okccamera.h"
#include "support/SimEnvironment.h"

using okc::sim::Model;
using okc::sim::SimDeviceOptions;

namespace {

class Enumeration : public okc::test::SimEnvironment {};

std::vector<std::string> ModelsListed() {
  std::vector<std::string> names;
  const int n = getNumberOfConnectedCameras();
  for (int i = 0; i < n; ++i) names.push_back(getCameraModel(i));
  return names;
}

TEST_F(Enumeration, NoCameraAttached) {
  EXPECT_EQ(getNumberOfConnectedCameras(), 0);
  EXPECT_FALSE(openCamera(0));
  EXPECT_EQ(okc::api::CurrentCamera(), nullptr);
  EXPECT_FALSE(initCamera());
  closeCamera();  // nothing to close: no effect
}

TEST_F(Enumeration, IndicesFollowClassOrderNotPlugOrder) {
  for (Model m : {Model::TAVC_U, Model::DORC, Model::TAVC, Model::SELM, Model::TAVM_U, Model::PIMC, Model::RENM,
                  Model::SELC, Model::TAVM})
    bus->Attach(m);
  EXPECT_EQ(ModelsListed(),
            (std::vector<std::string>{"YRA OKCTAVM", "YRA OKCTAVC", "YRA OKCRENM", "YRA OKCSELC", "YRA OKCSELM",
                                      "YRA OKCPIMC", "YRA OKCDORC", "YRA OKCTAVM-U", "YRA OKCTAVC-U"}));
}

TEST_F(Enumeration, ForeignDevicesTakeNoIndex) {
  SimDeviceOptions otherVendor;
  otherVendor.model = Model::TAVC;
  otherVendor.vendorId = 0x1234;
  SimDeviceOptions unknownProduct;
  unknownProduct.model = Model::TAVC;
  unknownProduct.productId = 0x61FF;
  bus->Attach(otherVendor);
  bus->Attach(unknownProduct);
  bus->Attach(Model::SELC);
  EXPECT_EQ(ModelsListed(), std::vector<std::string>{"YRA OKCSELC"});
}

TEST_F(Enumeration, AnyKnownProductCountsWhateverItsClass) {
  // A TAVM published under the TAVC class is recorded as a TAVM at the TAVC position.
  SimDeviceOptions tavmUnderTavc;
  tavmUnderTavc.model = Model::TAVM;
  tavmUnderTavc.classProductId = 0x6102;
  bus->Attach(Model::RENM);
  bus->Attach(tavmUnderTavc);
  EXPECT_EQ(ModelsListed(), (std::vector<std::string>{"YRA OKCTAVM", "YRA OKCRENM"}));
}

TEST_F(Enumeration, SecondCameraOfAModelOpensWithOrdinalTwo) {
  auto first = bus->Attach(Model::TAVC);
  auto second = bus->Attach(Model::TAVC);
  ASSERT_EQ(getNumberOfConnectedCameras(), 2);
  ASSERT_TRUE(openCamera(1));
  CUsbDevice* device = okc::api::CurrentCamera()->device;
  ASSERT_NE(device, nullptr);
  const std::u16string serial(second->Options().serialNumber.begin(), second->Options().serialNumber.end());
  EXPECT_EQ(device->serialNumber, serial);
  ASSERT_TRUE(openCamera(0));
  const std::u16string firstSerial(first->Options().serialNumber.begin(), first->Options().serialNumber.end());
  EXPECT_EQ(okc::api::CurrentCamera()->device->serialNumber, firstSerial);
}

TEST_F(Enumeration, OpenOutOfRangeKeepsTheCurrentCamera) {
  bus->Attach(Model::TAVC);
  ASSERT_EQ(getNumberOfConnectedCameras(), 1);
  ASSERT_TRUE(openCamera(0));
  CCameraBase* before = okc::api::CurrentCamera().get();
  EXPECT_FALSE(openCamera(1));
  EXPECT_FALSE(openCamera(-1));
  EXPECT_EQ(okc::api::CurrentCamera().get(), before);
  EXPECT_TRUE(before->opened);
}

TEST_F(Enumeration, OpenEnumeratesOnFirstUse) {
  bus->Attach(Model::SELM);
  EXPECT_TRUE(openCamera(0));
  EXPECT_EQ(okc::api::cameraCount, 1);
  EXPECT_STREQ(okc::api::CurrentCamera()->modelName, "YRA OKCSELM");
}

TEST_F(Enumeration, ModelNamesAndTheirBounds) {
  EXPECT_EQ(getCameraModel(0), nullptr);  // nothing enumerated yet
  bus->Attach(Model::DORC);
  ASSERT_EQ(getNumberOfConnectedCameras(), 1);
  EXPECT_STREQ(getCameraModel(0), "YRA OKCDORC");
  EXPECT_EQ(getCameraModel(1), nullptr);
  EXPECT_EQ(getCameraModel(-1), nullptr);
  okc::api::cameraPids[0] = 0x1111;
  EXPECT_STREQ(getCameraModel(0), "Error");
  EXPECT_FALSE(openCamera(0));
  EXPECT_EQ(okc::api::CurrentCamera(), nullptr);
}

// A USB 2 camera of another manufacturer does not open and is not kept: every
// call answers as without a camera. USB 3 models skip the manufacturer check.
TEST_F(Enumeration, ManufacturerCheckOfTheUsb2Models) {
  const struct {
    Model model;
    const char* manufacturer;
    bool opens;
  } cases[] = {{Model::TAVC, "ACME Imaging", false}, {Model::TAVC_U, "Cypress", true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.manufacturer);
    SimDeviceOptions options;
    options.model = c.model;
    options.manufacturer = c.manufacturer;
    auto cam = bus->Attach(options);
    ASSERT_EQ(getNumberOfConnectedCameras(), 1);
    EXPECT_EQ(openCamera(0), c.opens);
    EXPECT_EQ(okc::api::CurrentCamera() != nullptr, c.opens);
    EXPECT_EQ(getMaxWidth() != 0, c.opens);
    closeCamera();
    bus->Detach(cam);
  }
}

TEST_F(Enumeration, TimestampIsOffAfterOpenWhateverWasStored) {
  bus->Attach(Model::TAVC);
  ASSERT_TRUE(openCamera(0));
  okc::api::CurrentCamera()->timeMark = true;
  okc::api::CurrentCamera()->SaveSetting(L"SOFTWARE\\OKCTAVC");
  closeCamera();
  ASSERT_TRUE(openCamera(0));
  EXPECT_FALSE(okc::api::CurrentCamera()->timeMark);
}

TEST_F(Enumeration, CloseReleasesTheDevice) {
  bus->Attach(Model::TAVC);
  ASSERT_TRUE(openCamera(0));
  closeCamera();
  EXPECT_EQ(okc::api::CurrentCamera(), nullptr);
  // The device can be opened again.
  EXPECT_TRUE(openCamera(0));
}

TEST_F(Enumeration, SimulatorSelectionByName) {
  EXPECT_EQ(okcUseSimulatedCameras("TAVC,tavm-u,SELM"), 3);
  EXPECT_EQ(getNumberOfConnectedCameras(), 3);
  EXPECT_STREQ(getCameraModel(2), "YRA OKCTAVM-U");
  EXPECT_EQ(okcUseSimulatedCameras("TAVC,NOPE"), -1);
  EXPECT_EQ(getNumberOfConnectedCameras(), 3);  // unchanged
}

}  // namespace
