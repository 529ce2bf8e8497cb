// Rewriting a USB 2 controller's boot EEPROM (UpdateFW) and the firmware
// reload of OpenCamera, against the simulated controller's boot path.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <tuple>
#include <memory>

#include "core/FirmwareImage.h"
#include "okccamera/CCameraTAVC.h"
#include "okccamera/Clock.h"
#include "okccamera/okccamera.h"
#include "platform/FirmwareFolder.h"
#include "support/SimEnvironment.h"
#include "tests/firmware/ImageBuilder.h"

namespace okc::test {
namespace {

constexpr uint16_t kTavcProduct = 0x6102;

class UpdateFw : public SimEnvironment {
 protected:
  void SetUp() override {
    SimEnvironment::SetUp();
    // The restart keeps the device off the bus for a while: let that pass quickly.
    okc::platform::UseClock(std::make_shared<okc::platform::FastClock>(1000.0));
  }

  std::shared_ptr<sim::SimCamera> AttachTavc(uint8_t version) {
    sim::SimDeviceOptions o;
    o.model = sim::Model::TAVC;
    o.firmwareVersion = version;
    return bus->Attach(o);
  }

  void InstallImages(const Bytes& image) {
    WriteFile(FirmwareDir() + "/" + core::kTavcFirmwareFile, image);
    WriteFile(FirmwareDir() + "/" + core::kEepromLoaderFile, Loader());
  }

  // A TAVC already at version 3, opened: UpdateFW is called directly.
  void OpenCurrent() {
    cam = AttachTavc(3);
    camera = std::make_unique<CCameraTAVC>();
    ASSERT_TRUE(camera->OpenCamera(1));
    cam->ClearRequests();
  }

  bool Update(const Bytes& image, const Bytes& loader = Loader()) {
    return camera->UpdateFW(image.data(), static_cast<long>(image.size()), loader.data(),
                            static_cast<long>(loader.size()));
  }

