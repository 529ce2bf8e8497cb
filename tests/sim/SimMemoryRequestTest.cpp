// SPI flash, I2C EEPROM and the boot loader's RAM behind their vendor requests.
#include <gtest/gtest.h>

#include "SeamRequests.h"

namespace okc::sim::test {
namespace {

class SimMemoryRequests : public SimTest {
 protected:
  void SetUp() override { Open(Model::TAVC_U); }
};

TEST_F(SimMemoryRequests, FlashProgramsLikeNorAndErasesBySector) {
  EXPECT_EQ(VendorIn(Link(), 0xC3, 0, 0x0400, 4).data, std::vector<uint8_t>(4, 0xFF));  // erased
  ASSERT_TRUE(VendorOut(Link(), 0xC2, 0, 0x0400, {0xF0, 0x0F, 0xAA, 0x55}).result.ok);
  EXPECT_EQ(Camera().ReadFlash(0x40000, 4), (std::vector<uint8_t>{0xF0, 0x0F, 0xAA, 0x55}));
  // Programming again can only clear bits.
  ASSERT_TRUE(VendorOut(Link(), 0xC2, 0, 0x0400, {0x0F, 0xFF, 0x0F, 0xFF}).result.ok);
  EXPECT_EQ(VendorIn(Link(), 0xC3, 0, 0x0400, 4).data, (std::vector<uint8_t>{0x00, 0x0F, 0x0A, 0x55}));

  // Sector 4 holds 0x40000; erasing sector 3 leaves it, erasing sector 4 clears it.
  ASSERT_TRUE(VendorOut(Link(), 0xC4, 1, 3).result.ok);
  EXPECT_EQ(Camera().ReadFlash(0x40000, 1), std::vector<uint8_t>{0x00});
  ASSERT_TRUE(VendorOut(Link(), 0xC4, 1, 4).result.ok);
  // Busy for two status polls, then idle.
  EXPECT_EQ(VendorIn(Link(), 0xC4, 0, 4, 1).data, std::vector<uint8_t>{1});
  EXPECT_EQ(VendorIn(Link(), 0xC4, 0, 4, 1).data, std::vector<uint8_t>{1});
  EXPECT_EQ(VendorIn(Link(), 0xC4, 0, 4, 1).data, std::vector<uint8_t>{0});
  EXPECT_EQ(Camera().ReadFlash(0x40000, 4), std::vector<uint8_t>(4, 0xFF));

  // Nothing outside the 4 MiB (pages of 256 bytes, sectors 0 to 63), nor more than one piece.
  EXPECT_TRUE(VendorOut(Link(), 0xC2, 0, 0x3FFF, Bytes(256, 0)).result.ok);
  EXPECT_FALSE(VendorOut(Link(), 0xC2, 0, 0x3FFF, Bytes(257, 0)).result.ok);
  EXPECT_FALSE(VendorIn(Link(), 0xC3, 0, 0x4000, 1).result.ok);
  EXPECT_FALSE(VendorOut(Link(), 0xC2, 0, 0, Bytes(2049, 0)).result.ok);
  EXPECT_FALSE(VendorOut(Link(), 0xC4, 1, 64).result.ok);
  EXPECT_FALSE(VendorOut(Link(), 0xC4, 2, 0).result.ok);  // erase takes value 1
  EXPECT_TRUE(Camera().ReadFlash(0x3FFFFF, 2).empty());
}

TEST_F(SimMemoryRequests, EepromHasOneMemoryPerDeviceSelect) {
  const auto data = Bytes(2048, 7);
  ASSERT_TRUE(VendorOut(Link(), 0xBA, 0, 0x0800, data).result.ok);
  ASSERT_TRUE(VendorOut(Link(), 0xBA, 1, 0x0800, {0xAB}).result.ok);
  EXPECT_EQ(VendorIn(Link(), 0xBB, 0, 0x0800, 2048).data, data);
  EXPECT_EQ(VendorIn(Link(), 0xBB, 1, 0x0800, 2).data, (std::vector<uint8_t>{0xAB, 0xFF}));
  EXPECT_EQ(Camera().ReadEeprom(2, 0x0800, 1), std::vector<uint8_t>{0xFF});  // untouched device: erased

  EXPECT_FALSE(VendorOut(Link(), 0xBA, 8, 0, {1}).result.ok);          // no device 8
  EXPECT_FALSE(VendorOut(Link(), 0xBA, 0, 0xFFFF, {1, 2}).result.ok);  // past the end of the device
  EXPECT_FALSE(VendorIn(Link(), 0xBB, 0, 0, 4096).result.ok);          // larger than one piece
}

TEST_F(SimMemoryRequests, CameraFirmwareStallsBootLoaderMemoryAccess) {
  EXPECT_FALSE(VendorIn(Link(), 0xA0, 0, 0, 1).result.ok);  // the boot-loader probe
  EXPECT_FALSE(VendorOut(Link(), 0xA0, 0x0000, 0x4000, {1, 2, 3, 4}).result.ok);
  EXPECT_EQ(Camera().ReadRam(0x40000000, 4), std::vector<uint8_t>(4, 0));
}

using SimBootLoader = SimTest;

TEST_F(SimBootLoader, LoadsRamWithinItsBoundsReadsItBackAndJumps) {
  SimDeviceOptions o;
  o.model = Model::TAVM_U;
  o.bootLoaderMode = true;
  Open(o);
  EXPECT_TRUE(VendorIn(Link(), 0xA0, 0, 0, 1).result.ok);  // probe answered
  const auto piece = Bytes(2048, 3, 5);
  // Address 0x40003000: value = low half, index = high half.
  ASSERT_TRUE(VendorOut(Link(), 0xA0, 0x3000, 0x4000, piece).result.ok);
  EXPECT_EQ(VendorIn(Link(), 0xA0, 0x3000, 0x4000, 2048).data, piece);
  EXPECT_EQ(Camera().ReadRam(0x40003000, 2048), piece);

  // The end of system RAM: one byte fits, two do not; nothing outside the memories.
  EXPECT_TRUE(VendorOut(Link(), 0xA0, 0xFFFF, 0x4007, {1}).result.ok);
  EXPECT_FALSE(VendorOut(Link(), 0xA0, 0xFFFF, 0x4007, {1, 2}).result.ok);
  EXPECT_FALSE(VendorOut(Link(), 0xA0, 0x0000, 0x2000, {1}).result.ok);
  EXPECT_FALSE(VendorIn(Link(), 0xA0, 0x0000, 0x4008, 4).result.ok);

  // Camera requests stall while the boot loader runs.
  EXPECT_FALSE(VendorIn(Link(), 0xAD, 0, 0, 2).result.ok);
  EXPECT_FALSE(Camera().EntryPoint().has_value());
  // The zero-length write jumps to the entry point; the loaded firmware then answers.
  ASSERT_TRUE(VendorOut(Link(), 0xA0, 0x3040, 0x4000).result.ok);
  EXPECT_EQ(Camera().EntryPoint(), 0x40003040u);
  EXPECT_FALSE(Camera().InBootLoaderMode());
  EXPECT_EQ(VendorIn(Link(), 0xAD, 0, 0, 2).data, (std::vector<uint8_t>{'V', 3}));
  EXPECT_FALSE(VendorIn(Link(), 0xA0, 0, 0, 1).result.ok);
}

}  // namespace
}  // namespace okc::sim::test
