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

constexpr uint8_t kTypeDevice = 1;
constexpr uint8_t kTypeConfiguration = 2;
constexpr uint8_t kTypeString = 3;
constexpr uint8_t kTypeBos = 15;

const char* kConfigMessage = "Wrong Device Configuration: Please correct firmware descriptor table";
const char* kBosMessage = "Wrong BOS Descriptor: Please correct firmware BOS descriptor table";

Bytes Interface(uint8_t endpoints, uint8_t length = 9) { return {length, 4, 0, 0, endpoints, 0xFF, 0, 0, 0}; }
Bytes BulkIn(uint8_t address = 0x82, uint8_t length = 7) { return {length, 5, address, 2, 0x00, 0x02, 0}; }
Bytes ClassSpecific() { return {3, 0x24, 0}; }

// A configuration descriptor around `parts`; wTotalLength is the true size unless given.
Bytes Config(const std::vector<Bytes>& parts, int totalLength = -1) {
  Bytes d = {9, 2, 0, 0, 1, 1, 0, 0x80, 250};
  for (const Bytes& p : parts) d.insert(d.end(), p.begin(), p.end());
  const int total = totalLength >= 0 ? totalLength : static_cast<int>(d.size());
  d[2] = static_cast<uint8_t>(total);
  d[3] = static_cast<uint8_t>(total >> 8);
  return d;
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
    if (!opened) {
      EXPECT_FALSE(dev.IsOpen());
      EXPECT_EQ(dev.controlEndpoint, nullptr);
    }
    lastBulkIn = opened ? dev.bulkInEndpoint != nullptr : false;
    lastManufacturer = dev.manufacturer;
    bus->Detach(cam);
    return opened;
  }

  std::string stderrText;
  bool lastBulkIn = false;
  std::u16string lastManufacturer;
};

TEST_F(DescriptorFaultTest, LyingConfigurationDescriptorsFailWithTheConfigurationMessage) {
  std::vector<Bytes> endpoints40;
  for (int i = 0; i < 40; ++i) endpoints40.push_back(BulkIn(static_cast<uint8_t>(0x81 + i % 15)));
  endpoints40.insert(endpoints40.begin(), Interface(40));

  const std::vector<std::pair<const char*, Bytes>> cases = {
      {"total length past the data", Config({Interface(1), BulkIn()}, 200)},
      {"total length below the header", Config({Interface(1), BulkIn()}, 4)},
      {"endpoint of length 0", Config({Interface(1), BulkIn(0x82, 0)})},
      {"endpoint of length 1", Config({Interface(1), {1, 5}})},
      {"more endpoints announced than present", Config({Interface(3), BulkIn()})},
      {"interface running past the end", Config({Interface(1, 0x40), BulkIn()})},
      {"endpoint running past the end", Config({Interface(1), BulkIn(0x82, 0x30)})},
      {"short endpoint", Config({Interface(1), BulkIn(0x82, 4)})},
      {"class descriptor of length 0", Config({Interface(1), {0, 0x24}, BulkIn()})},
      {"more endpoints than the list holds", Config(endpoints40)},
      {"header of length 0", [] {
         Bytes d = Config({Interface(1), BulkIn()});
         d[0] = 0;
         return d;
       }()},
  };
  for (const auto& [what, bytes] : cases) {
    SCOPED_TRACE(what);
    EXPECT_FALSE(OpenWith(Model::TAVC, kTypeConfiguration, 0, bytes));
    EXPECT_NE(stderrText.find(kConfigMessage), std::string::npos) << stderrText;
  }
}

TEST_F(DescriptorFaultTest, LyingBosDescriptorsFailWithTheBosMessage) {
  const Bytes usb20Extension = {7, 16, 2, 2, 0, 0, 0};
  const Bytes superSpeed = {10, 16, 3, 0, 0x0E, 0, 1, 0x0A, 0xFF, 0x07};
  auto bos = [&](uint8_t caps, int total, std::vector<Bytes> parts) {
    Bytes d = {5, 15, 0, 0, caps};
    for (const Bytes& p : parts) d.insert(d.end(), p.begin(), p.end());
    if (total < 0) total = static_cast<int>(d.size());
    d[2] = static_cast<uint8_t>(total);
    d[3] = static_cast<uint8_t>(total >> 8);
    return d;
  };
  const std::vector<std::pair<const char*, Bytes>> cases = {
      {"total length past the data", bos(2, 200, {usb20Extension, superSpeed})},
      {"total length below the header", bos(2, 3, {usb20Extension, superSpeed})},
      {"capability of length 0", bos(2, -1, {{0, 16, 2}, superSpeed})},
      {"more capabilities announced than present", bos(5, -1, {usb20Extension, superSpeed})},
      {"short SuperSpeed capability", bos(2, -1, {usb20Extension, {5, 16, 3, 0, 0x0E}})},
      {"no BOS descriptor at all", {}},
  };
  for (const auto& [what, bytes] : cases) {
    SCOPED_TRACE(what);
    EXPECT_FALSE(OpenWith(Model::TAVM_U, kTypeBos, 0, bytes));
    EXPECT_NE(stderrText.find(kBosMessage), std::string::npos) << stderrText;
  }
}

