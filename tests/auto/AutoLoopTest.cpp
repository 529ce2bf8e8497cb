// The automatic loops closed on a simulated TAVC: the camera starts ten
// times too dark or too bright, or under a strong red cast, and the host
// streams frames while exposure, gain and balance settle. The camera's clock
// runs fast, so the 200 ms steps of the companion thread pass quickly.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <vector>

#include "capture/CaptureFixture.h"
#include "imaging/AutoExposure.h"
#include "imaging/WhiteBalance.h"

namespace {

constexpr int kW = 320;
constexpr int kH = 240;
constexpr uint64_t kStartExposureUs = 20000;
constexpr int kGain = 50;
const okc::imaging::RawFrameGeometry kGeometry{kW, kH, 1, false};

class AutoLoop : public okc::test::CaptureTest {
 protected:
  void Open(IMG_TYPE type) {
    OpenTavc(kW, kH, 1, type, static_cast<int>(kStartExposureUs));
    setValue(CTRL_GAIN, kGain, false);
  }

  void UseFastClock(double speedup) {
    okc::platform::UseClock(std::make_shared<okc::platform::FastClock>(speedup));
  }

  // The next raw frame's brightness as the exposure step measures it.
  int NextBrightness() {
    std::vector<uint8_t> frame(kGeometry.FrameBytes());
    EXPECT_TRUE(getImageData(frame.data(), static_cast<int>(frame.size()), 5000));
    return okc::imaging::MeasureBrightness(frame.data(), frame.size(), kGeometry).value_or(-1);
  }

  // The scene brightness that gives B = 100 at the start exposure, found from
  // one frame with the scene as it is (the sky is far too faint by itself).
  double SceneForTarget() {
    startCapture();
    NextBrightness();
    const int b = NextBrightness();
    stopCapture();
    EXPECT_GT(b, 1);
    EXPECT_LT(b, 60);
    return 100.0 / std::max(b - 1, 1);
  }

  void SetScene(double brightness, double red = 1.0) {
    okc::sim::SceneLight light;
    light.brightness = brightness;
    light.red = red;
    sim->SetSceneLight(light);
  }

