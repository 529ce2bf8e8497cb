#include "core/FrameDelivery.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <optional>
#include <cstring>
#include <span>

#include "core/CaptureEngine.h"
#include "core/FrameMarker.h"
#include "imaging/Binning.h"
#include "imaging/ColourConvert.h"
#include "imaging/ColourTables.h"
#include "imaging/DarkFrame.h"
#include "imaging/Demosaic.h"
#include "imaging/Flip.h"
#include "imaging/FusedDelivery.h"
#include "imaging/ToneTables.h"
#include "okccamera/CCameraBase.h"
#include "okccamera/UsbDriver.h"

namespace okc::core {

struct FusedPlan {
  imaging::FusedOutput output = imaging::FusedOutput::kRaw8;
  int layout = 0;
  // The balance for the whole frame; identity tables are not applied.
  std::array<uint8_t, 256> red{}, blue{};
  bool applyRed = false, applyBlue = false;
};

namespace {

std::atomic<bool> fusedDelivery{true};

constexpr uint64_t kLookAheadExtraMs = 500;
// The host's frame waits are cut into slices to notice the end of capture.
constexpr uint64_t kWaitSliceMs = 50;
// Rows down from which the marker bytes are repaired: an even number keeps the
// colour filter's phase.
constexpr size_t kRepairRows8Bit = 16;
constexpr size_t kRepairRows16Bit = 4;
// With too few rows, the bytes 8 further on in the first row (same phase) serve.
constexpr size_t kRepairSameRowOffset = 8;

// Waits up to timeoutMs (kInfinite and above: without limit) until `ready()`
// holds, in slices of `wait(sliceMs)`. Gives up early once no frame can come
// any more (the capture run is over or the camera has left the bus).
template <typename Ready, typename Wait>
bool WaitForQueue(uint64_t timeoutMs, const CaptureEngine& engine, Ready ready, Wait wait) {
  if (ready()) return true;
  if (timeoutMs == 0) return false;
  const bool unlimited = timeoutMs >= usb::kInfinite;
  // Frame waits are waits on the device's delivery, in real time like its transfers.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(unlimited ? 0 : timeoutMs);
  for (;;) {
    if (!engine.FramesMayCome()) return ready();
    uint64_t slice = kWaitSliceMs;
    if (!unlimited) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      slice = static_cast<uint64_t>(std::clamp<int64_t>(left.count(), 0, static_cast<int64_t>(kWaitSliceMs)));
    }
    if (wait(static_cast<uint32_t>(slice))) return true;
    if (!unlimited && std::chrono::steady_clock::now() >= deadline) return false;
  }
}

// Waits until a frame is queued.
bool WaitForFrame(FrameQueue& queue, uint64_t timeoutMs, const CaptureEngine& engine) {
  return WaitForQueue(
      timeoutMs, engine, [&] { return queue.Count() > 0; }, [&](uint32_t ms) { return queue.WaitFrame(ms); });
}

// 2 x timeout + 500 ms without wrapping; an unlimited timeout stays unlimited
// (the next frame follows within a frame period, and the wait still ends with
// the capture run).
uint64_t LookAheadTimeoutMs(uint64_t timeoutMs) {
  if (timeoutMs >= usb::kInfinite) return usb::kInfinite;
  return 2 * timeoutMs + kLookAheadExtraMs;
}

// Hot pixels of the camera's map and of its dark frame, from their same-colour neighbours.
void CorrectHotPixels(CCameraBase& camera, uint8_t* frame, const FrameFormat& format) {
  camera.HandleHotPixels(frame, format.SensorWidth(), format.SensorHeight(), format.sixteenBit);
}
// The date and time mark, drawn on the host's image of the delivered size.
void DrawTimeMark(CCameraBase& camera, unsigned char* image, const FrameFormat& format, size_t imageBytes) {
  camera.AddTimeMark(image, imageBytes, format.width, format.height, format.type);
}

// The one-pass plan for a format, or none when the stages must serve it.
std::optional<FusedPlan> PlanFused(const FrameFormat& f, const DeliveryVariant& v, const imaging::ColourTables& tables) {
  using imaging::FusedOutput;
  FusedPlan plan;
  if (f.sixteenBit) {
    if (f.type != IMAGE_16BIT || f.bin != 1) return std::nullopt;
    // The pass unpacks only the layouts it has kernels for; the stages take the rest.
    if (v.fullWordFor16Bit || v.wideSamples == WideSamples::HighFirst) return std::nullopt;
    plan.output = FusedOutput::kRaw16;
    return plan;
  }
  if (v.mono) {
    if (f.bin != 1) return std::nullopt;
    if (f.type == IMAGE_8BIT) plan.output = FusedOutput::kRaw8;
    else if (f.type == IMAGE_RGB24) plan.output = FusedOutput::kGrey24;
    else return std::nullopt;
    return plan;
  }
  if (f.type == IMAGE_8BIT && f.bin == 1 && f.rawOutput) {
    plan.output = FusedOutput::kRaw8;
    return plan;
  }
  if (f.type == IMAGE_8BIT) plan.output = FusedOutput::kLuma8;
  else if (f.type == IMAGE_RGB24) plan.output = FusedOutput::kRGB24;
  else if (f.type == IMAGE_YUV422) plan.output = FusedOutput::kYUV422;
  else return std::nullopt;
  if (f.bin > imaging::kFusedMaxBin || f.SensorWidth() < 2 || f.SensorHeight() < 2) return std::nullopt;
  const bool fixedLuma = f.type == IMAGE_8BIT && f.bin == 1 && v.fixedLumaDemosaic;
  plan.layout = fixedLuma ? 0
                          : imaging::EffectiveBayerLayout(f.bayerPattern, f.flipRow, f.flipColumn, f.SensorWidth(),
                                                          f.SensorHeight());
  if (plan.layout < 0 || !imaging::ColourTablesMatchKernels(tables)) return std::nullopt;
  plan.red = tables.red.Snapshot();
  plan.blue = tables.blue.Snapshot();
  plan.applyRed = !imaging::IsIdentityTable(plan.red);
  plan.applyBlue = !imaging::IsIdentityTable(plan.blue);
  return plan;
}

// The colour frames the stages write or read for a format (WriteOutput):
// demosaiced frames at bin 1 except for raw 8-bit and RGB24 (written straight
// into the host's buffer), and both frames when binning.
struct ColourFrameNeeds {
  bool full = false;
  bool binned = false;
};
ColourFrameNeeds ColourFramesFor(const FrameFormat& f, const DeliveryVariant& v) {
  if (v.mono) return {};
  const bool colourType = f.type == IMAGE_8BIT || f.type == IMAGE_RGB24 || f.type == IMAGE_YUV422;
  if (f.bin > 1) return {colourType, colourType};
  return {(f.type == IMAGE_8BIT && !f.rawOutput) || f.type == IMAGE_YUV422, false};
}

// Lends the queue's oldest frame for the length of one delivery.
class LentFrame {
 public:
  explicit LentFrame(FrameQueue& queue) : queue_(queue), frame_(queue.LendFront(&metadata_)) {}
  ~LentFrame() {
    if (frame_) queue_.ReturnLent();
  }
  LentFrame(const LentFrame&) = delete;
  LentFrame& operator=(const LentFrame&) = delete;
  uint8_t* Frame() const { return frame_; }
  const FrameMetadata& Metadata() const { return metadata_; }

