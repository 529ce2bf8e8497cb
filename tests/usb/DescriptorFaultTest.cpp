// Devices whose descriptors lie about their lengths: they must fail to open
// (with the configuration or BOS message) and never be read past their end.
#include <string>
#include <vector>

#include "SimFixture.h"
#include "usb/CCyUSBBOS.h"
#include "usb/CCyUSBConfig.h"

using okc::sim::Model;
using Bytes = std::vector<uint8_t>;

namespace {

constexpr uint8_t kTypeDevice = 1, kTypeConfiguration = 2, kTypeString = 3, kTypeBos = 15;

Bytes Interface(uint8_t endpoints, uint8_t length = 9) { return {length, 4, 0, 0, endpoints, 0xFF, 0, 0, 0}; }
Bytes BulkIn(uint8_t length = 7) { return {length, 5, 0x82, 2, 0x00, 0x02, 0}; }
const Bytes kClassSpecific = {3, 0x24, 0};

// A descriptor `header` followed by `parts`; bytes 2-3 hold the true total length unless given.
Bytes WithTotal(Bytes header, const std::vector<Bytes>& parts, int total = -1) {
  for (const Bytes& p : parts) header.insert(header.end(), p.begin(), p.end());
  if (total < 0) total = static_cast<int>(header.size());
  header[2] = static_cast<uint8_t>(total);
  header[3] = static_cast<uint8_t>(total >> 8);
  return header;
}
Bytes Config(const std::vector<Bytes>& parts, int total = -1) {
  return WithTotal({9, 2, 0, 0, 1, 1, 0, 0x80, 250}, parts, total);
}
Bytes Bos(uint8_t capabilities, const std::vector<Bytes>& parts, int total = -1) {
  return WithTotal({5, 15, 0, 0, capabilities}, parts, total);
}

}  // namespace

class DescriptorFaultTest : public SimBusTest {
 protected:
  // Opens a camera whose descriptor (type, index) is replaced; returns whether it opened.
  bool OpenWith(Model model, uint8_t type, uint8_t index, Bytes bytes) {
    auto cam = bus->Attach(model);
    cam->OverrideDescriptor(type, index, std::move(bytes));
    CUsbDevice dev(nullptr, ClassOf(model), false);
    ::testing::internal::CaptureStderr();
    const bool opened = dev.OpenDevice(0);
    stderrText = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(dev.IsOpen(), opened);
    EXPECT_EQ(dev.controlEndpoint != nullptr, opened);
    hadBulkIn = opened && dev.bulkInEndpoint != nullptr;
    manufacturer = dev.manufacturer;
    bus->Detach(cam);
    return opened;
  }

  std::string stderrText;
  bool hadBulkIn = false;
  std::u16string manufacturer;
};

