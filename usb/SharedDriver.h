// The chosen backend as a shared owner, for objects that keep using it after
// another backend has been chosen (a CUsbDevice keeps the one it was built with).
#pragma once

#include <memory>

#include "okccamera/UsbDriver.h"

namespace okc::usb {

std::shared_ptr<UsbDriver> SharedActiveDriver();

}  // namespace okc::usb
