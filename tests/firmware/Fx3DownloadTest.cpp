// FX3 boot image downloads to RAM, I2C EEPROM and SPI flash, checked against
// what the simulated controller received and stored.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <memory>

#include "core/ModelInfo.h"
#include "okccamera/CCameraBase.h"
#include "okccamera/Clock.h"
#include "support/SimEnvironment.h"
#include "tests/firmware/ImageBuilder.h"

namespace okc::test {
namespace {

// The USB 3 model's controller as a firmware tool sees it: opened as it is
// found, boot loader or not (the camera class would load its firmware first).
class Fx3Target : public CCameraBase {
 public:
  Fx3Target() : CCameraBase(1280, 960) {
    const core::ModelInfo& info = core::InfoOf(core::ModelId::TAVC_U);
    ApplyModelInfo(info);
    CreateDeviceAndLoadSettings(nullptr, info);
  }
  ~Fx3Target() override { ShutDown(); }
  bool OpenCamera(int ordinal) override { return OpenDeviceByOrdinal(ordinal, false); }
};

class Fx3Download : public SimEnvironment {
 protected:
  void Open(bool bootLoader = false) {
    sim::SimDeviceOptions o;
    o.model = sim::Model::TAVC_U;
    o.bootLoaderMode = bootLoader;
    cam = bus->Attach(o);
    camera = std::make_unique<Fx3Target>();
    ASSERT_TRUE(camera->OpenCamera(1));
    camera->firmwareProgress = [this](uint32_t done, uint32_t total) { progress.push_back({done, total}); };
    cam->ClearRequests();
  }

  std::string File(const Bytes& bytes, const std::string& name = "image.img") {
    const std::string path = MakeTempDir() + "/" + name;
    WriteFile(path, bytes);
    return path;
  }

  // Vendor requests that could change the device (OUT), in order.
  std::vector<sim::LoggedRequest> Outs() const {
    std::vector<sim::LoggedRequest> out;
    for (const auto& r : cam->VendorRequests())
      if (!r.in) out.push_back(r);
    return out;
  }

  void ExpectProgressEndsAt(uint32_t total) const {
    ASSERT_FALSE(progress.empty());
    for (size_t i = 1; i < progress.size(); ++i) EXPECT_GE(progress[i].first, progress[i - 1].first);
    EXPECT_EQ(progress.back().first, total);
    EXPECT_EQ(progress.back().second, total);
  }

  std::shared_ptr<sim::SimCamera> cam;
  std::unique_ptr<Fx3Target> camera;
  std::vector<std::pair<uint32_t, uint32_t>> progress;
};

TEST_F(Fx3Download, FiveThousandByteImageToFlashErasesOneSectorAndProgramsThreePieces) {
  Open();
  const Bytes image = Fx3Builder::OfSize(5000);
  ASSERT_EQ(camera->DownloadFw(File(image).c_str(), FX3_MEDIA_SPI_FLASH), FX3_FW_SUCCESS);

  // Sector 0 only: the erase, then status polls until idle (busy twice).
  const auto erase = cam->VendorRequests(0xC4);
  ASSERT_EQ(erase.size(), 4u);
  EXPECT_TRUE(!erase[0].in && erase[0].value == 1 && erase[0].index == 0);
  for (size_t i = 1; i < 4; ++i) EXPECT_TRUE(erase[i].in && erase[i].value == 0 && erase[i].index == 0);
  EXPECT_EQ(erase[3].data, Bytes{0});

  // 5120 bytes in pieces of 2048, 2048 and 1024 at flash pages 0, 8 and 16, each read back.
  const auto program = cam->VendorRequests(0xC2);
  const auto read = cam->VendorRequests(0xC3);
  ASSERT_EQ(program.size(), 3u);
  ASSERT_EQ(read.size(), 3u);
  const std::pair<uint16_t, size_t> pieces[] = {{0, 2048}, {8, 2048}, {16, 1024}};
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(program[i].index, pieces[i].first);
    EXPECT_EQ(program[i].data.size(), pieces[i].second);
    EXPECT_EQ(read[i].index, pieces[i].first);
  }
  Bytes expected = image;
  expected.resize(5120, 0xFF);
  EXPECT_EQ(cam->ReadFlash(0, 5120), expected);
  EXPECT_EQ(program[2].data, Bytes(expected.begin() + 4096, expected.end()));
  ExpectProgressEndsAt(65536 / 16 + 5120);
}

TEST_F(Fx3Download, FiveThousandByteImageToEepromWritesTwoBlocksThenThePaddedRest) {
  Open();
  const Bytes image = Fx3Builder::OfSize(5000, 2);
  ASSERT_EQ(camera->DownloadFw(File(image).c_str(), FX3_MEDIA_I2C_EEPROM), FX3_FW_SUCCESS);
  const auto writes = cam->VendorRequests(0xBA);
  ASSERT_EQ(writes.size(), 3u);
  const uint16_t expected[3][3] = {{0, 0, 2048}, {0, 2048, 2048}, {1, 0, 960}};
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(writes[i].value, expected[i][0]) << i;
    EXPECT_EQ(writes[i].index, expected[i][1]) << i;
    EXPECT_EQ(writes[i].data.size(), expected[i][2]) << i;
  }
  EXPECT_EQ(cam->VendorRequests(0xBB).size(), 3u);  // every block read back
  EXPECT_EQ(cam->ReadEeprom(0, 0, 4096), Bytes(image.begin(), image.begin() + 4096));
  Bytes rest(image.begin() + 4096, image.end());
  rest.resize(960, 0);  // zero padding
  EXPECT_EQ(cam->ReadEeprom(1, 0, 960), rest);
  ExpectProgressEndsAt(5000);
}