 private:
  FrameQueue& queue_;
  FrameMetadata metadata_;
  uint8_t* frame_;
};

// The look-ahead on a lent frame: true once a frame queued behind it begins
// with the marker. The lent frame stays in its slot meanwhile; the worker
// fills only the other one, so nothing overwrites it.
bool MarkedFrameBehindLent(FrameQueue& queue, uint64_t timeoutMs, const CaptureEngine& engine) {
  const auto settled = [&] { return queue.WaitBehindLent(0); };
  if (!WaitForQueue(LookAheadTimeoutMs(timeoutMs), engine, settled,
                    [&](uint32_t ms) { return queue.WaitBehindLent(ms); }))
    return false;
  uint8_t head[4] = {};
  return queue.PeekBehindLent(head, sizeof head) && StartsWithFrameMarker(head);
}

}  // namespace

void EnableFusedDelivery(bool enabled) { fusedDelivery.store(enabled, std::memory_order_relaxed); }
bool FusedDeliveryEnabled() { return fusedDelivery.load(std::memory_order_relaxed); }

size_t OutputBytesPerPixel(IMAGE_TYPE type, const DeliveryVariant& variant) {
  switch (type) {
    case IMAGE_8BIT: return 1;
    case IMAGE_RGB24: return 3;
    case IMAGE_YUV422: return variant.mono ? 0 : 2;
    case IMAGE_16BIT: return 2;
    case IMAGE_16BIT_ALT: return variant.spreadAlt16 ? 4 : 0;
    default: return 0;
  }
}