  // Streams frames until the exposure and gain have not changed for `quietMs`
  // of the camera's clock (and at least 6 frames), at most `maxFrames`.
  // Counts the changes and keeps every exposure and gain seen.
  struct Settled {
    int changes = 0;
    std::vector<uint64_t> exposures;
    std::vector<int> gains;
    int brightness = -1;  // of the last frame
  };
  Settled StreamUntilSettled(uint64_t quietMs, int maxFrames = 400) {
    Settled s;
    uint64_t exposure = Cam().exposure;
    int gain = getValue(CTRL_GAIN, nullptr);
    s.exposures.push_back(exposure);
    s.gains.push_back(gain);
    uint64_t quietSince = okc::platform::TickCountMs();
    int quietFrames = 0;
    for (int i = 0; i < maxFrames; ++i) {
      s.brightness = NextBrightness();
      if (Cam().exposure != exposure || getValue(CTRL_GAIN, nullptr) != gain) {
        exposure = Cam().exposure;
        gain = getValue(CTRL_GAIN, nullptr);
        s.exposures.push_back(exposure);
        s.gains.push_back(gain);
        ++s.changes;
        quietSince = okc::platform::TickCountMs();
        quietFrames = 0;
      } else if (++quietFrames >= 6 && okc::platform::TickCountMs() - quietSince >= quietMs) {
        break;
      }
    }
    return s;
  }
};

// Steps the arithmetic needs from brightness `start` at the start exposure to
// the dead band, on a sensor whose brightness grows in proportion to the
// exposure and saturates at 255.
int ImpliedSteps(double start) {
  okc::imaging::AutoExposureInput in;
  in.exposureUs = kStartExposureUs;
  in.exposureLines = 1000;
  in.gain = kGain;
  in.autoExp = true;
  for (int steps = 0; steps < 100; ++steps) {
    const double b = start * static_cast<double>(in.exposureUs) / kStartExposureUs;
    const auto d = okc::imaging::DecideAutoExposure(std::min(255, static_cast<int>(b)), in);
    if (!d.exposureChanged) return steps;
    in.exposureUs = d.exposureUs;
  }
  return 100;
}

struct StartCase {
  const char* name;
  double factor;  // scene brightness against the one that hits the target
};

class AutoExposureLoop : public AutoLoop, public ::testing::WithParamInterface<StartCase> {};

TEST_P(AutoExposureLoop, ReachesTheDeadBandWithinTheImpliedSteps) {
  Open(IMGTYPE_RAW8);
  const double target = SceneForTarget();
  SetScene(target * GetParam().factor);
  UseFastClock(10.0);
  setValue(CTRL_EXPOSURE, static_cast<int>(kStartExposureUs), true);
  startCapture();
  const int implied = ImpliedSteps(100.0 * GetParam().factor);
  const Settled s = StreamUntilSettled(1500);
  stopCapture();

  EXPECT_GE(s.brightness, 85);
  EXPECT_LE(s.brightness, 115);
  EXPECT_GE(s.changes, implied - 2);
  // The scene is not perfectly linear (dark current, quantisation): a step or two more.
  EXPECT_LE(s.changes, implied + 2);
  // Each step in the direction of the target: no overshoot past the start side.
  for (size_t i = 1; i < s.exposures.size(); ++i) {
    const bool towardTarget = GetParam().factor < 1 ? s.exposures[i] > s.exposures[i - 1]
                                                    : s.exposures[i] < s.exposures[i - 1];
    EXPECT_TRUE(towardTarget) << "step " << i;
  }
  // The gain is not automatic and stays where the host put it.
  EXPECT_EQ(getValue(CTRL_GAIN, nullptr), kGain);
  // And the sensor got the final exposure.
  EXPECT_NEAR(sim->Sensor().integrationUs, static_cast<double>(Cam().exposure), Cam().exposure * 0.02 + 50);
}

INSTANTIATE_TEST_SUITE_P(Starts, AutoExposureLoop,
                         ::testing::Values(StartCase{"TenTimesTooDark", 0.1}, StartCase{"TenTimesTooBright", 10.0}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(AutoLoop, TheTargetComesFromTheExportedParameters) {
  Open(IMGTYPE_RAW8);
  SetScene(SceneForTarget());
  setAutoPara(50, 30, 50);
  int maxGain = 0, maxExposure = 0, target = 0;
  getAutoPara(&maxGain, &maxExposure, &target);
  EXPECT_EQ(target, 50);
  UseFastClock(10.0);
  setValue(CTRL_EXPOSURE, static_cast<int>(kStartExposureUs), true);
  startCapture();
  const Settled s = StreamUntilSettled(1500);
  stopCapture();
  // Dead band of 50: 43 to 57.
  EXPECT_GE(s.brightness, 43);
  EXPECT_LE(s.brightness, 57);
  EXPECT_LT(Cam().exposure, kStartExposureUs);
}

TEST_F(AutoLoop, AHopelessSkyStopsAtTheAutomaticLimits) {
  Open(IMGTYPE_RAW8);
  const double target = SceneForTarget();
  SetScene(target * 0.001);
  setAutoPara(60, 1, 100);
  UseFastClock(50.0);
  setValue(CTRL_GAIN, kGain, true);
  setValue(CTRL_EXPOSURE, static_cast<int>(kStartExposureUs), true);
  startCapture();
  const Settled s = StreamUntilSettled(5000);
  stopCapture();

  EXPECT_EQ(Cam().exposure, 1000000u);
  EXPECT_EQ(getValue(CTRL_GAIN, nullptr), 60);
  EXPECT_LE(*std::max_element(s.exposures.begin(), s.exposures.end()), 1000000u);
  EXPECT_LE(*std::max_element(s.gains.begin(), s.gains.end()), 60);
  // Gain moves first: the exposure only grows once it passed 100 ms with the gain at its limit.
  for (size_t i = 1; i < s.exposures.size(); ++i) {
    if (s.exposures[i] > 100000 && s.exposures[i] > s.exposures[i - 1]) {
      EXPECT_EQ(s.gains[i], 60);
    }
  }
}

TEST_F(AutoLoop, ARedCastIsBalancedAway) {
  Open(IMGTYPE_RGB24);
  const int startRed = getValue(CTRL_WB_RED, nullptr);
  setImageFormat(kW, kH, 1, IMGTYPE_RAW8);
  const double target = SceneForTarget();
  ASSERT_TRUE(setImageFormat(kW, kH, 1, IMGTYPE_RGB24));
  SetScene(target, 3.0);
  UseFastClock(10.0);
  startCapture();
  std::vector<uint8_t> frame(static_cast<size_t>(kW) * kH * 3);
  auto means = [&] {
    EXPECT_TRUE(getImageData(frame.data(), static_cast<int>(frame.size()), 5000));
    return okc::imaging::MeasureColourMeans(frame.data(), frame.size(), kW, kH).value();
  };
  // The cast as it is before automatic balance starts.
  const okc::imaging::ColourMeans before = means();
  setValue(CTRL_WB_RED, startRed, true);
  int red = getValue(CTRL_WB_RED, nullptr);
  uint64_t quietSince = okc::platform::TickCountMs();
  for (int i = 0; i < 300 && okc::platform::TickCountMs() - quietSince < 1500; ++i) {
    means();
    const int now = getValue(CTRL_WB_RED, nullptr);
    if (now != red) quietSince = okc::platform::TickCountMs();
    red = now;
  }
  means();
  const okc::imaging::ColourMeans after = means();
  stopCapture();

  EXPECT_GT(before.red, before.green + 40);
  EXPECT_LE(std::abs(static_cast<int>(after.red) - static_cast<int>(after.green)), 6);
  EXPECT_LE(std::abs(static_cast<int>(after.blue) - static_cast<int>(after.green)), 6);
  EXPECT_LT(red, startRed / 2);
  // The balance reached the sensor's red gain.
  EXPECT_EQ(LastRegisterWrite(0x305A), sim->Register(0x305A));
}

}  // namespace
