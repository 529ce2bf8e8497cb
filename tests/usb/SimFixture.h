// Tests of the transport against the simulated cameras: each test gets a
// fresh simulated bus as the USB backend and goes back to libusb afterwards.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "okccamera/CUsbDevice.h"
#include "okccamera/SimCameras.h"
#include "okccamera/UsbDriver.h"

class SimBusTest : public ::testing::Test {
 protected:
  void SetUp() override {
    bus = okc::sim::CreateSimBus();
    okc::usb::UseDriver(bus);
  }
  void TearDown() override { okc::usb::UseDriver(nullptr); }

  static okc::usb::UsbDeviceClass ClassOf(okc::sim::Model model) {
    okc::usb::UsbDeviceClass deviceClass;
    deviceClass.productId = okc::sim::ProductIdOf(model);
    return deviceClass;
  }

  // Attaches a camera, opens it as `device` and forgets the requests of the opening.
  std::shared_ptr<okc::sim::SimCamera> AttachOpened(okc::sim::Model model, bool bootLoader = false) {
    okc::sim::SimDeviceOptions options;
    options.model = model;
    options.bootLoaderMode = bootLoader;
    auto cam = bus->Attach(options);
    device = std::make_unique<CUsbDevice>(nullptr, ClassOf(model), true);
    EXPECT_TRUE(device->IsOpen());
    cam->ClearRequests();
    return cam;
  }

  std::shared_ptr<okc::sim::SimBus> bus;
  std::unique_ptr<CUsbDevice> device;
};