void RepairHeader(HeaderRepair repair, uint8_t* frame, size_t frameBytes, size_t rowBytes, bool sixteenBit,
                  size_t outputRowBytes) {
  if (frameBytes < 8 || rowBytes == 0) return;
  if (repair == HeaderRepair::FourOutputRowsOn) {
    const size_t source = 4 * outputRowBytes;
    if (source + 4 <= frameBytes) std::memcpy(frame, frame + source, 4);
    return;
  }
  const size_t rows = frameBytes / rowBytes;
  const size_t evenRowsAvailable = rows > 0 ? (rows - 1) & ~size_t{1} : 0;
  const size_t down = std::min(sixteenBit ? kRepairRows16Bit : kRepairRows8Bit, evenRowsAvailable);
  const size_t distance = down > 0 ? down * rowBytes : kRepairSameRowOffset;
  if (distance + 4 > frameBytes) return;
  std::memcpy(frame, frame + distance, 4);
  if (repair == HeaderRepair::MarkerFromRowsBelow) return;
  if (repair == HeaderRepair::RowsBelow) {
    frame[4] = frame[6];
    frame[5] = frame[7];
  } else {
    std::memcpy(frame + frameBytes - 4, frame + frameBytes - 4 - distance, 4);
  }
}

void UnpackWideSamples(WideSamples layout, uint8_t* frame, size_t frameBytes) {
  switch (layout) {
    case WideSamples::Packed12:
      // 0xAB, 0x0C -> 0xABC0.
      for (size_t i = 0; i + 1 < frameBytes; i += 2) {
        const auto value = static_cast<uint16_t>(((frame[i] << 4) | (frame[i + 1] & 0x0F)) << 4);
        std::memcpy(frame + i, &value, sizeof value);
      }
      break;
    case WideSamples::HighFirstShift6:
      for (size_t i = 0; i + 1 < frameBytes; i += 2) {
        const auto value = static_cast<uint16_t>(((frame[i] << 8) | frame[i + 1]) >> 6);
        std::memcpy(frame + i, &value, sizeof value);
      }
      break;
    case WideSamples::HighFirst:
      for (size_t i = 0; i + 1 < frameBytes; i += 2) {
        const auto value = static_cast<uint16_t>((frame[i] << 8) | frame[i + 1]);
        std::memcpy(frame + i, &value, sizeof value);
      }
      break;
    case WideSamples::AsTheyLie: break;
  }
}

void NarrowWideSamples(uint8_t* frame, size_t samples) {
  // Byte i comes from bytes 2i and 2i + 1: forward in place never overwrites what is still to be read.
  for (size_t i = 0; i < samples; ++i) {
    uint16_t value;
    std::memcpy(&value, frame + 2 * i, sizeof value);
    frame[i] = static_cast<uint8_t>(std::min<uint16_t>(value, 255));
  }
}

FrameDelivery::FrameDelivery(CCameraBase& camera, const CaptureEngine& engine, const DeliveryVariant& variant)
    : camera_(camera), engine_(engine), variant_(variant) {}