  std::shared_ptr<sim::SimCamera> cam;
  std::unique_ptr<CCameraTAVC> camera;
};

// A vendor request as the log shows it: code, direction, value and data length.
using Step = std::tuple<uint8_t, bool, uint16_t, size_t>;

std::vector<Step> Steps(const std::vector<sim::LoggedRequest>& log) {
  std::vector<Step> out;
  for (const auto& r : log) out.emplace_back(r.request, r.in, r.value, r.data.size());
  return out;
}

TEST_F(UpdateFw, ImageOf4346BytesGoesInTwoBlocksAndTheControllerRestartsWithIt) {
  OpenCurrent();
  const Bytes image = C2Builder::Of4346Bytes(kTavcProduct, 0x0700).Build();
  ASSERT_TRUE(Update(image));
  EXPECT_EQ(Steps(cam->VendorRequests()),
            (std::vector<Step>{
                  // The loader program: held processor, 2048 + 1427 bytes each read back, run.
                  {0xA0, false, 0xE600, 1},
                  {0xA0, false, 0x0000, 2048},
                  {0xA0, true, 0x0000, 2048},
                  {0xA0, false, 0x0800, 1427},
                  {0xA0, true, 0x0800, 1427},
                  {0xA0, false, 0xE600, 1},
                  // The image: 4096 and 250 bytes, then read back.
                  {0xA9, false, 0, 4096},
                  {0xA9, false, 4096, 250},
                  {0xA9, true, 0, 4096},
                  {0xA9, true, 4096, 250},
                  // Restart with the image's own records.
                  {0xA0, false, 0xE600, 1},
                  {0xA0, false, 0, 1000},
                  {0xA0, false, 1000, 1000},
                  {0xA0, false, 2000, 1000},
                  {0xA0, false, 3000, 1000},
                  {0xA0, false, 4000, 313},
                  {0xA0, false, 0xE600, 1},
            }));
  const auto cpu = cam->VendorRequests(0xA0);
  EXPECT_EQ(cpu.front().data, Bytes{1});
  EXPECT_EQ(cpu[5].data, Bytes{0});
  EXPECT_EQ(cpu.back().data, Bytes{0});
  EXPECT_EQ(cam->ReadEeprom(sim::SimCamera::kBootEepromSelect, 0, image.size()), image);
  // The new firmware re-enumerated with the version it carries.
  EXPECT_EQ(cam->Reenumerations(), 1);
  EXPECT_EQ(cam->FirmwareVersion(), 7);
  EXPECT_FALSE(cam->EepromLoaderRunning());
}

TEST_F(UpdateFw, ReadBackMismatchIsWrittenAgainAndSucceedsOnTheSecondAttempt) {
  OpenCurrent();
  const Bytes image = C2Builder::Of4346Bytes().Build();
  cam->CorruptNextWrites(0xA9, 1);
  ASSERT_TRUE(Update(image));
  EXPECT_EQ(cam->VendorRequests(0xA9).size(), 8u);  // two attempts of two writes and two reads
  EXPECT_EQ(cam->ReadEeprom(sim::SimCamera::kBootEepromSelect, 0, image.size()), image);
}

TEST_F(UpdateFw, ThreeMismatchesFailButTheControllerStillRestartsWithTheImage) {
  OpenCurrent();
  const Bytes image = C2Builder::Of4346Bytes().Build();
  cam->CorruptNextWrites(0xA9, 6);  // every write of three attempts
  EXPECT_FALSE(Update(image));
  EXPECT_EQ(cam->VendorRequests(0xA9).size(), 12u);
  const auto ram = cam->VendorRequests(0xA0);
  EXPECT_EQ(ram.back().value, 0xE600);
  EXPECT_EQ(ram.back().data, Bytes{0});
  EXPECT_EQ(ram[ram.size() - 2].data, Pattern(313, 99));
}

TEST_F(UpdateFw, UnsoundImagesOrLoadersTouchNothing) {
  OpenCurrent();
  Bytes noEnd = C2Builder::Of4346Bytes().Build();
  noEnd.resize(noEnd.size() - 5);
  const Bytes sound = C2Builder::Of4346Bytes().Build();
  EXPECT_FALSE(Update(noEnd));
  EXPECT_FALSE(Update({}));
  EXPECT_FALSE(Update(Bytes(70000, 0xC2)));
  EXPECT_FALSE(Update(sound, Loader(20000)));
  EXPECT_TRUE(cam->Requests().empty());
  // Without a loader program in the firmware folder nothing is sent either.
  EXPECT_FALSE(camera->UpdateFW(sound.data(), static_cast<long>(sound.size())));
  EXPECT_TRUE(cam->Requests().empty());
}

TEST_F(UpdateFw, LoaderThatDoesNotArriveWholeNeverRuns) {
  OpenCurrent();
  cam->CorruptNextWrites(0xA0, 2);  // the hold, then the first loader piece
  EXPECT_FALSE(Update(C2Builder::Of4346Bytes().Build()));
  EXPECT_TRUE(cam->VendorRequests(0xA9).empty());
}

TEST_F(UpdateFw, OpenCameraRenewsVersionTwoFirmwareAndReopensTheCamera) {
  auto old = AttachTavc(2);
  InstallImages(C2Builder::Of4346Bytes(kTavcProduct, 0x0300).Build());
  CCameraTAVC tavc;
  ASSERT_TRUE(tavc.OpenCamera(1));
  EXPECT_TRUE(tavc.opened);
  EXPECT_EQ(tavc.GetFWVer(), 3);
  EXPECT_EQ(old->FirmwareVersion(), 3);
  EXPECT_GE(old->Reenumerations(), 1);
  // The version is asked before and after; the reopened camera works.
  EXPECT_EQ(old->VendorRequests(0xAD).size(), 2u);
  old->ClearRequests();
  EXPECT_TRUE(tavc.WriteCameraRegister(0x3012, 100));
  EXPECT_EQ(old->Register(0x3012), 100);
  // Opening again does nothing more.
  CCameraTAVC again;
  tavc.CloseCamera();
  ASSERT_TRUE(again.OpenCamera(1));
  EXPECT_TRUE(old->VendorRequests(0xA0).empty());
}

TEST_F(UpdateFw, ReloadReopensTheSameCameraWhenTwoAreAttached) {
  auto current = AttachTavc(3);
  auto old = AttachTavc(2);
  InstallImages(C2Builder::Of4346Bytes(kTavcProduct, 0x0300).Build());
  CCameraTAVC tavc;
  ASSERT_TRUE(tavc.OpenCamera(2));
  EXPECT_EQ(tavc.GetFWVer(), 3);
  current->ClearRequests();
  old->ClearRequests();
  EXPECT_TRUE(tavc.SendCMD(0xAA));
  EXPECT_EQ(old->VendorRequests(0xAA).size(), 1u);
  EXPECT_TRUE(current->VendorRequests().empty());
}

TEST_F(UpdateFw, MissingOrUnsoundImagesLeaveTheCameraOpenWithItsFirmware) {
  struct Case {
    const char* what;
    std::function<void(const std::string& dir)> prepare;
    const char* message;
  };
  const Case cases[] = {
      {"no image", [](const std::string&) {}, "okc-tavc.iic was not found (firmware folders searched: /"},
      {"image is a directory",
       [](const std::string& dir) { std::filesystem::create_directory(dir + "/" + core::kTavcFirmwareFile); },
       "is not a regular file"},
      {"image for another camera",
       [](const std::string& dir) {
         WriteFile(dir + "/" + core::kTavcFirmwareFile, C2Builder::Of4346Bytes(0x6101).Build());
       },
       "is for device 6a5d:6101"},
      {"truncated image",
       [](const std::string& dir) {
         Bytes b = C2Builder::Of4346Bytes().Build();
         b.resize(3000);
         WriteFile(dir + "/" + core::kTavcFirmwareFile, b);
       },
       "runs past the end of the image"},
      {"no loader",
       [](const std::string& dir) { WriteFile(dir + "/" + core::kTavcFirmwareFile, C2Builder::Of4346Bytes().Build()); },
       "okc-eeprom-loader.bin was not found"},
  };
  for (const Case& c : cases) {
    const std::string dir = MakeTempDir();
    okc::platform::SetFirmwareFolder(dir);
    c.prepare(dir);
    auto cam = AttachTavc(2);
    CCameraTAVC tavc;
    testing::internal::CaptureStderr();
    EXPECT_TRUE(tavc.OpenCamera(1)) << c.what;
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find(c.message), std::string::npos) << c.what << ": " << err;
    EXPECT_NE(err.find("opens with the firmware it has"), std::string::npos) << c.what;
    EXPECT_EQ(tavc.GetFWVer(), 2) << c.what;
    EXPECT_TRUE(cam->VendorRequests(0xA0).empty()) << c.what;
    EXPECT_EQ(cam->Reenumerations(), 0) << c.what;
    tavc.CloseCamera();
    bus->Detach(cam);
  }
}

TEST_F(UpdateFw, UnplugDuringTheWriteFailsClearlyAndTheCameraReopensWhenPluggedAgain) {
  auto cam = AttachTavc(2);
  InstallImages(C2Builder::Of4346Bytes(kTavcProduct, 0x0300).Build());
  cam->UnplugAtRequest(0xA9, 2);
  CCameraTAVC tavc;
  testing::internal::CaptureStderr();
  EXPECT_FALSE(tavc.OpenCamera(1));
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("did not come back on the bus"), std::string::npos) << err;
  EXPECT_FALSE(tavc.opened);
  EXPECT_TRUE(cam->Unplugged());

  // Plugged in again (still the old firmware): the same camera object opens it and renews it.
  auto again = AttachTavc(2);
  ASSERT_TRUE(tavc.OpenCamera(1));
  EXPECT_EQ(tavc.GetFWVer(), 3);
  EXPECT_EQ(again->FirmwareVersion(), 3);
}

TEST_F(UpdateFw, ExportedOpenRenewsFirmwareFromTheFolderTheHostSet) {
  AttachTavc(2);
  const std::string dir = MakeTempDir();
  WriteFile(dir + "/" + core::kTavcFirmwareFile, C2Builder::Of4346Bytes(kTavcProduct, 0x0400).Build());
  WriteFile(dir + "/" + core::kEepromLoaderFile, Loader());
  okcSetFirmwareFolder(dir.c_str());
  ASSERT_EQ(getNumberOfConnectedCameras(), 1);
  ASSERT_TRUE(openCamera(0));
  EXPECT_EQ(bus->Cameras()[0]->FirmwareVersion(), 4);
  ASSERT_TRUE(initCamera());
}

}  // namespace
}  // namespace okc::test
