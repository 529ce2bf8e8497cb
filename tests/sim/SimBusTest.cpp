// Listing and opening simulated cameras by class.
#include <gtest/gtest.h>

#include <set>

#include "SeamRequests.h"

namespace okc::sim::test {
namespace {

TEST(SimModels, ShortNamesParseBackCaseInsensitiveAndNothingElseParses) {
  for (int i = 0; i < kModelCount; ++i) {
    const Model m = static_cast<Model>(i);
    EXPECT_EQ(ParseModel(ShortNameOf(m)), m) << ShortNameOf(m);
  }
  EXPECT_EQ(ParseModel("tavc-u"), Model::TAVC_U);
  EXPECT_EQ(ParseModel("TAVM_U"), Model::TAVM_U);
  for (const char* bad : {"TAV", "TAVCX", ""}) EXPECT_EQ(ParseModel(bad), std::nullopt) << bad;
}

using SimBusListing = SimTest;

TEST_F(SimBusListing, DevicesAreListedByTheirClassInPlugOrder) {
  auto first = bus->Attach(Model::TAVC);
  bus->Attach(Model::PIMC);
  auto second = bus->Attach(Model::TAVC);
  SimDeviceOptions foreign;  // another maker's device bound to the TAVC class
  foreign.vendorId = 0x04B4;
  foreign.productId = 0x00F3;
  bus->Attach(foreign);
  SimDeviceOptions elsewhere;  // a TAVC bound to the DORC class
  elsewhere.classProductId = ProductIdOf(Model::DORC);
  bus->Attach(elsewhere);
  auto count = [&](Model m) { return bus->CountDevices(ClassOf(m)); };
  uint32_t error = 0;
  auto open = [&](int n) { return bus->Open(ClassOf(Model::TAVC), n, &error); };

  EXPECT_EQ(count(Model::TAVC), 3);
  EXPECT_EQ(count(Model::PIMC), 1);
  EXPECT_EQ(count(Model::DORC), 1);
  EXPECT_EQ(bus->CountDevices({0x1234, ProductIdOf(Model::TAVC)}), 0);  // the class belongs to the camera vendor
  EXPECT_EQ(open(0)->DevicePath(), "sim:1-1");
  EXPECT_EQ(open(1)->DevicePath(), "sim:1-3");
  const auto descriptor = GetDescriptor(*open(2), 1, 0, 18).data;  // the foreign device's own identity
  ASSERT_EQ(descriptor.size(), 18u);
  EXPECT_EQ(descriptor[8] | descriptor[9] << 8, 0x04B4);
  EXPECT_EQ(descriptor[10] | descriptor[11] << 8, 0x00F3);
  EXPECT_EQ(open(3), nullptr);
  EXPECT_EQ(error, usb::kErrNoMoreItems);
  EXPECT_EQ(open(-1), nullptr);
  EXPECT_EQ(bus->Open(ClassOf(Model::SELM), 0, nullptr), nullptr);  // null error pointer is allowed

  // Unplugged and detached cameras leave the listing; the others move up.
  first->Unplug();
  EXPECT_EQ(count(Model::TAVC), 2);
  EXPECT_EQ(open(0)->DevicePath(), "sim:1-3");
  bus->Detach(second);
  EXPECT_TRUE(second->Unplugged());
  EXPECT_EQ(count(Model::TAVC), 1);
  EXPECT_EQ(bus->Cameras().size(), 3u);
}

TEST_F(SimBusListing, EveryModelGetsItsIdentityAndAUniqueSerialNumber) {
  std::set<std::string> serials;
  for (int i = 0; i < kModelCount; ++i) {
    const SimDeviceOptions& o = bus->Attach(static_cast<Model>(i))->Options();
    EXPECT_EQ(o.productId, ProductIdOf(o.model));
    EXPECT_EQ(o.product, std::string("OKC") + ShortNameOf(o.model));
    EXPECT_TRUE(serials.insert(o.serialNumber).second) << o.serialNumber;
  }
}

TEST_F(SimBusListing, LinkSpeedFollowsModelAndHostAndPortRequestsReachTheDevice) {
  Open(Model::TAVC);
  EXPECT_EQ(Link().LinkSpeed(), 2u);
  Open(Model::TAVM_U);
  EXPECT_EQ(Link().LinkSpeed(), 4u);
  // A USB 3 camera behind a USB 2 host runs at high speed and says so when asked (B4).
  Camera().SetUsb3Host(false);
  EXPECT_EQ(Link().LinkSpeed(), 2u);
  EXPECT_EQ(VendorIn(Link(), 0xB4, 0, 0, 1).data, std::vector<uint8_t>{0});

  // Port and pipe requests reach the device; unknown endpoints are refused.
  EXPECT_FALSE(Link().ResetPipe(0x01));
  EXPECT_FALSE(Link().SetTransferSize(0x81, 512));
  EXPECT_EQ(Camera().PipeResets(), 0);
  EXPECT_TRUE(Link().CyclePort());
  EXPECT_EQ(Camera().PortCycles(), 1);
  EXPECT_EQ(bus->CountDevices(ClassOf(Model::TAVM_U)), 1);  // a cycled device is back on the bus at once
  // The link of the old enumeration reaches nothing any more.
  EXPECT_FALSE(VendorIn(Link(), 0xB4, 0, 0, 1).result.ok);
  EXPECT_EQ(Camera().Reenumerations(), 1);
}

}  // namespace
}  // namespace okc::sim::test
