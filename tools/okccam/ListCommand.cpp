// okccam list: the attached cameras, then the USB identity read from each device.
#include <cstdio>
#include <string>

#include "Commands.h"
#include "core/ModelInfo.h"
#include "okccamera/CUsbDevice.h"
#include "okccamera/okccamera.h"

namespace okccam {

namespace {

std::string Narrow(const std::u16string& s) {
  std::string out;
  for (char16_t c : s) out += (c < 0x80) ? static_cast<char>(c) : '?';
  return out;
}

void PrintDevices() {
  const okc::core::ModelInfo* models = okc::core::AllModels();
  for (int m = 0; m < okc::core::kModelCount; ++m) {
    okc::usb::UsbDeviceClass deviceClass;
    deviceClass.productId = models[m].productId;
    CUsbDevice device(nullptr, deviceClass, false);
    const int count = device.CountDevices();
    for (int i = 0; i < count; ++i) {
      if (!device.OpenDevice(static_cast<uint8_t>(i))) continue;
      std::printf("  %04x:%04x  USB %x.%02x  %-10s  manufacturer \"%s\"  product \"%s\"  serial \"%s\"\n",
                  device.vendorId, device.productId, device.bcdUsb >> 8, device.bcdUsb & 0xFF,
                  device.superSpeed ? "SuperSpeed" : device.highSpeed ? "high speed" : "full speed",
                  Narrow(device.manufacturer).c_str(), Narrow(device.product).c_str(),
                  Narrow(device.serialNumber).c_str());
    }
  }
}

}  // namespace

int RunList(int argc, char** argv) {
  Options options;
  std::string error;
  bool helped = false;
  if (!HelpOrParse(options, argc, argv, {"sim", "firmware-dir"}, {}, &error, &helped)) return Fail(error);
  if (helped) return 0;
  if (!SelectCameras(options, &error)) return Fail(error);
  const int count = getNumberOfConnectedCameras();
  if (count == 0) return Fail("no camera found (for simulated cameras use --sim TAVC)");
  for (int i = 0; i < count; ++i) std::printf("%d  %s\n", i, getCameraModel(i));
  std::printf("USB devices:\n");
  PrintDevices();
  return 0;
}

}  // namespace okccam
