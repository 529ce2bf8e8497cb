// The libusb backend on emulated devices: listing and its order, opening,
// descriptors and strings, vendor requests in both directions, a stall and
// its clear-halt, port reset, re-enumeration, a busy device and denied access.
#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <vector>

#include "libusb/LibusbFixture.h"
#include "okccamera/CUsbDevice.h"
#include "okccamera/okccamera.h"

namespace okc::test {
namespace {

using sim::Model;

constexpr uint8_t kFirmwareVersionRequest = 0xAD;
constexpr uint8_t kFlashProgram = 0xC2;
constexpr uint8_t kFlashRead = 0xC3;
constexpr uint32_t kFlashPage = 256;

// The firmware answers its version request with 'V' and the version.
bool ReadFirmwareVersion(CUsbDevice& dev, uint8_t* version) {
  uint8_t answer[2] = {0xEE, 0xEE};
  const bool ok = dev.VendorRequest(kFirmwareVersionRequest, 0, 2, answer, true);
  *version = answer[0] == 'V' ? answer[1] : 0xEE;
  return ok;
}

std::u16string Wide(const std::string& text) { return {text.begin(), text.end()}; }

// The flash address of a C2/C3 request is its index in 256-byte pages; the
// request's address argument carries the index in its high half.
uint32_t FlashRequestAddress(uint32_t page) { return page << 16; }

// Takes root's file-permission overrides from the calling thread only, so a
// test run as root meets a node's permission bits as any user does.
class WithoutFileOverrides {
 public:
  WithoutFileOverrides() {
    header_.version = _LINUX_CAPABILITY_VERSION_3;
    header_.pid = 0;
    if (syscall(SYS_capget, &header_, saved_) != 0) return;
    __user_cap_data_struct reduced[2] = {saved_[0], saved_[1]};
    for (int cap : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH, CAP_FOWNER})
      reduced[cap / 32].effective &= ~(1u << (cap % 32));
    active_ = syscall(SYS_capset, &header_, reduced) == 0;
  }
  ~WithoutFileOverrides() {
    if (active_) syscall(SYS_capset, &header_, saved_);
  }
  WithoutFileOverrides(const WithoutFileOverrides&) = delete;
  WithoutFileOverrides& operator=(const WithoutFileOverrides&) = delete;

