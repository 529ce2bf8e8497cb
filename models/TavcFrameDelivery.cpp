// TAVC frame delivery (GetImage): takes the oldest frame from the frame queue,
// checks it once more, and runs the software stages on the working frame
// before writing the chosen output format into the host's buffer.
//
// Order of the stages: header repair; 16-bit unpacking and tone, or (8-bit)
// dark capture, dark subtraction and tone; hot pixels; flips; binning; the
// output conversion; the time mark.
#include <algorithm>
#include <chrono>
#include <cstring>
#include <span>

#include "imaging/Binning.h"
#include "imaging/ColourConvert.h"
#include "imaging/ColourTables.h"
#include "imaging/DarkFrame.h"
#include "imaging/Demosaic.h"
#include "imaging/Flip.h"
#include "imaging/ToneTables.h"
#include "models/TavcFrame.h"
#include "okccamera/CCameraTAVC.h"
#include "okccamera/UsbDriver.h"

namespace {

// Below this exposure a frame is delivered only once the next one has arrived
// with its marker: at short exposures a lost frame start shows in the frame after.
constexpr uint64_t kLookAheadBelowUs = 100000;
constexpr uint64_t kLookAheadExtraMs = 500;
// The host's frame waits are cut into slices to notice the end of capture.
constexpr uint64_t kWaitSliceMs = 50;
// Rows down from which the marker bytes are repaired: an even number keeps the
// colour filter's phase.
constexpr size_t kRepairRows8Bit = 16;
constexpr size_t kRepairRows16Bit = 4;
// With too few rows, the bytes 8 further on in the first row (same phase) serve.
constexpr size_t kRepairSameRowOffset = 8;

// What GetImage works with, read once so that a setter on the host's other
// threads cannot change the geometry half-way through a frame.
struct FrameFormat {
  int width = 0;
  int height = 0;
  int bin = 0;
  IMAGE_TYPE type = IMAGE_8BIT;
  bool sixteenBit = false;
  bool rawOutput = false;
  bool flipRow = false;
  bool flipColumn = false;
  int startX = 0;
  int startY = 0;
  int bayerPattern = 0;
  int gamma = 50;

  int SensorWidth() const { return width * bin; }
  int SensorHeight() const { return height * bin; }
  size_t SensorPixels() const { return static_cast<size_t>(SensorWidth()) * static_cast<size_t>(SensorHeight()); }
  size_t OutputPixels() const { return static_cast<size_t>(width) * static_cast<size_t>(height); }
};

// Overwrites the marker (bytes 0 to 3) from the same place a few rows further
// down, then bytes 4 and 5 from bytes 6 and 7.
void RepairHeader(uint8_t* frame, size_t frameBytes, size_t rowBytes, bool sixteenBit) {
  const size_t rows = frameBytes / rowBytes;
  const size_t evenRowsAvailable = rows > 0 ? (rows - 1) & ~size_t{1} : 0;
  const size_t down = std::min(sixteenBit ? kRepairRows16Bit : kRepairRows8Bit, evenRowsAvailable);
  const size_t source = down > 0 ? down * rowBytes : kRepairSameRowOffset;
  if (source + 4 > frameBytes || frameBytes < 8) return;
  std::memcpy(frame, frame + source, 4);
  frame[4] = frame[6];
  frame[5] = frame[7];
}

// Two bytes [8 high bits, 4 low bits in the low nibble] become one native
// 16-bit sample with the 12-bit value in its top bits: 0xAB, 0x0C -> 0xABC0.
void Unpack12BitSamples(uint8_t* frame, size_t frameBytes) {
  for (size_t i = 0; i + 1 < frameBytes; i += 2) {
    const auto value = static_cast<uint16_t>(((frame[i] << 4) | (frame[i + 1] & 0x0F)) << 4);
    std::memcpy(frame + i, &value, sizeof value);
  }
}

// Hot pixel correction (HandleHotPixels) is not built yet: this is where it runs.
void CorrectHotPixels(CCameraTAVC& /*camera*/) {}
// The date and time mark, drawn on the host's image of the delivered size.
void DrawTimeMark(CCameraTAVC& camera, unsigned char* image, const FrameFormat& format) {
  const size_t bytes = format.OutputPixels() * okc::models::TavcOutputBytesPerPixel(format.type);
  camera.AddTimeMark(image, bytes, format.width, format.height, format.type);
}

}  // namespace

