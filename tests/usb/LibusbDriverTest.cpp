// The libusb backend on a machine without cameras: nothing is found, nothing
// opens and nothing fails on the way.
#include <gtest/gtest.h>

#include "okccamera/CUsbDevice.h"
#include "okccamera/UsbDriver.h"
#include "usb/LibusbDriver.h"

namespace {

// A product ID of the camera vendor that no camera carries.
okc::usb::UsbDeviceClass AbsentClass() {
  okc::usb::UsbDeviceClass deviceClass;
  deviceClass.productId = 0xFFFF;
  return deviceClass;
}

}  // namespace

TEST(LibusbDriver, ReportsNoDevicesAndOpensNone) {
  okc::usb::LibusbDriver driver;
  EXPECT_EQ(driver.CountDevices(AbsentClass()), 0);
  uint32_t error = 0;
  EXPECT_EQ(driver.Open(AbsentClass(), 0, &error), nullptr);
  EXPECT_EQ(error, okc::usb::kErrNoMoreItems);
  EXPECT_EQ(driver.Open(AbsentClass(), -1, nullptr), nullptr);
}

TEST(LibusbDriver, IsTheDefaultBackendOfADevice) {
  okc::usb::UseDriver(nullptr);
  CUsbDevice device(nullptr, AbsentClass(), true);
  EXPECT_FALSE(device.IsOpen());
  EXPECT_EQ(device.CountDevices(), 0);
  EXPECT_FALSE(device.OpenDevice(0));
  EXPECT_EQ(device.lastError, okc::usb::kErrNoMoreItems);
  EXPECT_FALSE(device.VendorRequest(0xA0, 0, 0, nullptr, false));
  EXPECT_EQ(device.LoadRamImage(nullptr, 0, 0xA0), FX3_FW_INVALID_SIGNATURE);
}