FrameFormat FrameDelivery::Snapshot() {
  std::lock_guard lock(camera_.SensorLock());
  FrameFormat f;
  f.width = camera_.width;
  f.height = camera_.height;
  f.bin = camera_.bin;
  f.type = camera_.imageType;
  f.sixteenBit = camera_.output16Bits;
  f.rawOutput = camera_.rawOutput;
  f.flipRow = camera_.flipRow;
  f.flipColumn = camera_.flipColumn;
  f.startX = camera_.startX;
  f.startY = camera_.startY;
  f.bayerPattern = camera_.bayerPattern;
  f.gamma = camera_.gamma;
  f.exposureUs = camera_.exposure;
  f.autoExp = camera_.autoExp;
  f.useDark = camera_.useDark;
  f.timeMark = camera_.timeMark;
  std::copy(std::begin(camera_.toneTable8), std::end(camera_.toneTable8), f.tone8.begin());
  // The 16-bit table follows from gamma alone: copied again only when gamma changed.
  if (f.sixteenBit && f.gamma != 50 && tone16Gamma_ != f.gamma) {
    tone16_.resize(65536);
    std::copy(camera_.toneTable16.get(), camera_.toneTable16.get() + 65536, tone16_.begin());
    tone16Gamma_ = f.gamma;
  }
  return f;
}

bool FrameDelivery::TakeFrame(const FrameFormat& f, size_t frameBytes, uint64_t timeoutMs) {
  FrameQueue& queue = *camera_.frameQueue;
  uint8_t* frame = camera_.workingFrame.get();
  for (;;) {
    if (!WaitForFrame(queue, timeoutMs, engine_)) return false;
    FrameMetadata metadata;
    if (!queue.Pop(frame, frameBytes, &metadata)) continue;
    if (Unfit(frame, frameBytes)) continue;  // never delivered
    if (f.exposureUs < variant_.lookAheadBelowUs) {
      if (!WaitForFrame(queue, LookAheadTimeoutMs(timeoutMs), engine_)) continue;
      uint8_t head[4] = {};
      if (!queue.PeekFront(head, sizeof head) || !StartsWithFrameMarker(head)) continue;
    }
    queue.SetDelivered(metadata);
    return true;
  }
}

void FrameDelivery::ApplyDark(const FrameFormat& f, uint8_t* frame, size_t frameBytes) {
  using namespace okc::imaging;
  CCameraBase& cam = camera_;
  std::lock_guard lock(cam.SensorLock());
  if (!cam.darkCapturing && !f.useDark) return;
  if (!cam.EnsureDarkTables()) return;
  const size_t n = static_cast<size_t>(cam.maxWidth) * static_cast<size_t>(cam.maxHeight);
  std::span<uint8_t> raw(frame, frameBytes);
  // A frame that goes into a dark frame is not itself corrected by the old one.
  const bool collectingDark = cam.darkCapturing;
  if (collectingDark) {
    const DarkCaptureStep step =
        AccumulateDarkFrame(raw, {cam.darkWorking.get(), n}, cam.darkFramesTaken, cam.darkFramesWanted);
    if (step == DarkCaptureStep::Completed) {
      DarkRegion region;
      region.sensorWidth = cam.maxWidth;
      region.sensorHeight = cam.maxHeight;
      region.startX = f.startX;
      region.startY = f.startY;
      region.width = f.SensorWidth();
      region.height = f.SensorHeight();
      // The averaged region goes to its place on the sensor; the rest of the
      // full-sensor dark frame keeps what it had.
      PlaceDarkRegion({cam.darkWorking.get(), n}, region, {cam.darkFull.get(), n});
      DarkStats stats;
      if (UpdateDarkStats({cam.darkWorking.get(), f.SensorPixels()}, {cam.darkHotList.get(), n},
                          {cam.darkHotFlags.get(), n}, stats)) {
        cam.darkMean = stats.mean;
        cam.darkHotCount = stats.hotCount;
      }
      cam.darkCapturing = false;
    }
  }
  if (!collectingDark && ShouldSubtractDark(f.useDark, f.autoExp, f.exposureUs))
    SubtractDark(raw, {cam.darkWorking.get(), n}, cam.darkMean);
}

void FrameDelivery::ReleaseStageFrames() {
  // A delivery under way still uses them; they go with the next stop then.
  std::unique_lock delivery(deliveryMutex_, std::try_to_lock);
  if (delivery.owns_lock()) camera_.ReleaseStageFrames();
}

