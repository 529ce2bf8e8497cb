// Opening a USB 3 camera whose controller waits in its boot loader: the boot
// image from the firmware folder goes into its RAM and the camera is reopened
// running it; without an image the open fails with one message.
#include <gtest/gtest.h>

#include <memory>

#include "core/FirmwareImage.h"
#include "okccamera/CCameraTAVM_U.h"
#include "okccamera/Clock.h"
#include "support/SimEnvironment.h"
#include "tests/firmware/ImageBuilder.h"

namespace okc::test {
namespace {

class Usb3Boot : public SimEnvironment {
 protected:
  void SetUp() override {
    SimEnvironment::SetUp();
    platform::UseClock(std::make_shared<platform::FastClock>(1000.0));  // the 1 s settle after the load
    sim::SimDeviceOptions o;
    o.model = sim::Model::TAVM_U;
    o.bootLoaderMode = true;
    cam = bus->Attach(o);
    camera = std::make_unique<CCameraTAVM_U>();
  }
  void TearDown() override {
    camera.reset();
    SimEnvironment::TearDown();
  }
  std::shared_ptr<sim::SimCamera> cam;
  std::unique_ptr<CCameraTAVM_U> camera;
};

TEST_F(Usb3Boot, BootImageIsLoadedIntoRamAndTheCameraReopensRunningIt) {
  Fx3Builder image;
  image.sections.push_back({0x40000000, Pattern(4096, 3)});
  image.sections.push_back({0x40003000, Pattern(512, 9)});
  const Bytes bytes = image.Build();
  WriteFile(FirmwareDir() + "/" + core::kUsb3BootFile, bytes);

  ASSERT_TRUE(camera->OpenCamera(1));
  EXPECT_FALSE(cam->InBootLoaderMode());
  EXPECT_EQ(cam->ReadRam(0x40000000, 4096), Pattern(4096, 3));
  EXPECT_EQ(cam->ReadRam(0x40003000, 512), Pattern(512, 9));
  ASSERT_TRUE(cam->EntryPoint().has_value());
  EXPECT_EQ(*cam->EntryPoint(), image.entry);
  // The reopened camera answers as a camera.
  EXPECT_TRUE(camera->InitCamera());
  ASSERT_TRUE(camera->SetResolution(320, 240, 1, IMAGE_8BIT));
  EXPECT_EQ(cam->Register(0x306E), 0xF200);
}

TEST_F(Usb3Boot, MissingOrUnsoundBootImageFailsTheOpenWithoutTouchingRam) {
  EXPECT_FALSE(camera->OpenCamera(1)) << "no image in the firmware folder";
  Bytes broken = Fx3Builder::OfSize(1024);
  broken.back() ^= 0xFF;  // checksum
  WriteFile(FirmwareDir() + "/" + core::kUsb3BootFile, broken);
  EXPECT_FALSE(camera->OpenCamera(1)) << "an image whose checksum does not add up";
  EXPECT_TRUE(cam->InBootLoaderMode());
  for (const auto& r : cam->VendorRequests(0xA0)) EXPECT_TRUE(r.in || r.data.empty()) << "nothing written to RAM";
  EXPECT_FALSE(camera->InitCamera());
}

}  // namespace
}  // namespace okc::test