// ---- taking a frame from the queue ----

namespace {

// Waits up to timeoutMs (kInfinite and above: without limit) until a frame is
// queued. Gives up early once the capture run is over or the camera has left
// the bus and nothing is queued: no frame can come then.
template <typename StillComing>
bool WaitForFrame(okc::core::FrameQueue& queue, uint64_t timeoutMs, StillComing stillComing) {
  if (queue.Count() > 0) return true;
  if (timeoutMs == 0) return false;
  const bool unlimited = timeoutMs >= okc::usb::kInfinite;
  // Frame waits are waits on the device's delivery, in real time like its transfers.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(unlimited ? 0 : timeoutMs);
  for (;;) {
    if (!stillComing()) return queue.Count() > 0;
    uint64_t slice = kWaitSliceMs;
    if (!unlimited) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                              std::chrono::steady_clock::now());
      slice = static_cast<uint64_t>(std::clamp<int64_t>(left.count(), 0, static_cast<int64_t>(kWaitSliceMs)));
    }
    if (queue.WaitFrame(static_cast<uint32_t>(slice))) return true;
    if (!unlimited && std::chrono::steady_clock::now() >= deadline) return false;
  }
}

// 2 x timeout + 500 ms without wrapping; an unlimited timeout stays unlimited
// (the next frame follows within a frame period, and the wait still ends with
// the capture run).
uint64_t LookAheadTimeoutMs(uint64_t timeoutMs) {
  if (timeoutMs >= okc::usb::kInfinite) return okc::usb::kInfinite;
  return 2 * timeoutMs + kLookAheadExtraMs;
}

}  // namespace