TEST_F(Fx3Download, ImageToRamIsVerifiedPieceByPieceAndEndsWithTheJump) {
  Open(true);
  EXPECT_TRUE(camera->IsBootLoaderRunning());
  Fx3Builder f;
  f.sections = {{0x40000000, Pattern(5000, 3)}, {0x40020000, Pattern(8, 4)}};
  const Bytes image = f.Build();
  // The first piece reads back wrong once: it is written again.
  cam->CorruptNextWrites(0xA0, 1);
  ASSERT_EQ(camera->DownloadFw(File(image).c_str(), FX3_MEDIA_RAM), FX3_FW_SUCCESS);
  EXPECT_EQ(cam->ReadRam(0x40000000, 5000), f.sections[0].data);
  EXPECT_EQ(cam->ReadRam(0x40020000, 8), f.sections[1].data);
  EXPECT_EQ(cam->EntryPoint(), 0x40000100u);
  const auto outs = Outs();
  ASSERT_EQ(outs.size(), 1u + 4 + 1);  // the first piece twice, three more, the jump
  EXPECT_EQ(outs[0].value, outs[1].value);
  EXPECT_TRUE(outs.back().data.empty());
  EXPECT_EQ(outs.back().value, 0x0100);
  EXPECT_EQ(outs.back().index, 0x4000);
  ExpectProgressEndsAt(5008);
}

