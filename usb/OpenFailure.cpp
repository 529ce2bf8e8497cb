#include "usb/OpenFailure.h"

#include <cstdio>

#include "okccamera/UsbDriver.h"
#include "platform/MessageBox.h"

namespace okc::usb {

void ReportOpenFailure(const char* modelName, int ordinal, uint32_t error) {
  char camera[96];
  std::snprintf(camera, sizeof camera, "%s number %d", modelName && *modelName ? modelName : "camera", ordinal);
  char text[320];
  switch (error) {
    case kErrBusy:
      std::snprintf(text, sizeof text,
                    "%s is busy: another program has claimed it; close that program or choose another camera",
                    camera);
      break;
    case kErrAccessDenied:
      std::snprintf(text, sizeof text,
                    "permission denied opening %s; install udev/60-okccamera.rules into /etc/udev/rules.d/ "
                    "and replug the camera",
                    camera);
      break;
    case kErrNoDevice:
    case kErrNoMoreItems:
      std::snprintf(text, sizeof text, "%s is gone: it is no longer attached; count the cameras again", camera);
      break;
    default:
      std::snprintf(text, sizeof text, "%s cannot be opened (error %u); replug it and try again", camera, error);
      break;
  }
  okc::platform::ShowMessageBox(text, "okccamera");
}

}  // namespace okc::usb
