// Judging firmware images before anything is sent: FX3 boot images, the I2C
// EEPROM write plan and 0xC2 EEPROM images, sound and broken.
#include <gtest/gtest.h>

#include "core/FirmwareImage.h"
#include "tests/firmware/ImageBuilder.h"

namespace okc::test {
namespace {

using core::CheckFx3Image;

Bytes TwoSections() {
  Fx3Builder f;
  f.sections = {{0x40000000, Pattern(4096, 1)}, {0x40010000, Pattern(8, 2)}};
  return f.Build();
}

TEST(Fx3ImageCheck, SoundImageGivesItsSectionsEntryAndSizeCode) {
  const Bytes image = TwoSections();
  core::Fx3Image parsed;
  ASSERT_EQ(CheckFx3Image(image, &parsed), FX3_FW_SUCCESS);
  ASSERT_EQ(parsed.sections.size(), 2u);
  EXPECT_EQ(parsed.sections[0].offset, 12u);
  EXPECT_EQ(parsed.sections[0].bytes, 4096u);
  EXPECT_EQ(parsed.sections[1].address, 0x40010000u);
  EXPECT_EQ(parsed.entry, 0x40000100u);
  EXPECT_EQ(parsed.i2cSizeCode, 2);
}

TEST(Fx3ImageCheck, BrokenImagesGiveTheirCode) {
  const Bytes sound = TwoSections();
  auto with = [&](auto change) {
    Bytes b = sound;
    change(b);
    return b;
  };
  struct Case {
    const char* what;
    Bytes image;
    FX3_FWDWNLOAD_ERROR_CODE code;
  };
  const Case cases[] = {
      {"zero-length", {}, FX3_FW_INVALID_SIGNATURE},
      {"not CY", with([](Bytes& b) { b[1] = 'Z'; }), FX3_FW_INVALID_SIGNATURE},
      {"truncated inside a section", Bytes(sound.begin(), sound.begin() + 3000), FX3_FW_IMAGE_TOO_SHORT},
      {"without its end section", Bytes(sound.begin(), sound.begin() + 12 + 4096 + 8 + 8), FX3_FW_IMAGE_TOO_SHORT},
      {"without its checksum word", Bytes(sound.begin(), sound.end() - 4), FX3_FW_IMAGE_TOO_SHORT},
      // The first section claims 0x10000000 words: longer than the file, which is longer than a piece.
      {"lying section length", with([](Bytes& b) { b[7] = 0x10; }), FX3_FW_IMAGE_TOO_SHORT},
      {"section longer than a short file", Bytes{'C', 'Y', 4, 0, 0x00, 0x02, 0, 0, 0, 0, 0, 0x40},
       FX3_FW_PIECE_TOO_LONG},
      {"one data byte changed", with([](Bytes& b) { b[100] ^= 1; }), FX3_FW_BAD_CHECKSUM},
      {"checksum changed", with([](Bytes& b) { b.back() ^= 0x80; }), FX3_FW_BAD_CHECKSUM},
      {"oversized", Fx3Builder::OfSize(core::kMaxFx3ImageBytes + 4), FX3_FW_IMAGE_TOO_LARGE},
  };
  for (const Case& c : cases) EXPECT_EQ(CheckFx3Image(c.image, nullptr), c.code) << c.what;
  // Padding behind the checksum is allowed.
  Bytes padded = sound;
  padded.resize(padded.size() + 100, 0xFF);
  EXPECT_EQ(CheckFx3Image(padded, nullptr), FX3_FW_SUCCESS);
}

TEST(I2cEepromPlan, FiveThousandBytesOnFourKibDevices) {
  std::vector<core::EepromWrite> writes;
  ASSERT_EQ(core::PlanI2cEepromWrites(5000, 2, &writes), FX3_FW_SUCCESS);
  ASSERT_EQ(writes.size(), 3u);
  const uint16_t expected[3][4] = {{0, 0, 2048, 2048}, {0, 2048, 2048, 2048}, {1, 0, 904, 960}};
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(writes[i].deviceSelect, expected[i][0]) << i;
    EXPECT_EQ(writes[i].address, expected[i][1]) << i;
    EXPECT_EQ(writes[i].bytes, expected[i][2]) << i;
    EXPECT_EQ(writes[i].paddedBytes, expected[i][3]) << i;
    EXPECT_EQ(writes[i].offset, i * 2048u) << i;
  }
}

TEST(I2cEepromPlan, LargeDevicesUseEverySelectOnceAndOversizedOrUnsizedImagesAreRefused) {
  std::vector<core::EepromWrite> writes;
  ASSERT_EQ(core::PlanI2cEepromWrites(8 * 65536, 7, &writes), FX3_FW_SUCCESS);
  std::vector<uint16_t> selects;
  for (const auto& w : writes)
    if (w.address == 0) selects.push_back(w.deviceSelect);
  EXPECT_EQ(selects, (std::vector<uint16_t>{0, 4, 1, 5, 2, 6, 3, 7}));
  ASSERT_EQ(core::PlanI2cEepromWrites(3 * 65536, 6, &writes), FX3_FW_SUCCESS);
  EXPECT_EQ(writes.back().deviceSelect, 2);
  EXPECT_EQ(writes.back().address, 65536 - 2048);

  EXPECT_EQ(core::PlanI2cEepromWrites(100, 0, nullptr), FX3_FW_BAD_EEPROM_SIZE);
  EXPECT_EQ(core::PlanI2cEepromWrites(100, 1, nullptr), FX3_FW_BAD_EEPROM_SIZE);
  EXPECT_EQ(core::PlanI2cEepromWrites(8 * 4096 + 1, 2, nullptr), FX3_FW_IMAGE_TOO_LARGE);
  EXPECT_EQ(core::PlanI2cEepromWrites(8 * 4096, 2, nullptr), FX3_FW_SUCCESS);
}

TEST(C2ImageCheck, SoundImageGivesIdentityAndRecords) {
  const Bytes image = C2Builder::Of4346Bytes(0x6102, 0x0300).Build();
  ASSERT_EQ(image.size(), 4346u);
  core::C2Image parsed;
  std::string problem;
  ASSERT_TRUE(core::CheckC2Image(image, &parsed, &problem)) << problem;
  EXPECT_EQ(parsed.vendorId, 0x6A5D);
  EXPECT_EQ(parsed.productId, 0x6102);
  EXPECT_EQ(core::FirmwareVersionOfRelease(parsed.release), 3);
  ASSERT_EQ(parsed.records.size(), 5u);
  EXPECT_EQ(parsed.records[4].address, 4000);
  EXPECT_EQ(parsed.records[4].length, 313);
  EXPECT_EQ(parsed.records[1].offset, 8u + 1004 + 4);
}

TEST(C2ImageCheck, BrokenImagesAreRefusedWithAReason) {
  const Bytes sound = C2Builder::Of4346Bytes().Build();
  auto with = [&](auto change) {
    Bytes b = sound;
    change(b);
    return b;
  };
  C2Builder outside;
  outside.records = {{0xFF00, Pattern(0x200, 1)}};
  C2Builder zero;
  zero.records = {{0, {}}};
  const std::pair<const char*, Bytes> cases[] = {
      {"zero-length", {}},
      {"wrong first byte", with([](Bytes& b) { b[0] = 0xC0; })},
      {"header only", Bytes(sound.begin(), sound.begin() + 10)},
      {"no terminating record", Bytes(sound.begin(), sound.end() - 5)},
      {"terminator cut short", Bytes(sound.begin(), sound.end() - 1)},
      {"terminator that holds the processor", with([](Bytes& b) { b[4345] = 1; })},
      {"record running past the end", with([](Bytes& b) { b[8] = 0x7F; })},
      {"record with the last-record flag", with([](Bytes& b) { b[8] |= 0x80; })},
      {"record past the address space", outside.Build()},
      {"empty record", zero.Build()},
      {"oversized", with([](Bytes& b) { b.resize(65537, 0); })},
  };
  for (const auto& [what, image] : cases) {
    std::string problem;
    EXPECT_FALSE(core::CheckC2Image(image, nullptr, &problem)) << what;
    EXPECT_FALSE(problem.empty()) << what;
  }
  EXPECT_TRUE(core::CheckEepromLoader(Loader(), nullptr));
  EXPECT_FALSE(core::CheckEepromLoader({}, nullptr));
  EXPECT_FALSE(core::CheckEepromLoader(Loader(16 * 1024 + 1), nullptr));
}

}  // namespace
}  // namespace okc::test