TEST_F(Fx3Download, EveryResultCodeFromACraftedFileOrFault) {
  Open(true);
  const Bytes sound = Fx3Builder::OfSize(5000);
  Bytes notCy = sound;
  notCy[0] = 'X';
  Bytes badSum = sound;
  badSum[200] ^= 4;
  const std::string dir = MakeTempDir();
  const std::string fifo = dir + "/fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  struct Case {
    const char* what;
    std::string path;
    int media;
    FX3_FWDWNLOAD_ERROR_CODE code;
  };
  const Case cases[] = {
      {"missing file", dir + "/none.img", FX3_MEDIA_RAM, FX3_FW_INVALID_FILE},
      {"a directory", dir, FX3_MEDIA_RAM, FX3_FW_INVALID_FILE},
      {"a FIFO", fifo, FX3_MEDIA_RAM, FX3_FW_INVALID_FILE},
      {"empty file", File({}), FX3_MEDIA_RAM, FX3_FW_INVALID_FILE},
      {"media 4", File(sound), 4, FX3_FW_INVALID_MEDIA_TYPE},
      {"not CY", File(notCy), FX3_MEDIA_SPI_FLASH, FX3_FW_INVALID_SIGNATURE},
      {"truncated", File(Bytes(sound.begin(), sound.begin() + 4000)), FX3_MEDIA_I2C_EEPROM, FX3_FW_IMAGE_TOO_SHORT},
      {"piece longer than the file", File({'C', 'Y', 4, 0, 0, 2, 0, 0, 0, 0, 0, 0x40}), FX3_MEDIA_RAM,
       FX3_FW_PIECE_TOO_LONG},
      {"EEPROM size code 1", File(Fx3Builder::OfSize(5000, 1)), FX3_MEDIA_I2C_EEPROM, FX3_FW_BAD_EEPROM_SIZE},
      {"larger than the EEPROMs", File(Fx3Builder::OfSize(40000, 2)), FX3_MEDIA_I2C_EEPROM, FX3_FW_IMAGE_TOO_LARGE},
      {"larger than any boot image", File(Bytes(600 * 1024, 'C')), FX3_MEDIA_RAM, FX3_FW_IMAGE_TOO_LARGE},
      {"checksum", File(badSum), FX3_MEDIA_SPI_FLASH, FX3_FW_BAD_CHECKSUM},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(camera->DownloadFw(c.path.c_str(), static_cast<FX3_FWDWNLOAD_MEDIA_TYPE>(c.media)), c.code) << c.what;
    EXPECT_TRUE(cam->VendorRequests().empty()) << c.what << ": nothing may reach the device";
    cam->ClearRequests();
  }

  // Faults of the device.
  cam->CorruptNextWrites(0xA0, 3);
  EXPECT_EQ(camera->DownloadFw(File(sound).c_str(), FX3_MEDIA_RAM), FX3_FW_FAILED);
  EXPECT_EQ(cam->VendorRequests(0xA0).size(), 6u);  // three tries of the first piece, no jump
  EXPECT_FALSE(cam->EntryPoint().has_value());
  cam->CorruptNextWrites(0xBA, 1);
  EXPECT_EQ(camera->DownloadFw(File(sound).c_str(), FX3_MEDIA_I2C_EEPROM), FX3_FW_FAILED);
  cam->SetStallRequest(0xC4);
  EXPECT_EQ(camera->DownloadFw(File(sound).c_str(), FX3_MEDIA_SPI_FLASH), FX3_FW_FLASH_ERASE_FAILED);
  EXPECT_TRUE(cam->VendorRequests(0xC2).empty());
  cam->SetStallRequest(std::nullopt);
  okc::platform::UseClock(std::make_shared<okc::platform::FastClock>(1000.0));
  cam->SetEraseBusyPolls(-1);
  EXPECT_EQ(camera->EraseSectorOfSPIFlash(0, 0xC4), FX3_FW_FLASH_ERASE_FAILED);
  EXPECT_EQ(camera->DownloadFw(File(sound).c_str(), FX3_MEDIA_SPI_FLASH), FX3_FW_FLASH_ERASE_FAILED);
  EXPECT_TRUE(cam->VendorRequests(0xC2).empty());

  // A closed camera sends nothing.
  camera->CloseCamera();
  cam->ClearRequests();
  EXPECT_EQ(camera->DownloadFw(File(sound).c_str(), FX3_MEDIA_RAM), FX3_FW_FAILED);
  EXPECT_EQ(camera->DownloadFwToRam(sound.data(), static_cast<unsigned>(sound.size()), 0xA0), FX3_FW_FAILED);
  EXPECT_FALSE(camera->IsBootLoaderRunning());
  EXPECT_TRUE(cam->Requests().empty());
}

TEST_F(Fx3Download, UnplugInTheMiddleOfAFlashWriteFailsAndLaterRequestsFailToo) {
  Open();
  cam->UnplugAtRequest(0xC2, 2);
  EXPECT_EQ(camera->DownloadFw(File(Fx3Builder::OfSize(5000)).c_str(), FX3_MEDIA_SPI_FLASH), FX3_FW_FAILED);
  EXPECT_TRUE(cam->Unplugged());
  EXPECT_EQ(cam->VendorRequests(0xC2).size(), 2u);  // it vanished at the second piece
  EXPECT_FALSE(camera->IsBootLoaderRunning());
  EXPECT_EQ(camera->EraseSectorOfSPIFlash(0, 0xC4), FX3_FW_FAILED);
}

TEST_F(Fx3Download, CameraFirmwareDoesNotAnswerTheBootLoaderProbeButKeepsItsFlash) {
  Open(false);
  EXPECT_FALSE(camera->IsBootLoaderRunning());
  const Bytes page = Pattern(2048, 9);
  ASSERT_EQ(camera->EraseSectorOfSPIFlash(2, 0xC4), FX3_FW_SUCCESS);
  ASSERT_TRUE(camera->WriteToSPIFlash(page.data(), 2048, 0x20000, 0xC2));
  Bytes back(2048);
  ASSERT_TRUE(camera->ReadFromSPIFlash(back.data(), 2048, 0x20000, 0xC3));
  EXPECT_EQ(back, page);
  // Pieces the protocol cannot carry are refused unsent.
  cam->ClearRequests();
  EXPECT_FALSE(camera->WriteToSPIFlash(page.data(), 2048, 0x20010, 0xC2));  // not on a 256-byte boundary
  EXPECT_FALSE(camera->ReadFromSPIFlash(back.data(), 4096, 0, 0xC3));       // more than a piece
  EXPECT_FALSE(camera->ReadFromSPIFlash(nullptr, 16, 0, 0xC3));
  EXPECT_TRUE(cam->Requests().empty());
}

}  // namespace
}  // namespace okc::test
