// Listing and opening simulated cameras by class.
#include <gtest/gtest.h>

#include <set>

#include "SeamRequests.h"

namespace okc::sim::test {
namespace {

usb::UsbDeviceClass ClassOf(Model model) { return {usb::kCameraVendorId, ProductIdOf(model)}; }

TEST(SimModels, ProductIdsNamesAndParsing) {
  EXPECT_EQ(ProductIdOf(Model::TAVM), 0x6101);
  EXPECT_EQ(ProductIdOf(Model::TAVC), 0x6102);
  EXPECT_EQ(ProductIdOf(Model::RENM), 0x6105);
  EXPECT_EQ(ProductIdOf(Model::SELC), 0x6109);
  EXPECT_EQ(ProductIdOf(Model::SELM), 0x6108);
  EXPECT_EQ(ProductIdOf(Model::PIMC), 0x6106);
  EXPECT_EQ(ProductIdOf(Model::DORC), 0x6107);
  EXPECT_EQ(ProductIdOf(Model::TAVM_U), 0x6103);
  EXPECT_EQ(ProductIdOf(Model::TAVC_U), 0x6104);
  EXPECT_TRUE(IsUsb3Model(Model::TAVC_U));
  EXPECT_TRUE(IsUsb3Model(Model::TAVM_U));
  EXPECT_FALSE(IsUsb3Model(Model::TAVC));

  EXPECT_STREQ(ShortNameOf(Model::TAVM_U), "TAVM-U");
  EXPECT_EQ(ParseModel("tavc-u"), Model::TAVC_U);
  EXPECT_EQ(ParseModel("TAVM_U"), Model::TAVM_U);
  EXPECT_EQ(ParseModel("Dorc"), Model::DORC);
  EXPECT_EQ(ParseModel("TAV"), std::nullopt);
  EXPECT_EQ(ParseModel("TAVCX"), std::nullopt);
  EXPECT_EQ(ParseModel(""), std::nullopt);
}

TEST(SimBusListing, CountsDevicesByClassInPlugOrder) {
  auto bus = CreateSimBus();
  EXPECT_EQ(bus->CountDevices(ClassOf(Model::TAVC)), 0);

  auto first = bus->Attach(Model::TAVC);
  bus->Attach(Model::PIMC);
  auto second = bus->Attach(Model::TAVC);
  EXPECT_EQ(bus->CountDevices(ClassOf(Model::TAVC)), 2);
  EXPECT_EQ(bus->CountDevices(ClassOf(Model::PIMC)), 1);
  EXPECT_EQ(bus->CountDevices(ClassOf(Model::DORC)), 0);
  // The class belongs to the camera vendor: another vendor ID lists nothing.
  EXPECT_EQ(bus->CountDevices({0x1234, ProductIdOf(Model::TAVC)}), 0);

  uint32_t error = 0;
  auto link0 = bus->Open(ClassOf(Model::TAVC), 0, &error);
  auto link1 = bus->Open(ClassOf(Model::TAVC), 1, &error);
  ASSERT_TRUE(link0 && link1);
  EXPECT_EQ(link0->DevicePath(), "sim:1-1");
  EXPECT_EQ(link1->DevicePath(), "sim:1-3");
  EXPECT_NE(first->Options().serialNumber, second->Options().serialNumber);
}

TEST(SimBusListing, ForeignDeviceIsListedUnderItsClass) {
  auto bus = CreateSimBus();
  SimDeviceOptions foreign;
  foreign.model = Model::TAVC;
  foreign.vendorId = 0x04B4;
  foreign.productId = 0x00F3;
  auto camera = bus->Attach(foreign);
  ASSERT_EQ(bus->CountDevices(ClassOf(Model::TAVC)), 1);

  uint32_t error = 0;
  auto link = bus->Open(ClassOf(Model::TAVC), 0, &error);
  ASSERT_TRUE(link);
  const ControlReply d = GetDescriptor(*link, 1, 0, 18);
  ASSERT_TRUE(d.result.ok);
  ASSERT_EQ(d.data.size(), 18u);
  EXPECT_EQ(d.data[8] | d.data[9] << 8, 0x04B4);
  EXPECT_EQ(d.data[10] | d.data[11] << 8, 0x00F3);
}

TEST(SimBusListing, DeviceBoundToAnotherClassAppearsOnlyThere) {
  auto bus = CreateSimBus();
  SimDeviceOptions o;
  o.model = Model::TAVC;
  o.classProductId = ProductIdOf(Model::DORC);
  bus->Attach(o);
  EXPECT_EQ(bus->CountDevices(ClassOf(Model::TAVC)), 0);
  EXPECT_EQ(bus->CountDevices(ClassOf(Model::DORC)), 1);
}

TEST(SimBusListing, OpenBeyondTheClassFails) {
  auto bus = CreateSimBus();
  bus->Attach(Model::SELC);
  uint32_t error = 0;
  EXPECT_EQ(bus->Open(ClassOf(Model::SELC), 1, &error), nullptr);
  EXPECT_EQ(error, usb::kErrNoMoreItems);
  EXPECT_EQ(bus->Open(ClassOf(Model::SELC), -1, &error), nullptr);
  EXPECT_EQ(bus->Open(ClassOf(Model::SELM), 0, nullptr), nullptr);  // null error pointer is allowed
}

TEST(SimBusListing, UnpluggedAndDetachedCamerasLeaveTheListing) {
  auto bus = CreateSimBus();
  auto a = bus->Attach(Model::RENM);
  auto b = bus->Attach(Model::RENM);
  a->Unplug();
  EXPECT_EQ(bus->CountDevices(ClassOf(Model::RENM)), 1);
  uint32_t error = 0;
  auto link = bus->Open(ClassOf(Model::RENM), 0, &error);
  ASSERT_TRUE(link);
  EXPECT_EQ(link->DevicePath(), "sim:1-2");  // device 0 is now the second camera

  bus->Detach(b);
  EXPECT_TRUE(b->Unplugged());
  EXPECT_EQ(bus->CountDevices(ClassOf(Model::RENM)), 0);
  EXPECT_TRUE(bus->Cameras().empty());
}

TEST(SimBusListing, SerialNumbersAreUniqueAndDefaultsResolved) {
  auto bus = CreateSimBus();
  std::set<std::string> serials;
  for (int i = 0; i < kModelCount; ++i) {
    auto c = bus->Attach(static_cast<Model>(i));
    serials.insert(c->Options().serialNumber);
    EXPECT_EQ(c->Options().serialNumber.rfind(std::string("SIM") + ShortNameOf(c->GetModel()), 0), 0u);
    EXPECT_EQ(c->Options().vendorId, usb::kCameraVendorId);
    EXPECT_EQ(c->Options().productId, ProductIdOf(c->GetModel()));
    EXPECT_EQ(c->Options().product, std::string("OKC") + ShortNameOf(c->GetModel()));
  }
  EXPECT_EQ(serials.size(), static_cast<size_t>(kModelCount));
  EXPECT_EQ(bus->Cameras().size(), static_cast<size_t>(kModelCount));
}

TEST(SimBusLink, SpeedFollowsModelAndHost) {
  auto bus = CreateSimBus();
  auto usb2 = AttachAndOpen(*bus, Model::TAVC);
  auto usb3 = AttachAndOpen(*bus, Model::TAVM_U);
  EXPECT_EQ(usb2.link->LinkSpeed(), 2u);
  EXPECT_EQ(usb3.link->LinkSpeed(), 4u);
  EXPECT_EQ(usb3.link->CurrentAltSetting(), 0);
  EXPECT_NE(usb3.link->UsbAddress(), 0);

  // A USB 3 camera behind a USB 2 host runs at high speed and says so when asked (B4).
  usb3.camera->SetUsb3Host(false);
  EXPECT_EQ(usb3.link->LinkSpeed(), 2u);
  EXPECT_EQ(VendorIn(*usb3.link, 0xB4, 0, 0, 1).data, std::vector<uint8_t>{0});
}

TEST(SimBusLink, PortAndPipeOperationsAreCounted) {
  auto bus = CreateSimBus();
  auto c = AttachAndOpen(*bus, Model::TAVC_U);
  EXPECT_TRUE(c.link->ResetPort());
  EXPECT_TRUE(c.link->CyclePort());
  EXPECT_TRUE(c.link->CyclePort());
  EXPECT_TRUE(c.link->ResetPipe(0x82));
  EXPECT_FALSE(c.link->ResetPipe(0x01));  // no such endpoint
  EXPECT_TRUE(c.link->SetTransferSize(0x82, 262144));
  EXPECT_FALSE(c.link->SetTransferSize(0x81, 512));
  EXPECT_EQ(c.camera->PortResets(), 1);
  EXPECT_EQ(c.camera->PortCycles(), 2);
  EXPECT_EQ(c.camera->PipeResets(), 1);
  EXPECT_EQ(c.camera->BulkTransferSize(), 262144u);
  // A cycled device is still the same device on the bus.
  EXPECT_EQ(bus->CountDevices(ClassOf(Model::TAVC_U)), 1);
}

}  // namespace
}  // namespace okc::sim::test
