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

  std::shared_ptr<okc::sim::SimBus> bus;
};
