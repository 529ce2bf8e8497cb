// Tests of the libusb backend against simulated cameras that umockdev presents
// as USB devices: the library uses its real libusb driver, libusb talks usbfs
// to the emulated device nodes, and the emulation hands every request to the
// simulated camera. Each test gets a fresh testbed and a fresh libusb context.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "libusb/EmulatedUsbfs.h"
#include "okccamera/CUsbDevice.h"
#include "okccamera/UsbDriver.h"
#include "capture/CaptureFixture.h"
#include "usb/LibusbDriver.h"

namespace okc::test {

class LibusbTest : public CaptureTest {
 protected:
  void SetUp() override {
    CaptureTest::SetUp();
    if (!EmulatedUsbfs::Available()) GTEST_SKIP() << "needs umockdev-wrapper (umockdev's preload library)";
    usbfs = std::make_unique<EmulatedUsbfs>();
  }
  void TearDown() override {
    dev.reset();
    CaptureTest::TearDown();  // closes the camera and goes back to the default backend
    driver.reset();
    usbfs.reset();
  }

  // Plugs a camera of `model` into the emulated bus.
  std::shared_ptr<sim::SimCamera> Plug(sim::Model model, int bus = 1, const std::string& ports = "1",
                                       int address = 2) {
    sim::SimDeviceOptions options;
    options.model = model;
    return usbfs->Plug(options, bus, ports, address);
  }

  // From now on the library reaches cameras through a new libusb backend (which
  // lists the devices plugged so far when it starts).
  void UseLibusb() {
    driver = std::make_shared<usb::LibusbDriver>();
    usb::UseDriver(driver);
  }

  // Plugs a camera of `model` and opens it as `dev` through a new libusb backend.
  std::shared_ptr<sim::SimCamera> PlugAndOpenDevice(sim::Model model = sim::Model::TAVC) {
    auto cam = Plug(model);
    UseLibusb();
    dev = std::make_unique<CUsbDevice>(nullptr, ClassOf(model), true);
    EXPECT_TRUE(dev->IsOpen());
    return cam;
  }

  // Plugs a camera of `model`, then opens it through the exported functions over
  // libusb and sets a raw 8-bit format (as CaptureTest::OpenTavc does on the simulated bus).
  void OpenOverLibusb(int width, int height, sim::Model model = sim::Model::TAVC) {
    sim = Plug(model);
    sim->SetSceneNoise(false);
    UseLibusb();
    OpenAndFormat(width, height);
  }

  // Opens camera 0 through the exported functions and sets a raw 8-bit format.
  void OpenAndFormat(int width, int height) {
    okc::platform::UseClock(std::make_shared<okc::platform::FastClock>(1000.0));
    ASSERT_TRUE(openCamera(0));
    ASSERT_TRUE(initCamera());
    ASSERT_TRUE(SetMisc(false, false));
    setValue(CTRL_EXPOSURE, 20000, false);
    ASSERT_TRUE(setImageFormat(width, height, 1, IMGTYPE_RAW8));
    okc::platform::UseClock(nullptr);
  }

  static usb::UsbDeviceClass ClassOf(sim::Model model) {
    usb::UsbDeviceClass deviceClass;
    deviceClass.productId = sim::ProductIdOf(model);
    return deviceClass;
  }

  std::unique_ptr<EmulatedUsbfs> usbfs;
  std::shared_ptr<usb::LibusbDriver> driver;
  std::unique_ptr<CUsbDevice> dev;
};

}  // namespace okc::test