 private:
  __user_cap_header_struct header_{};
  __user_cap_data_struct saved_[2]{};
  bool active_ = false;
};

TEST_F(LibusbTest, ListsTheCamerasOfAClassByBusThenPort) {
  // Plugged out of order, with device numbers that disagree with the port order.
  sim::SimDeviceOptions tavc;
  tavc.model = Model::TAVC;
  tavc.serialNumber = "third";
  usbfs->Plug(tavc, 2, "1", 3);
  tavc.serialNumber = "second";
  usbfs->Plug(tavc, 1, "4", 2);
  tavc.serialNumber = "first";
  usbfs->Plug(tavc, 1, "2", 9);
  sim::SimDeviceOptions foreign = tavc;  // another maker's device with the camera's product ID
  foreign.vendorId = 0x1234;
  foreign.serialNumber = "foreign";
  usbfs->Plug(foreign, 1, "3", 4);
  Plug(Model::TAVM, 1, "5", 5);
  usbfs->AddHub(1, "1", 1);
  tavc.serialNumber = "behind the hub";
  usbfs->Plug(tavc, 1, "1.3", 7);
  UseLibusb();

  EXPECT_EQ(driver->CountDevices(ClassOf(Model::TAVC)), 4);
  EXPECT_EQ(driver->CountDevices(ClassOf(Model::TAVM)), 1);
  EXPECT_EQ(driver->CountDevices(ClassOf(Model::RENM)), 0);
  const struct {
    const char* serial;
    const char* path;
    uint8_t address;
  } expected[] = {{"behind the hub", "1-1.3", 7}, {"first", "1-2", 9}, {"second", "1-4", 2}, {"third", "2-1", 3}};
  CUsbDevice dev(nullptr, ClassOf(Model::TAVC), false);
  for (uint8_t n = 0; n < 4; ++n) {
    ASSERT_TRUE(dev.OpenDevice(n)) << "device " << int{n};
    EXPECT_EQ(dev.serialNumber, Wide(expected[n].serial)) << "device " << int{n};
    EXPECT_EQ(dev.devicePath, expected[n].path) << "device " << int{n};
    EXPECT_EQ(dev.usbAddress, expected[n].address) << "device " << int{n};
  }
  EXPECT_FALSE(dev.OpenDevice(4));
}

TEST_F(LibusbTest, OpensWithTheCamerasDescriptorsAndStrings) {
  struct Case {
    Model model;
    bool superSpeed;
  };
  for (const Case& c : {Case{Model::TAVC, false}, Case{Model::TAVM_U, true}}) {
    SCOPED_TRACE(sim::ShortNameOf(c.model));
    auto cam = Plug(c.model, 1, c.superSpeed ? "2" : "1", c.superSpeed ? 3 : 2);
    UseLibusb();
    CUsbDevice dev(nullptr, ClassOf(c.model), true);
    ASSERT_TRUE(dev.IsOpen());
    const std::vector<uint8_t> device = cam->Descriptor(1, 0);
    EXPECT_EQ(dev.vendorId, 0x6A5D);
    EXPECT_EQ(dev.productId, sim::ProductIdOf(c.model));
    EXPECT_EQ(dev.bcdUsb, device[2] | device[3] << 8);
    EXPECT_EQ(dev.bcdDevice, device[12] | device[13] << 8);
    EXPECT_EQ(dev.manufacturer, Wide(cam->Options().manufacturer));
    EXPECT_EQ(dev.product, Wide(cam->Options().product));
    EXPECT_EQ(dev.serialNumber, Wide(cam->Options().serialNumber));
    EXPECT_EQ(dev.deviceName, usbfs->DeviceNode(cam));
    EXPECT_EQ(dev.usb3Capability != nullptr, c.superSpeed);
    // The bulk IN endpoint of the configuration descriptor, as libusb parsed it.
    ASSERT_NE(dev.bulkInEndpoint, nullptr);
    const std::vector<uint8_t> config = cam->Descriptor(2, 0);
    bool listed = false;
    for (size_t p = 0; p + 7 <= config.size() && config[p] > 0; p += config[p])
      listed |= config[p + 1] == 5 && config[p + 2] == dev.bulkInEndpoint->address;
    EXPECT_TRUE(listed) << "bulk IN endpoint " << int{dev.bulkInEndpoint->address} << " not in the descriptor";
    dev.CloseDevice();
    usbfs->Unplug(cam);
    driver.reset();
    usb::UseDriver(nullptr);
  }
}

TEST_F(LibusbTest, VendorRequestsCarryTheirDataBothWays) {
  auto cam = PlugAndOpenDevice();
  cam->ClearRequests();

  // IN: a one-byte answer and a long one.
  uint8_t version = 0;
  ASSERT_TRUE(ReadFirmwareVersion(*dev, &version));
  EXPECT_EQ(version, cam->FirmwareVersion());
  std::vector<uint8_t> pattern(2048);
  for (size_t i = 0; i < pattern.size(); ++i) pattern[i] = static_cast<uint8_t>(i * 7 + 3);
  cam->WriteFlash(16 * kFlashPage, pattern);
  std::vector<uint8_t> read(pattern.size());
  ASSERT_TRUE(dev->VendorRequest(kFlashRead, FlashRequestAddress(16), static_cast<uint32_t>(read.size()), read.data(),
                                true));
  EXPECT_EQ(read, pattern);

  // OUT: the data stage reaches the device whole (programming erased flash stores it).
  cam->WriteFlash(64 * kFlashPage, std::vector<uint8_t>(2048, 0xFF));
  std::vector<uint8_t> written(2048);
  for (size_t i = 0; i < written.size(); ++i) written[i] = static_cast<uint8_t>(255 - i % 251);
  ASSERT_TRUE(dev->VendorRequest(kFlashProgram, FlashRequestAddress(64), static_cast<uint32_t>(written.size()),
                                written.data(), false));
  EXPECT_EQ(cam->ReadFlash(64 * kFlashPage, written.size()), written);

  const auto log = cam->VendorRequests();
  ASSERT_EQ(log.size(), 3u);
  EXPECT_TRUE(log[0].in);
  EXPECT_EQ(log[1].request, kFlashRead);
  EXPECT_EQ(log[1].index, 16);
  EXPECT_EQ(log[1].data.size(), pattern.size());
  EXPECT_FALSE(log[2].in);
  EXPECT_EQ(log[2].index, 64);
  EXPECT_EQ(log[2].data, written);
  const UsbfsCounts counts = usbfs->Counts();
  EXPECT_GE(counts.controlUrbs, 3);
  EXPECT_EQ(counts.unknownRequests, 0);
}

TEST_F(LibusbTest, AStalledRequestFailsAndClearHaltReachesTheEndpoint) {
  auto cam = PlugAndOpenDevice();
  cam->SetStallRequest(kFirmwareVersionRequest);
  uint8_t version = 0;
  EXPECT_FALSE(ReadFirmwareVersion(*dev, &version));
  EXPECT_EQ(version, 0xEE) << "a stalled IN request wrote data";
  ASSERT_NE(dev->bulkInEndpoint, nullptr);
  const int resetsBefore = cam->PipeResets();
  EXPECT_TRUE(dev->bulkInEndpoint->ResetPipe());
  EXPECT_EQ(cam->PipeResets(), resetsBefore + 1);
  EXPECT_EQ(usbfs->Counts().clearHalts, 1);
  // The stall is over: the same request is answered again.
  cam->SetStallRequest(std::nullopt);
  EXPECT_TRUE(ReadFirmwareVersion(*dev, &version));
  EXPECT_EQ(version, cam->FirmwareVersion());
}

TEST_F(LibusbTest, AnUnansweredRequestIsWithdrawnAndTheNextOneIsAnswered) {
  auto cam = PlugAndOpenDevice();
  dev->controlEndpoint->timeoutMs = 500;
  cam->SetControlNoAnswer(true);
  uint8_t version = 0;
  EXPECT_FALSE(ReadFirmwareVersion(*dev, &version));
  const UsbfsCounts counts = usbfs->Counts();
  EXPECT_GE(counts.discarded, 1) << "the request was not withdrawn from the device";
  EXPECT_EQ(counts.controlReaped, counts.controlUrbs) << "a control URB stayed in flight";
  cam->SetControlNoAnswer(false);
  EXPECT_TRUE(ReadFirmwareVersion(*dev, &version));
  EXPECT_EQ(version, cam->FirmwareVersion());
}

TEST_F(LibusbTest, PortResetKeepsTheDeviceUsable) {
  auto cam = PlugAndOpenDevice();
  EXPECT_TRUE(dev->ResetPort());
  EXPECT_EQ(cam->PortResets(), 1);
  EXPECT_EQ(usbfs->Counts().resets, 1);
  uint8_t version = 0;
  EXPECT_TRUE(ReadFirmwareVersion(*dev, &version)) << "interface not claimed again";
  EXPECT_EQ(version, cam->FirmwareVersion());
}

TEST_F(LibusbTest, AReenumeratedCameraIsFoundUnderItsNewAddress) {
  auto cam = Plug(Model::TAVC, 1, "3", 4);
  UseLibusb();
  CUsbDevice dev(nullptr, ClassOf(Model::TAVC), true);
  ASSERT_TRUE(dev.IsOpen());
  EXPECT_EQ(dev.usbAddress, 4);

  usbfs->Reenumerate(cam, 11);
  // The old handle reaches nothing any more.
  uint8_t version = 0;
  EXPECT_FALSE(ReadFirmwareVersion(dev, &version));
  // libusb follows the remove and add events; the camera is found again at its port.
  ASSERT_TRUE(driver->WaitForDevices(ClassOf(Model::TAVC), 1, 10000));
  const auto moved = [&] {
    return dev.OpenDevice(0) && dev.usbAddress == 11;
  };
  for (int tries = 0; tries < 100 && !moved(); ++tries) usleep(20000);
  EXPECT_EQ(dev.usbAddress, 11);
  EXPECT_EQ(dev.devicePath, "1-3");
  EXPECT_TRUE(ReadFirmwareVersion(dev, &version));
  EXPECT_EQ(version, cam->FirmwareVersion());
}

TEST_F(LibusbTest, TheUsbfsMemoryLimitIsNamedWhenSubmissionsRunOutOfMemory) {
  auto cam = Plug(Model::TAVC);
  usbfs->SetUsbfsMemoryLimit(16);
  UseLibusb();
  CUsbDevice dev(nullptr, ClassOf(Model::TAVC), true);
  ASSERT_TRUE(dev.IsOpen());
  ASSERT_NE(dev.bulkInEndpoint, nullptr);
  usbfs->RefuseBulkSubmissions(ENOMEM);
  std::vector<uint8_t> buffer(16384);
  uint32_t length = static_cast<uint32_t>(buffer.size());
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(dev.bulkInEndpoint->Transfer(buffer.data(), length));
  const std::string message = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(dev.bulkInEndpoint->lastError.load(), usb::kErrNotEnoughMemory);
  EXPECT_NE(message.find("usbfs memory limit is reached (usbfs_memory_mb = 16 MB)"), std::string::npos) << message;
  EXPECT_EQ(usbfs->Counts().bulkUrbs, 0);
  // Memory again: the endpoint works as before (a chunk's end ends the transfer short).
  usbfs->RefuseBulkSubmissions(0);
  std::vector<uint8_t> chunk(1000);
  for (size_t i = 0; i < chunk.size(); ++i) chunk[i] = static_cast<uint8_t>(i % 253);
  cam->PushBulkData(chunk);
  length = static_cast<uint32_t>(buffer.size());
  ASSERT_TRUE(dev.bulkInEndpoint->Transfer(buffer.data(), length));
  ASSERT_EQ(length, chunk.size());
  EXPECT_TRUE(std::equal(chunk.begin(), chunk.end(), buffer.begin()));
}

TEST_F(LibusbTest, ABusyCameraStaysListedButDoesNotOpen) {
  sim::SimDeviceOptions options;
  options.busy = true;
  usbfs->Plug(options, 1, "1", 2);
  UseLibusb();
  ASSERT_EQ(driver->CountDevices(ClassOf(Model::TAVC)), 1);
  uint32_t error = 0;
  EXPECT_EQ(driver->Open(ClassOf(Model::TAVC), 0, &error), nullptr);
  EXPECT_EQ(error, usb::kErrBusy);
  EXPECT_EQ(usbfs->Counts().claims, 1);
}

TEST_F(LibusbTest, NoPermissionGivesTheUdevRulesMessage) {
  auto cam = Plug(Model::TAVC);
  usbfs->RestrictAccess(cam);
  UseLibusb();
  WithoutFileOverrides asAUser;
  ASSERT_EQ(driver->CountDevices(ClassOf(Model::TAVC)), 1);
  uint32_t error = 0;
  EXPECT_EQ(driver->Open(ClassOf(Model::TAVC), 0, &error), nullptr);
  EXPECT_EQ(error, usb::kErrAccessDenied);
  ::testing::internal::CaptureStderr();
  const bool opened = openCamera(0);
  const std::string message = ::testing::internal::GetCapturedStderr();
  EXPECT_FALSE(opened);
  EXPECT_NE(message.find("permission denied opening"), std::string::npos) << message;
  EXPECT_NE(message.find("60-okccamera.rules"), std::string::npos) << message;
  EXPECT_EQ(usbfs->Counts().opens, 0) << "the node opened despite its permissions";
}

}  // namespace
}  // namespace okc::test