TEST_F(DescriptorFaultTest, LyingDescriptorsFailToOpenWithTheirMessage) {
  const char* configMessage = "Wrong Device Configuration: Please correct firmware descriptor table";
  const char* bosMessage = "Wrong BOS Descriptor: Please correct firmware BOS descriptor table";
  std::vector<Bytes> forty = {Interface(40)};
  for (int i = 0; i < 40; ++i) forty.push_back(BulkIn());
  const Bytes usb20Extension = {7, 16, 2, 2, 0, 0, 0};
  const Bytes superSpeed = {10, 16, 3, 0, 0x0E, 0, 1, 0x0A, 0xFF, 0x07};
  struct Case {
    const char* what;
    uint8_t type;
    Bytes bytes;
  };
  const Case cases[] = {
      {"device descriptor cut short", kTypeDevice, {18, 1, 0x00, 0x02, 0, 0, 0, 64}},
      {"device descriptor of length 0", kTypeDevice,
       {0, 1, 0x00, 0x02, 0, 0, 0, 64, 0x5D, 0x6A, 0x02, 0x61, 0, 0, 1, 2, 3, 1}},
      {"config total past the data", kTypeConfiguration, Config({Interface(1), BulkIn()}, 200)},
      {"config total below the header", kTypeConfiguration, Config({Interface(1), BulkIn()}, 4)},
      {"endpoint of length 0", kTypeConfiguration, Config({Interface(1), BulkIn(0)})},
      {"short endpoint", kTypeConfiguration, Config({Interface(1), BulkIn(4)})},
      {"interface past the end", kTypeConfiguration, Config({Interface(1, 0x40), BulkIn()})},
      {"endpoints announced but absent", kTypeConfiguration, Config({Interface(3), BulkIn()})},
      {"more endpoints than the list holds", kTypeConfiguration, Config(forty)},
      {"BOS total past the data", kTypeBos, Bos(2, {usb20Extension, superSpeed}, 200)},
      {"capability of length 0", kTypeBos, Bos(2, {{0, 16, 2}, superSpeed})},
      {"capabilities announced but absent", kTypeBos, Bos(5, {usb20Extension, superSpeed})},
      {"short SuperSpeed capability", kTypeBos, Bos(2, {usb20Extension, {5, 16, 3, 0, 0x0E}})},
      {"no BOS at all", kTypeBos, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_FALSE(OpenWith(c.type == kTypeBos ? Model::TAVM_U : Model::TAVC, c.type, 0, c.bytes));
    if (c.type == kTypeDevice) {
      EXPECT_EQ(stderrText, "");  // no message for the device descriptor
    } else {
      EXPECT_NE(stderrText.find(c.type == kTypeBos ? bosMessage : configMessage), std::string::npos) << stderrText;
    }
  }
}

TEST_F(DescriptorFaultTest, AnInterfaceStopsLookingForEndpointsAfterElevenOtherDescriptors) {
  std::vector<Bytes> parts(12, kClassSpecific);
  parts.front() = Interface(1);
  parts.push_back(BulkIn());
  EXPECT_TRUE(OpenWith(Model::TAVC, kTypeConfiguration, 0, Config(parts)));
  EXPECT_TRUE(hadBulkIn);
  parts.insert(parts.begin() + 1, kClassSpecific);  // twelve now
  EXPECT_TRUE(OpenWith(Model::TAVC, kTypeConfiguration, 0, Config(parts)));
  EXPECT_FALSE(hadBulkIn);
}

TEST_F(DescriptorFaultTest, AStringLongerThanItsDataIsLeftEmptyButTheDeviceOpens) {
  for (const Bytes& lying : {Bytes{200, kTypeString, 'Y', 0, 'R', 0}, Bytes{1, kTypeString}}) {
    EXPECT_TRUE(OpenWith(Model::SELM, kTypeString, 1, lying));
    EXPECT_EQ(manufacturer, u"");
  }
}

// Every truncation and single-byte corruption of real descriptors: the parsers
// build an object or refuse, and never read past the data (the sanitizer build
// turns any overrun into a failure).
TEST_F(DescriptorFaultTest, ParsersSurviveEveryTruncationAndByteCorruption) {
  auto cam = bus->Attach(Model::TAVC_U);
  const Bytes config = cam->Descriptor(kTypeConfiguration, 0);
  const Bytes bos = cam->Descriptor(kTypeBos, 0);
  auto sweep = [](const Bytes& valid, auto build) {
    EXPECT_TRUE(build(valid));
    for (size_t n = 0; n < valid.size(); ++n) build(Bytes(valid.begin(), valid.begin() + n));
    for (size_t i = 0; i < valid.size(); ++i) {
      for (uint8_t v : {0x00, 0x01, 0x02, 0x05, 0x7F, 0xFF}) {
        Bytes bent = valid;
        bent[i] = v;
        build(bent);
      }
    }
  };
  sweep(config, [](const Bytes& b) { return CCyUSBConfig::Build(nullptr, b.data(), b.size(), true) != nullptr; });
  sweep(bos, [](const Bytes& b) { return CCyUSBBOS::Build(b.data(), b.size()) != nullptr; });
}
