// The line a user reads when the camera they chose cannot be opened, and which
// failures keep a device's place in its class.
#include <gtest/gtest.h>

#include <string>

#include "okccamera/UsbDriver.h"
#include "usb/OpenFailure.h"

namespace {

struct Cause {
  uint32_t error;
  const char* says;
  bool keepsPlace;
};

TEST(OpenFailure, EachCauseIsNamedOnOneLine) {
  using namespace okc::usb;
  const Cause causes[] = {
      {kErrBusy, "okccamera: YRA OKCTAVC number 2 is busy: another program has claimed it", true},
      {kErrAccessDenied, "okccamera: permission denied opening YRA OKCTAVC number 2; install udev/60-okccamera.rules",
       true},
      {kErrNoDevice, "okccamera: YRA OKCTAVC number 2 is gone", false},
      {kErrNoMoreItems, "okccamera: YRA OKCTAVC number 2 is gone", false},
      {kErrGenFailure, "okccamera: YRA OKCTAVC number 2 cannot be opened (error 31)", true},
  };
  for (const Cause& c : causes) {
    testing::internal::CaptureStderr();
    ReportOpenFailure("YRA OKCTAVC", 2, c.error);
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(said.rfind(c.says, 0), 0u) << said;
    EXPECT_EQ(said.find('\n'), said.size() - 1) << said;
    EXPECT_EQ(KeepsItsPlace(c.error), c.keepsPlace) << c.error;
  }
}

}  // namespace