bool CCameraTAVC::GetImage(unsigned char* buffer, int size, unsigned long timeoutMs) {
  FrameFormat f;
  f.width = width;
  f.height = height;
  f.bin = bin;
  f.type = imageType;
  f.sixteenBit = output16Bits;
  f.rawOutput = rawOutput;
  f.flipRow = flipRow;
  f.flipColumn = flipColumn;
  f.startX = startX;
  f.startY = startY;
  f.bayerPattern = bayerPattern;
  f.gamma = gamma;

  if (!buffer || size < 0) return false;
  if (f.bin < 1 || f.width <= 0 || f.height <= 0 || f.SensorWidth() > maxWidth || f.SensorHeight() > maxHeight)
    return false;
  const size_t frameBytes = okc::models::TavcRawFrameBytes(f.width, f.height, f.bin, f.sixteenBit);
  const size_t outputBytes = f.OutputPixels() * okc::models::TavcOutputBytesPerPixel(f.type);
  // The conversions write a whole image: a smaller buffer gets nothing at all.
  if (static_cast<size_t>(size) < outputBytes) return false;
  const size_t n = static_cast<size_t>(maxWidth) * static_cast<size_t>(maxHeight);
  if (frameBytes > 2 * n || frameBytes > frameQueue->SlotSize()) return false;

  uint8_t* frame = workingFrame.get();
  auto stillComing = [this] { return (capturing || captureStarting_) && !deviceLost_; };
  for (;;) {
    if (!WaitForFrame(*frameQueue, timeoutMs, stillComing)) return false;
    if (!frameQueue->Pop(frame, frameBytes)) continue;
    if (!okc::models::StartsWithTavcFrameMarker(frame)) continue;  // never delivered
    if (exposure < kLookAheadBelowUs) {
      if (!WaitForFrame(*frameQueue, LookAheadTimeoutMs(timeoutMs), stillComing)) continue;
      uint8_t head[4] = {};
      if (!frameQueue->PeekFront(head, sizeof head) || !okc::models::StartsWithTavcFrameMarker(head)) continue;
    }
    break;
  }

  const size_t sampleBytes = f.sixteenBit ? 2 : 1;
  RepairHeader(frame, frameBytes, static_cast<size_t>(f.SensorWidth()) * sampleBytes, f.sixteenBit);
  std::span<uint8_t> raw(frame, frameBytes);

  if (f.sixteenBit) {
    Unpack12BitSamples(frame, frameBytes);
    okc::imaging::ApplyTone16(raw, f.gamma, toneTable16.get());
  } else {
    // A frame that goes into a dark frame is not itself corrected by the old one.
    const bool collectingDark = darkCapturing;
    if (collectingDark) {
      const auto step = okc::imaging::AccumulateDarkFrame(raw, {darkWorking.get(), n}, darkFramesTaken,
                                                          darkFramesWanted);
      if (step == okc::imaging::DarkCaptureStep::Completed) {
        okc::imaging::DarkRegion region;
        region.sensorWidth = maxWidth;
        region.sensorHeight = maxHeight;
        region.startX = f.startX;
        region.startY = f.startY;
        region.width = f.SensorWidth();
        region.height = f.SensorHeight();
        // The averaged region goes to its place on the sensor; the rest of the
        // full-sensor dark frame keeps what it had.
        okc::imaging::PlaceDarkRegion({darkWorking.get(), n}, region, {darkFull.get(), n});
        okc::imaging::DarkStats stats;
        if (okc::imaging::UpdateDarkStats({darkWorking.get(), f.SensorPixels()}, {darkHotList.get(), n},
                                          {darkHotFlags.get(), n}, stats)) {
          darkMean = stats.mean;
          darkHotCount = stats.hotCount;
        }
        darkCapturing = false;
      }
    }
    if (!collectingDark && okc::imaging::ShouldSubtractDark(useDark, autoExp, exposure))
      okc::imaging::SubtractDark(raw, {darkWorking.get(), n}, darkMean);
    okc::imaging::ApplyTone8(raw, f.gamma, std::span<const uint8_t, 256>(toneTable8, 256));
  }

  CorrectHotPixels(*this);
  okc::imaging::SoftMisc({frame, 2 * n}, f.SensorWidth(), f.SensorHeight(), static_cast<int>(sampleBytes),
                         f.flipRow, f.flipColumn);

  const okc::imaging::ColourTables& tables = okc::imaging::ProcessColourTables();
  std::span<uint8_t> colour(colourFrame.get(), 3 * n);
  std::span<uint8_t> binned(binnedColourFrame.get(), 3 * n);
  auto demosaic = [&](int w, int h, std::span<uint8_t> dst) {
    okc::imaging::Bayer2RGB24({frame, 2 * n}, dst, w, h, f.bayerPattern, f.flipRow, f.flipColumn, tables);
  };
  if (f.bin > 1) {
    if (f.sixteenBit) {
      okc::imaging::SoftBinRaw({frame, 2 * n}, f.height, f.width, f.bin, true);
    } else {
      demosaic(f.SensorWidth(), f.SensorHeight(), colour);
      okc::imaging::SoftBinRGB(colour, binned, f.width, f.height, f.bin);
    }
  }

  std::span<uint8_t> out(buffer, outputBytes);
  switch (f.type) {
    case IMAGE_8BIT:
      if (f.bin > 1) {
        okc::imaging::RGB24ToY8(binned, out, f.width, f.height, tables);
      } else if (f.rawOutput) {
        std::memcpy(buffer, frame, outputBytes);
      } else {
        demosaic(f.width, f.height, colour);
        okc::imaging::RGB24ToY8(colour, out, f.width, f.height, tables);
      }
      if (timeMark) DrawTimeMark(*this, buffer, f);
      break;
    case IMAGE_RGB24:
      if (f.bin > 1) {
        std::memcpy(buffer, binned.data(), outputBytes);
      } else {
        demosaic(f.width, f.height, out);
      }
      if (timeMark) DrawTimeMark(*this, buffer, f);
      break;
    case IMAGE_YUV422:
      // Binned, the binned colour frame is what the output size describes.
      if (f.bin > 1) {
        okc::imaging::RGB24ToYUV(binned, out, f.width, f.height, tables);
      } else {
        demosaic(f.width, f.height, colour);
        okc::imaging::RGB24ToYUV(colour, out, f.width, f.height, tables);
      }
      break;
    case IMAGE_16BIT:
      std::memcpy(buffer, frame, outputBytes);
      break;
    default:
      break;  // IMAGE_16BIT_ALT: this family delivers nothing for it
  }
  return true;
}