bool FrameDelivery::Unfit(const uint8_t* frame, size_t frameBytes) const {
  if (variant_.checkMarker && !StartsWithFrameMarker(frame)) return true;
  return variant_.rejectRecurringMarker && FrameMarkerRecurs(frame, frameBytes);
}

bool FrameDelivery::Deliver(unsigned char* buffer, int size, unsigned long timeoutMs) {
  using namespace okc::imaging;
  if (!buffer || size < 0) return false;
  std::lock_guard delivery(deliveryMutex_);
  FrameFormat f = Snapshot();
  CCameraBase& cam = camera_;
  if (f.bin < 1 || f.width <= 0 || f.height <= 0 || f.SensorWidth() > cam.maxWidth ||
      f.SensorHeight() > cam.maxHeight)
    return false;
  size_t sampleBytes = f.sixteenBit ? 2 : 1;
  const size_t frameBytes = f.SensorPixels() * sampleBytes;
  const size_t outputBytes = f.OutputPixels() * OutputBytesPerPixel(f.type, variant_);
  // The conversions write a whole image: a smaller buffer gets nothing at all.
  if (static_cast<size_t>(size) < outputBytes) return false;
  if (frameBytes > cam.FrameBufferBytes()) return false;

  if (FusedDeliveryEnabled()) {
    if (const std::optional<FusedPlan> plan = PlanFused(f, variant_, *cam.colourTables)) {
      // The stages' frames are of no use while the pass serves this format.
      cam.ReleaseStageFrames();
      return DeliverFused(f, *plan, buffer, outputBytes, timeoutMs);
    }
  }

  // Made before a frame is taken, so that running out of memory loses none.
  const ColourFrameNeeds colour = ColourFramesFor(f, variant_);
  if (!cam.EnsureWorkingFrame() || !cam.EnsureColourFrames(colour.full, colour.binned)) return false;
  if (!TakeFrame(f, frameBytes, timeoutMs)) return false;
  uint8_t* frame = cam.workingFrame.get();
  const size_t bufferBytes = cam.FrameBufferBytes();

  RepairHeader(variant_.repair, frame, frameBytes, static_cast<size_t>(f.SensorWidth()) * sampleBytes, f.sixteenBit,
               static_cast<size_t>(f.bin) * static_cast<size_t>(f.width));
  std::span<uint8_t> raw(frame, frameBytes);
  if (f.sixteenBit) {
    const bool fullWord = variant_.fullWordFor16Bit && f.type == IMAGE_16BIT;
    UnpackWideSamples(fullWord ? WideSamples::HighFirst : variant_.wideSamples, frame, frameBytes);
    if (variant_.narrowWideFor8Bit && (f.type == IMAGE_8BIT || f.type == IMAGE_RGB24)) {
      NarrowWideSamples(frame, f.SensorPixels());
      f.sixteenBit = false;
      sampleBytes = 1;
      ApplyTone8(raw.first(f.SensorPixels()), f.gamma, std::span<const uint8_t, 256>(f.tone8));
    } else if (f.gamma != 50) {
      ApplyTone16(raw, f.gamma, tone16_.data());
    }
  } else {
    ApplyDark(f, frame, frameBytes);
    ApplyTone8(raw, f.gamma, std::span<const uint8_t, 256>(f.tone8));
  }

  CorrectHotPixels(cam, frame, f);
  SoftMisc({frame, bufferBytes}, f.SensorWidth(), f.SensorHeight(), static_cast<int>(sampleBytes), f.flipRow,
           f.flipColumn);

  if (f.type == IMAGE_16BIT_ALT) {
    if (variant_.spreadAlt16) WriteSpreadAlt16(f, frame, buffer);
  } else if (variant_.mono) {
    WriteMonoOutput(f, frame, buffer, outputBytes);
  } else {
    WriteOutput(f, frame, buffer, outputBytes);
  }
  return true;
}

