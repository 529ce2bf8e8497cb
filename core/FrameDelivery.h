// Frame delivery (GetImage) for every model: takes the oldest frame from the
// frame queue, checks it once more, and runs the software stages on the
// working frame before writing the chosen output format into the host's
// buffer.
//
// Order of the stages: header repair; 16-bit unpacking and tone, or (8-bit)
// dark capture, dark subtraction and tone; hot pixels; flips; binning; the
// output conversion; the time mark. A model picks the variants its camera
// needs with a DeliveryVariant.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

#include "okccamera/CameraTypes.h"

class CCameraBase;

namespace okc::core {

class CaptureEngine;
// What the one-pass delivery makes of a frame (FrameDelivery.cpp).
struct FusedPlan;

// Where the bytes that the frame marker (and trailer) overwrote are taken from.
enum class HeaderRepair {
  // The marker from the same place 16 rows (8-bit) or 4 rows (16-bit) down;
  // bytes 4 and 5 from bytes 6 and 7.
  RowsBelow,
  // The marker as above, and the trailer (the last word) from the same
  // distance before it; bytes 4 and 5 stay.
  RowsBelowAndTrailer,
  // The marker from bin x width x 4 bytes further on.
  FourOutputRowsOn,
  // The marker as RowsBelow; nothing else.
  MarkerFromRowsBelow,
};

// How two-byte samples arrive.
enum class WideSamples {
  Packed12,         // 8 high bits, then the 4 low bits in the low nibble; delivered in the top 12 bits
  HighFirstShift6,  // high byte first; the value is the 16-bit word shifted right by 6
  HighFirst,        // high byte first; the 16-bit word as it stands
  AsTheyLie,        // native 16-bit words, passed on unchanged
};

struct DeliveryVariant {
  HeaderRepair repair = HeaderRepair::RowsBelow;
  WideSamples wideSamples = WideSamples::Packed12;
  // Frames are checked for the marker again (the worker may queue unmarked ones).
  bool checkMarker = true;
  // Below this exposure a frame is delivered only once its successor has
  // arrived with its marker (0: never).
  uint64_t lookAheadBelowUs = 100000;
  // No colour filter: no demosaic; 8-bit binning sums samples; RGB24 is grey.
  bool mono = false;
  // 8-bit luminance at bin 1 demosaics as the first pattern without flips,
  // whatever the camera's pattern and flips.
  bool fixedLumaDemosaic = false;
  // IMAGE_16BIT_ALT delivers each 16-bit sample spread over a 32-bit word
  // (times 0x100401); without this it delivers nothing. A non-zero `alt16Max`
  // limits the (binned) samples first, so they fit the word's fields.
  bool spreadAlt16 = false;
  uint16_t alt16Max = 0;
  // 16-bit samples for 8-bit luminance or colour output are limited to 255
  // and go on as an 8-bit frame (8-bit tone table, 8-bit stages).
  bool narrowWideFor8Bit = false;
  // IMAGE_16BIT keeps the whole two-byte word (high byte first, unshifted);
  // the other types unpack by `wideSamples`.
  bool fullWordFor16Bit = false;
  // A frame in which the marker occurs again (any 32-bit word from the 11th
  // on) is discarded: it holds the start of the next frame.
  bool rejectRecurringMarker = false;
};

// What one delivery works with, read once under the sensor lock so that a
// setter on another thread cannot change the geometry half-way through a frame.
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
  uint64_t exposureUs = 0;
  bool autoExp = false;
  bool useDark = false;
  bool timeMark = false;
  // The tone tables in force (the 16-bit one only when it is used).
  std::array<uint8_t, 256> tone8{};

  int SensorWidth() const { return width * bin; }
  int SensorHeight() const { return height * bin; }
  size_t SensorPixels() const { return static_cast<size_t>(SensorWidth()) * static_cast<size_t>(SensorHeight()); }
  size_t OutputPixels() const { return static_cast<size_t>(width) * static_cast<size_t>(height); }
};

// Bytes per pixel of the image a delivery writes for an image type; 0 for a
// type that delivers nothing on this camera.
size_t OutputBytesPerPixel(IMAGE_TYPE type, const DeliveryVariant& variant);

// The header repair of a frame of `frameBytes` bytes in rows of `rowBytes`.
void RepairHeader(HeaderRepair repair, uint8_t* frame, size_t frameBytes, size_t rowBytes, bool sixteenBit,
                  size_t outputRowBytes);
// Two-byte samples as they arrive become native 16-bit samples.
void UnpackWideSamples(WideSamples layout, uint8_t* frame, size_t frameBytes);
// Native 16-bit samples become bytes at the start of the frame, each limited to 255.
void NarrowWideSamples(uint8_t* frame, size_t samples);

// The one-pass delivery (imaging/FusedDelivery.h) serves every format it
// covers; the stages one after the other serve the rest. Off, every frame goes
// through the stages (tests and benchmarks compare the two). On by default.
void EnableFusedDelivery(bool enabled);
bool FusedDeliveryEnabled();

class FrameDelivery {
 public:
  FrameDelivery(CCameraBase& camera, const CaptureEngine& engine, const DeliveryVariant& variant);

  // The model's GetImage: see CCameraTAV::GetImage for the contract.
  bool Deliver(unsigned char* buffer, int size, unsigned long timeoutMs);
  // Frees the frames only the stages use (working and colour frames), unless
  // a delivery is under way; the next frame that needs them makes them again.
  // For the end of a capture run; never blocks.
  void ReleaseStageFrames();

 private:
  // Reads the format and the tone tables, under the sensor lock.
  FrameFormat Snapshot();
  // A queued frame that must never be delivered: unmarked, or holding the start of the next frame.
  bool Unfit(const uint8_t* frame, size_t frameBytes) const;
  // Waits for a frame that passes the marker and look-ahead checks and takes
  // it into the working frame, for the stages: they change it in place over
  // several passes, so its slot is freed for the worker at once rather than
  // held through all of them. False when none came in time.
  bool TakeFrame(const FrameFormat& f, size_t frameBytes, uint64_t timeoutMs);
  // The one-pass delivery: every frame is read in its queue slot, also while
  // the look-ahead waits for its successor.
  bool DeliverFused(const FrameFormat& f, const FusedPlan& plan, unsigned char* buffer, size_t outputBytes,
                    uint64_t timeoutMs);
  void RunFused(const FrameFormat& f, const FusedPlan& plan, uint8_t* frame, size_t frameBytes,
                unsigned char* buffer, size_t outputBytes);
  void ApplyDark(const FrameFormat& f, uint8_t* frame, size_t frameBytes);
  void WriteOutput(const FrameFormat& f, uint8_t* frame, unsigned char* buffer, size_t outputBytes);
  void WriteMonoOutput(const FrameFormat& f, uint8_t* frame, unsigned char* buffer, size_t outputBytes);
  void WriteSpreadAlt16(const FrameFormat& f, uint8_t* frame, unsigned char* buffer);

  CCameraBase& camera_;
  const CaptureEngine& engine_;
  const DeliveryVariant variant_;
  // One delivery at a time: they share the working and colour frames, which
  // are made and released only with this held.
  std::mutex deliveryMutex_;
  // The 16-bit tone table as the last snapshot found it.
  std::vector<uint16_t> tone16_;
  int tone16Gamma_ = -1;  // the gamma tone16_ was copied for
};

}  // namespace okc::core
