// Loading FX3 boot images into a simulated controller's RAM.
#include <numeric>
#include <vector>

#include "SimFixture.h"

using okc::sim::Model;
using Bytes = std::vector<uint8_t>;

namespace {

constexpr uint32_t kSystemRam = 0x40000000;
constexpr uint32_t kEntry = 0x40000100;

void Put32(Bytes& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

struct Section {
  uint32_t address;
  Bytes data;  // a multiple of 4 bytes
};

Bytes Image(const std::vector<Section>& sections, bool withEnd = true) {
  Bytes image = {'C', 'Y', 0x1C, 0xB0};
  for (const Section& s : sections) {
    Put32(image, static_cast<uint32_t>(s.data.size() / 4));
    Put32(image, s.address);
    image.insert(image.end(), s.data.begin(), s.data.end());
  }
  if (withEnd) {
    Put32(image, 0);
    Put32(image, kEntry);
    Put32(image, 0x12345678);  // checksum word, not examined by the RAM load
  }
  return image;
}

Bytes Pattern(size_t n, uint8_t seed) {
  Bytes b(n);
  std::iota(b.begin(), b.end(), seed);
  return b;
}

}  // namespace

class RamLoadTest : public SimBusTest {
 protected:
  void SetUp() override {
    SimBusTest::SetUp();
    okc::sim::SimDeviceOptions options;
    options.model = Model::TAVC_U;
    options.bootLoaderMode = true;
    cam = bus->Attach(options);
    device = std::make_unique<CUsbDevice>(nullptr, ClassOf(Model::TAVC_U), true);
    ASSERT_TRUE(device->IsOpen());
    cam->ClearRequests();
  }
  FX3_FWDWNLOAD_ERROR_CODE Load(const Bytes& image) {
    return device->LoadRamImage(image.data(), static_cast<uint32_t>(image.size()), 0xA0);
  }

  std::shared_ptr<okc::sim::SimCamera> cam;
  std::unique_ptr<CUsbDevice> device;
};

TEST_F(RamLoadTest, ValidImageLandsInRamVerifiedPieceByPieceAndEndsWithTheJump) {
  const Bytes big = Pattern(5000, 1);
  const Bytes small = Pattern(8, 200);
  EXPECT_EQ(Load(Image({{kSystemRam, big}, {kSystemRam + 0x10000, small}})), FX3_FW_SUCCESS);
  EXPECT_EQ(cam->ReadRam(kSystemRam, big.size()), big);
  EXPECT_EQ(cam->ReadRam(kSystemRam + 0x10000, small.size()), small);
  ASSERT_TRUE(cam->EntryPoint().has_value());
  EXPECT_EQ(*cam->EntryPoint(), kEntry);

  const auto requests = cam->VendorRequests(0xA0);
  // 5000 bytes: pieces of 2048, 2048 and 904, each written then read back; 8 bytes likewise; then the jump.
  ASSERT_EQ(requests.size(), 2u * 3 + 2 + 1);
  const uint32_t addresses[] = {kSystemRam, kSystemRam + 2048, kSystemRam + 4096, kSystemRam + 0x10000};
  const size_t sizes[] = {2048, 2048, 904, 8};
  for (size_t i = 0; i < 4; ++i) {
    const auto& write = requests[2 * i];
    const auto& read = requests[2 * i + 1];
    EXPECT_FALSE(write.in);
    EXPECT_TRUE(read.in);
    EXPECT_EQ(write.data.size(), sizes[i]);
    EXPECT_EQ(read.data.size(), sizes[i]);
    EXPECT_EQ(static_cast<uint32_t>(write.index) << 16 | write.value, addresses[i]);
    EXPECT_EQ(static_cast<uint32_t>(read.index) << 16 | read.value, addresses[i]);
  }
  const auto& jump = requests.back();
  EXPECT_FALSE(jump.in);
  EXPECT_TRUE(jump.data.empty());
  EXPECT_EQ(static_cast<uint32_t>(jump.index) << 16 | jump.value, kEntry);
}

TEST_F(RamLoadTest, ImageWithoutTheSignatureIsRefusedUnsent) {
  Bytes image = Image({{kSystemRam, Pattern(16, 0)}});
  image[1] = 'X';
  EXPECT_EQ(Load(image), FX3_FW_INVALID_SIGNATURE);
  EXPECT_EQ(device->LoadRamImage(nullptr, 100, 0xA0), FX3_FW_INVALID_SIGNATURE);
  const uint8_t one = 'C';
  EXPECT_EQ(device->LoadRamImage(&one, 1, 0xA0), FX3_FW_INVALID_SIGNATURE);
  EXPECT_TRUE(cam->Requests().empty());
}

TEST_F(RamLoadTest, ImageShorterThanItsSectionsIsRefusedBeforeAnythingIsSent) {
  const Bytes good = Pattern(4096, 3);
  Bytes image = Image({{kSystemRam, good}, {kSystemRam + 0x8000, Pattern(4096, 9)}});
  image.resize(image.size() - 2000);  // the second section now runs past the end
  EXPECT_EQ(Load(image), FX3_FW_IMAGE_TOO_SHORT);
  EXPECT_EQ(Load(Image({{kSystemRam, good}}, false)), FX3_FW_IMAGE_TOO_SHORT);  // no end section
  EXPECT_EQ(Load(Bytes{'C', 'Y', 0, 0, 1, 0}), FX3_FW_IMAGE_TOO_SHORT);
  EXPECT_TRUE(cam->Requests().empty());
  EXPECT_FALSE(cam->EntryPoint().has_value());
}

TEST_F(RamLoadTest, SectionPieceLongerThanTheWholeImageIsRefused) {
  Bytes image = {'C', 'Y', 0, 0};
  Put32(image, 1000);  // 4000 bytes claimed: the first 2048-byte piece alone exceeds the image
  Put32(image, kSystemRam);
  Put32(image, 0);
  Put32(image, kEntry);
  EXPECT_EQ(Load(image), FX3_FW_PIECE_TOO_LONG);
  // A word count whose byte count overflows 32 bits is caught the same way.
  Bytes huge = {'C', 'Y', 0, 0};
  Put32(huge, 0x40000001);
  Put32(huge, kSystemRam);
  EXPECT_EQ(Load(huge), FX3_FW_PIECE_TOO_LONG);
  EXPECT_TRUE(cam->Requests().empty());
}

TEST_F(RamLoadTest, PieceThatKeepsFailingGivesUpAfterThreeAttempts) {
  cam->SetStallRequest(0xA0);
  EXPECT_EQ(Load(Image({{kSystemRam, Pattern(64, 0)}})), FX3_FW_FAILED);
  EXPECT_EQ(cam->VendorRequests(0xA0).size(), 3u);
  EXPECT_FALSE(cam->EntryPoint().has_value());
}

TEST_F(RamLoadTest, PieceOutsideTheControllersMemoryFails) {
  EXPECT_EQ(Load(Image({{0x7FFFFF00, Pattern(64, 0)}})), FX3_FW_FAILED);
  EXPECT_FALSE(cam->EntryPoint().has_value());
}

TEST_F(RamLoadTest, ClosedDeviceLoadsNothing) {
  device->CloseDevice();
  EXPECT_EQ(Load(Image({{kSystemRam, Pattern(64, 0)}})), FX3_FW_FAILED);
  EXPECT_TRUE(cam->Requests().empty());
}