bool FrameDelivery::DeliverFused(const FrameFormat& f, const FusedPlan& plan, unsigned char* buffer,
                                 size_t outputBytes, uint64_t timeoutMs) {
  FrameQueue& queue = *camera_.frameQueue;
  const size_t frameBytes = f.SensorPixels() * (f.sixteenBit ? 2 : 1);
  if (frameBytes > queue.SlotSize()) return false;
  const bool lookAhead = f.exposureUs < variant_.lookAheadBelowUs;
  // Every frame is read in its queue slot, also one the look-ahead holds back.
  for (;;) {
    if (!WaitForFrame(queue, timeoutMs, engine_)) return false;
    LentFrame lent(queue);
    if (!lent.Frame()) continue;
    if (Unfit(lent.Frame(), frameBytes)) continue;  // never delivered
    if (lookAhead && !MarkedFrameBehindLent(queue, timeoutMs, engine_)) continue;  // discarded
    queue.SetDelivered(lent.Metadata());
    RunFused(f, plan, lent.Frame(), frameBytes, buffer, outputBytes);
    return true;
  }
}

void FrameDelivery::RunFused(const FrameFormat& f, const FusedPlan& plan, uint8_t* frame, size_t frameBytes,
                             unsigned char* buffer, size_t outputBytes) {
  using namespace okc::imaging;
  CCameraBase& cam = camera_;
  const size_t sampleBytes = f.sixteenBit ? 2 : 1;
  RepairHeader(variant_.repair, frame, frameBytes, static_cast<size_t>(f.SensorWidth()) * sampleBytes, f.sixteenBit,
               static_cast<size_t>(f.bin) * static_cast<size_t>(f.width));
  if (!f.sixteenBit) ApplyDark(f, frame, frameBytes);

  FusedSource source;
  source.samples = frame;
  source.bytes = frameBytes;
  source.width = f.width;
  source.height = f.height;
  source.bin = f.bin;
  source.flipRow = f.flipRow;
  source.flipColumn = f.flipColumn;
  const bool toned = ClampGamma(f.gamma) != kNeutralGamma;
  if (f.sixteenBit) {
    // HighFirst never comes here (PlanFused leaves it to the stages); AsTheyLie is native.
    source.wideLayout = variant_.wideSamples == WideSamples::Packed12         ? WideLayout::kPacked12
                        : variant_.wideSamples == WideSamples::HighFirstShift6 ? WideLayout::kHighFirstShift6
                                                                                : WideLayout::kNative;
    if (toned) source.tone16 = tone16_.data();
  } else if (toned) {
    source.tone8 = f.tone8.data();
  }
  // Hot pixels are mended from toned neighbours: then the frame is toned in
  // place first and the pass only mirrors it.
  if (cam.HotPixelsCorrectedPerFrame() > 0) {
    std::span<uint8_t> raw(frame, frameBytes);
    if (f.sixteenBit) {
      UnpackWideSamples(variant_.wideSamples, frame, frameBytes);
      if (toned) ApplyTone16(raw, f.gamma, tone16_.data());
      source.wideLayout = WideLayout::kNative;
      source.tone16 = nullptr;
    } else {
      ApplyTone8(raw, f.gamma, std::span<const uint8_t, 256>(f.tone8));
      source.tone8 = nullptr;
    }
    CorrectHotPixels(cam, frame, f);
  }

  FusedColour colour;
  colour.layout = plan.layout;
  colour.red = plan.applyRed ? plan.red.data() : nullptr;
  colour.blue = plan.applyBlue ? plan.blue.data() : nullptr;
  okc::imaging::DeliverFused(source, plan.output, colour, {buffer, outputBytes});
  if (f.timeMark && (f.type == IMAGE_8BIT || f.type == IMAGE_RGB24)) DrawTimeMark(cam, buffer, f, outputBytes);
}

void FrameDelivery::WriteSpreadAlt16(const FrameFormat& f, uint8_t* frame, unsigned char* buffer) {
  // Binned samples sum bin x bin of them, as the 16-bit output does.
  if (f.bin > 1) okc::imaging::SoftBinRaw({frame, camera_.FrameBufferBytes()}, f.height, f.width, f.bin, true);
  for (size_t i = 0; i < f.OutputPixels(); ++i) {
    uint16_t sample;
    std::memcpy(&sample, frame + 2 * i, sizeof sample);
    if (variant_.alt16Max > 0) sample = std::min(sample, variant_.alt16Max);
    const uint32_t word = static_cast<uint32_t>(sample) * 0x100401u;
    std::memcpy(buffer + 4 * i, &word, sizeof word);
  }
}

