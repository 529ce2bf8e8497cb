// Loading FX3 boot images into a simulated controller's RAM.
#include <vector>

#include "SimFixture.h"
#include "tests/firmware/ImageBuilder.h"

using okc::sim::Model;
using okc::test::Bytes;
using okc::test::Pattern;

namespace {

constexpr uint32_t kSystemRam = 0x40000000;
constexpr uint32_t kEntry = 0x40000100;

Bytes Image(std::vector<okc::test::Fx3Builder::Section> sections, bool withEnd = true) {
  okc::test::Fx3Builder image;
  image.sections = std::move(sections);
  image.withEnd = withEnd;
  return image.Build();
}

}  // namespace

class RamLoadTest : public SimBusTest {
 protected:
  void SetUp() override {
    SimBusTest::SetUp();
    cam = AttachOpened(Model::TAVC_U, true);
  }
  FX3_FWDWNLOAD_ERROR_CODE Load(const Bytes& image) {
    return device->LoadRamImage(image.data(), static_cast<uint32_t>(image.size()), 0xA0);
  }
  // Nothing reached the controller and it did not start.
  void ExpectNothingSent() {
    EXPECT_TRUE(cam->Requests().empty());
    EXPECT_FALSE(cam->EntryPoint().has_value());
  }

  std::shared_ptr<okc::sim::SimCamera> cam;
};

TEST_F(RamLoadTest, ValidImageLandsInRamVerifiedPieceByPieceAndEndsWithTheJump) {
  const Bytes big = Pattern(5000, 1);
  const Bytes small = Pattern(8, 200);
  EXPECT_TRUE(device->ProbeBootLoader());
  cam->ClearRequests();
  EXPECT_EQ(Load(Image({{kSystemRam, big}, {kSystemRam + 0x10000, small}})), FX3_FW_SUCCESS);
  EXPECT_EQ(cam->ReadRam(kSystemRam, big.size()), big);
  EXPECT_EQ(cam->ReadRam(kSystemRam + 0x10000, small.size()), small);
  EXPECT_EQ(cam->EntryPoint(), kEntry);

  // 5000 bytes go as pieces of 2048, 2048 and 904, each written then read back; the 8 bytes likewise.
  const auto requests = cam->VendorRequests(0xA0);
  ASSERT_EQ(requests.size(), 2u * 4 + 1);
  const std::pair<uint32_t, size_t> pieces[] = {
      {kSystemRam, 2048}, {kSystemRam + 2048, 2048}, {kSystemRam + 4096, 904}, {kSystemRam + 0x10000, 8}};
  for (size_t i = 0; i < 4; ++i) {
    SCOPED_TRACE(i);
    for (size_t k : {2 * i, 2 * i + 1}) {
      EXPECT_EQ(requests[k].in, k % 2 == 1);
      EXPECT_EQ(requests[k].data.size(), pieces[i].second);
      EXPECT_EQ(static_cast<uint32_t>(requests[k].index) << 16 | requests[k].value, pieces[i].first);
    }
  }
  const auto& jump = requests.back();
  EXPECT_FALSE(jump.in);
  EXPECT_TRUE(jump.data.empty());
  EXPECT_EQ(static_cast<uint32_t>(jump.index) << 16 | jump.value, kEntry);
}

TEST_F(RamLoadTest, CorruptImagesAreRefusedBeforeAnythingIsSent) {
  Bytes noSignature = Image({{kSystemRam, Pattern(16, 0)}});
  noSignature[1] = 'X';
  Bytes cutShort = Image({{kSystemRam, Pattern(4096, 3)}, {kSystemRam + 0x8000, Pattern(4096, 9)}});
  cutShort.resize(cutShort.size() - 2000);  // the second section now runs past the end
  const std::pair<Bytes, FX3_FWDWNLOAD_ERROR_CODE> cases[] = {
      {noSignature, FX3_FW_INVALID_SIGNATURE},
      {Bytes{'C'}, FX3_FW_INVALID_SIGNATURE},
      {cutShort, FX3_FW_IMAGE_TOO_SHORT},
      {Image({{kSystemRam, Pattern(64, 0)}}, false), FX3_FW_IMAGE_TOO_SHORT},  // no end section
      {Bytes{'C', 'Y', 0, 0, 1, 0}, FX3_FW_IMAGE_TOO_SHORT},
      // 4000 bytes claimed: the first 2048-byte piece alone is longer than the image.
      {Image({{kSystemRam, {}, 1000}}), FX3_FW_PIECE_TOO_LONG},
      {Image({{kSystemRam, {}, 0x40000001}}, false), FX3_FW_PIECE_TOO_LONG},  // byte count past 32 bits
  };
  for (const auto& [image, expected] : cases) {
    SCOPED_TRACE(image.size());
    EXPECT_EQ(Load(image), expected);
  }
  EXPECT_EQ(device->LoadRamImage(nullptr, 100, 0xA0), FX3_FW_INVALID_SIGNATURE);
  ExpectNothingSent();
}

TEST_F(RamLoadTest, LoadFailsWhenTheControllerRefusesOrTheDeviceIsClosed) {
  const Bytes valid = Image({{kSystemRam, Pattern(64, 0)}});
  cam->SetStallRequest(0xA0);
  EXPECT_EQ(Load(valid), FX3_FW_FAILED);
  EXPECT_EQ(cam->VendorRequests(0xA0).size(), 3u);  // a failing piece is tried three times
  cam->SetStallRequest(std::nullopt);

  EXPECT_EQ(Load(Image({{0x7FFFFF00, Pattern(64, 0)}})), FX3_FW_FAILED);  // outside the controller's RAM
  EXPECT_FALSE(cam->EntryPoint().has_value());

  cam->ClearRequests();
  device->CloseDevice();
  EXPECT_EQ(Load(valid), FX3_FW_FAILED);
  ExpectNothingSent();
}