TEST_F(DescriptorFaultTest, BrokenDeviceDescriptorFailsWithoutAMessage) {
  Bytes shortened = bus->Attach(Model::TAVC)->Descriptor(kTypeDevice, 0);
  shortened.resize(8);
  Bytes zeroLength = bus->Cameras().front()->Descriptor(kTypeDevice, 0);
  zeroLength[0] = 0;
  bus->Detach(bus->Cameras().front());
  for (const Bytes& bytes : {shortened, zeroLength}) {
    EXPECT_FALSE(OpenWith(Model::TAVC, kTypeDevice, 0, bytes));
    EXPECT_EQ(stderrText, "");
  }
}

TEST_F(DescriptorFaultTest, AnInterfaceStopsLookingForEndpointsAfterElevenOtherDescriptors) {
  std::vector<Bytes> parts = {Interface(1)};
  for (int i = 0; i < 11; ++i) parts.push_back(ClassSpecific());
  parts.push_back(BulkIn());
  EXPECT_TRUE(OpenWith(Model::TAVC, kTypeConfiguration, 0, Config(parts)));
  EXPECT_TRUE(lastBulkIn);

  parts.insert(parts.begin() + 1, ClassSpecific());  // twelve now
  EXPECT_TRUE(OpenWith(Model::TAVC, kTypeConfiguration, 0, Config(parts)));
  EXPECT_FALSE(lastBulkIn);
}

TEST_F(DescriptorFaultTest, AStringLongerThanItsDataIsLeftEmptyButTheDeviceOpens) {
  const Bytes lying = {200, kTypeString, 'Y', 0, 'R', 0};
  EXPECT_TRUE(OpenWith(Model::SELM, kTypeString, 1, lying));
  EXPECT_EQ(lastManufacturer, u"");
  const Bytes tiny = {1, kTypeString};
  EXPECT_TRUE(OpenWith(Model::SELM, kTypeString, 1, tiny));
  EXPECT_EQ(lastManufacturer, u"");
}

// Every truncation and every single-byte corruption of real descriptors:
// the parsers either build an object or refuse, never read past the data
// (the sanitizer build turns any overrun into a failure).
TEST_F(DescriptorFaultTest, ParsersSurviveEveryTruncationAndByteCorruption) {
  auto cam = bus->Attach(Model::TAVC_U);
  const Bytes config = cam->Descriptor(kTypeConfiguration, 0);
  const Bytes bos = cam->Descriptor(kTypeBos, 0);
  ASSERT_FALSE(config.empty());
  ASSERT_FALSE(bos.empty());
  auto sweep = [](const Bytes& valid, auto build) {
    for (size_t n = 0; n <= valid.size(); ++n) {
      Bytes cut(valid.begin(), valid.begin() + static_cast<long>(n));
      build(cut);
    }
    for (size_t i = 0; i < valid.size(); ++i) {
      for (uint8_t v : {0x00, 0x01, 0x02, 0x05, 0x7F, 0xFF}) {
        Bytes bent = valid;
        bent[i] = v;
        build(bent);
      }
    }
  };
  int configsBuilt = 0;
  sweep(config, [&](const Bytes& b) {
    if (CCyUSBConfig::Build(nullptr, b.data(), b.size(), true)) ++configsBuilt;
  });
  int bosBuilt = 0;
  sweep(bos, [&](const Bytes& b) {
    if (CCyUSBBOS::Build(b.data(), b.size())) ++bosBuilt;
  });
  EXPECT_GT(configsBuilt, 0);
  EXPECT_GT(bosBuilt, 0);
  EXPECT_NE(CCyUSBConfig::Build(nullptr, config.data(), config.size(), true), nullptr);
  EXPECT_NE(CCyUSBBOS::Build(bos.data(), bos.size()), nullptr);
}
