// The libusb backend on a machine without cameras: nothing is found, nothing
// opens and nothing fails on the way.
#include <gtest/gtest.h>

#include "okccamera/CUsbDevice.h"
#include "okccamera/UsbDriver.h"

TEST(LibusbDriver, WithNoCameraFindsAndOpensNothingAndIsTheDefaultBackend) {
  okc::usb::UseDriver(nullptr);
  okc::usb::UsbDeviceClass absent;
  absent.productId = 0xFFFF;  // a product ID of the camera vendor that no camera carries
  CUsbDevice device(nullptr, absent, true);
  EXPECT_FALSE(device.IsOpen());
  EXPECT_EQ(device.CountDevices(), 0);
  EXPECT_FALSE(device.OpenDevice(0));
  EXPECT_EQ(device.lastError, okc::usb::kErrNoMoreItems);
  EXPECT_FALSE(device.VendorRequest(0xA0, 0, 0, nullptr, false));
  // Waiting for a device that never comes ends at its time-out.
  EXPECT_TRUE(okc::usb::ActiveDriver().WaitForDevices(absent, 0, 0));
  EXPECT_FALSE(okc::usb::ActiveDriver().WaitForDevices(absent, 1, 150));
}