void FrameDelivery::WriteOutput(const FrameFormat& f, uint8_t* frame, unsigned char* buffer, size_t outputBytes) {
  using namespace okc::imaging;
  CCameraBase& cam = camera_;
  const size_t n = static_cast<size_t>(cam.maxWidth) * static_cast<size_t>(cam.maxHeight);
  const size_t bufferBytes = cam.FrameBufferBytes();
  const ColourTables& tables = *cam.colourTables;
  std::span<uint8_t> colour(cam.colourFrame.get(), 3 * n);
  std::span<uint8_t> binned(cam.binnedColourFrame.get(), 3 * n);
  auto demosaic = [&](int w, int h, std::span<uint8_t> dst) {
    Bayer2RGB24({frame, bufferBytes}, dst, w, h, f.bayerPattern, f.flipRow, f.flipColumn, tables);
  };
  if (f.bin > 1) {
    if (f.sixteenBit) {
      SoftBinRaw({frame, bufferBytes}, f.height, f.width, f.bin, true);
    } else {
      demosaic(f.SensorWidth(), f.SensorHeight(), colour);
      SoftBinRGB(colour, binned, f.width, f.height, f.bin);
    }
  }

  std::span<uint8_t> out(buffer, outputBytes);
  switch (f.type) {
    case IMAGE_8BIT:
      if (f.bin > 1) {
        RGB24ToY8(binned, out, f.width, f.height, tables);
      } else if (f.rawOutput) {
        std::memcpy(buffer, frame, outputBytes);
      } else if (variant_.fixedLumaDemosaic) {
        Bayer2RGB24({frame, bufferBytes}, colour, f.width, f.height, 0, false, false, tables);
        RGB24ToY8(colour, out, f.width, f.height, tables);
      } else {
        demosaic(f.width, f.height, colour);
        RGB24ToY8(colour, out, f.width, f.height, tables);
      }
      if (f.timeMark) DrawTimeMark(cam, buffer, f, outputBytes);
      break;
    case IMAGE_RGB24:
      if (f.bin > 1) {
        std::memcpy(buffer, binned.data(), outputBytes);
      } else {
        demosaic(f.width, f.height, out);
      }
      if (f.timeMark) DrawTimeMark(cam, buffer, f, outputBytes);
      break;
    case IMAGE_YUV422:
      // Binned, the binned colour frame is what the output size describes.
      if (f.bin > 1) {
        RGB24ToYUV(binned, out, f.width, f.height, tables);
      } else {
        demosaic(f.width, f.height, colour);
        RGB24ToYUV(colour, out, f.width, f.height, tables);
      }
      break;
    case IMAGE_16BIT: std::memcpy(buffer, frame, outputBytes); break;
    default: break;  // IMAGE_16BIT_ALT delivers nothing
  }
}

void FrameDelivery::WriteMonoOutput(const FrameFormat& f, uint8_t* frame, unsigned char* buffer,
                                    size_t outputBytes) {
  using namespace okc::imaging;
  CCameraBase& cam = camera_;
  // Binning sums the samples themselves, saturating at the sample's top value.
  if (f.bin > 1) SoftBinRaw({frame, cam.FrameBufferBytes()}, f.height, f.width, f.bin, f.sixteenBit);
  switch (f.type) {
    case IMAGE_8BIT:
      std::memcpy(buffer, frame, outputBytes);
      if (f.timeMark) DrawTimeMark(cam, buffer, f, outputBytes);
      break;
    case IMAGE_RGB24:
      // A grey colour image: each sample three times.
      for (size_t i = 0; i < f.OutputPixels(); ++i) std::memset(buffer + 3 * i, frame[i], 3);
      if (f.timeMark) DrawTimeMark(cam, buffer, f, outputBytes);
      break;
    case IMAGE_16BIT: std::memcpy(buffer, frame, outputBytes); break;
    default: break;  // no luma/chroma output, nothing for IMAGE_16BIT_ALT
  }
}

}  // namespace okc::core
