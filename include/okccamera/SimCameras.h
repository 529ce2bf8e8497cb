// Simulated cameras: virtual devices that stand behind the same driver seam as
// real cameras (UsbDriver.h), so hosts and tests can run without hardware.
//
//   auto bus = okc::sim::InstallSimulator();     // from now on the library sees only simulated cameras
//   auto cam = bus->Attach(okc::sim::Model::TAVC);
//   ... use the library ...
//   cam->Requests();                             // every vendor request the camera received
//
// Each SimCamera plays the camera's USB controller: it answers the standard
// descriptor requests from its descriptors, and the vendor requests of the
// camera protocol from its state (sensor register file, firmware version,
// guide outputs, EEPROM, SPI flash, boot-loader RAM), and it serves queued
// bulk IN transfers from its byte stream.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "okccamera/UsbDriver.h"

namespace okc::sim {

// The nine camera models, in the order their classes are enumerated.
enum class Model { TAVM, TAVC, RENM, SELC, SELM, PIMC, DORC, TAVM_U, TAVC_U };
constexpr int kModelCount = 9;

uint16_t ProductIdOf(Model model);
// "TAVC", "TAVM-U", ... ; the form ParseModel accepts (case-insensitive, "_" for "-" too).
const char* ShortNameOf(Model model);
std::optional<Model> ParseModel(std::string_view name);
bool IsUsb3Model(Model model);  // TAVC-U and TAVM-U

// How a simulated device presents itself. The defaults are a genuine camera of
// the model; tests change them to present foreign or faulty devices.
struct SimDeviceOptions {
  Model model = Model::TAVC;
  // The class (product ID) the device is listed under; 0: the model's own.
  uint16_t classProductId = 0;
  // Identity in the device descriptor; 0: the camera vendor / the model's product ID.
  uint16_t vendorId = 0;
  uint16_t productId = 0;
  std::string manufacturer = "YRA Optics";
  std::string product;       // empty: "OKC" + short model name
  std::string serialNumber;  // empty: a serial number unique on this bus
  std::vector<uint16_t> languages = {0x0409};
  uint8_t firmwareVersion = 3;
  // Plays the FX3 boot loader instead of the camera firmware (answers A0 probes, RAM loads).
  bool bootLoaderMode = false;
  // Claimed by another program: listed in its class, but opening it fails with kErrBusy.
  bool busy = false;
};

// One vendor or standard request as the controller received it.
struct LoggedRequest {
  uint8_t requestType = 0;  // the bmRequestType byte
  uint8_t request = 0;
  bool in = false;
  uint16_t value = 0;
  uint16_t index = 0;
  std::vector<uint8_t> data;  // OUT: the data sent; IN: the data answered
  uint64_t timeMs = 0;        // platform clock when it arrived
  bool IsVendor() const { return ((requestType >> 5) & 3) == 2; }
};

// A guide pulse seen on the port: B0 switched the output on, B1 off.
struct GuidePulse {
  uint16_t direction = 0;
  uint64_t onMs = 0;
  uint64_t offMs = 0;  // 0 while still on
};

// What the sensor of a simulated camera does, derived from the registers the
// driver wrote (see SimCamera::Sensor). Models without a simulated sensor
// report zeros. The named registers are the TAV sensors'; the other sensors
// fill the same fields from their own registers.
struct SimSensorState {
  // Readout window in pixels of the array as it reads out: first column and
  // row, columns and rows read.
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
  uint32_t lineLength = 0;        // pixel clocks per line (0x300C; PIMC and SEL: width + 0x05)
  uint32_t frameLength = 0;       // lines per frame (0x300A; PIMC and SEL: height + 0x06)
  uint32_t integrationLines = 0;  // coarse integration (0x3012; PIMC and SEL: 0x0B)
  uint32_t inputClockMhz = 0;     // clock the controller supplies: 48, or 24 after A3
  double pixelClockMhz = 0;       // after the PLL; the input clock while the PLL is bypassed
  bool sixteenBit = false;        // the controller packs 16-bit samples (AC), else 8-bit (AB)
  uint16_t coarseGain = 0;        // 0x30B0
  int analogGain = 1;             // 1, 2, 4 or 8 from the coarse step
  // Digital gains, 32 = 1.0: two greens (0x3056, 0x305C), red (0x305A), blue (0x3058).
  uint16_t greenGain1 = 0;
  uint16_t greenGain2 = 0;
  uint16_t redGain = 0;
  uint16_t blueGain = 0;
  uint16_t blackLevel = 0;        // 0x301E
  double integrationUs = 0;       // integration time
  double framePeriodUs = 0;       // time from frame to frame (stretched by a longer integration)
  // Total gain of each place of the 2 x 2 cell, [row & 1][column & 1] of the array.
  std::array<std::array<double, 2>, 2> cellGain{};
};

// The light of the scene a simulated camera looks at. Tests of the automatic
// modes start a camera far too dark or bright, or under a strong colour cast.
struct SceneLight {
  double brightness = 1.0;  // multiplies the light of sky and stars (not dark current)
  // Colour cast: multiplies the light reaching red, green and blue pixels
  // (a mono sensor sees their mean).
  double red = 1.0;
  double green = 1.0;
  double blue = 1.0;
};

// Faults of a sensor's own processor (the DORC's), which runs host commands.
enum class SensorProcessorFault {
  None,
  StaysBusy,     // a command never finishes: the command register keeps its busy bit
  BusyAnswers,   // every state query answers "busy"
  WrongState,    // a state change ends in another state than the one requested
};

// A pixel of the image sensor, in sensor coordinates (column, row).
struct SensorPixel {
  int x = 0;
  int y = 0;
  bool operator==(const SensorPixel&) const = default;
};

class SimCamera {
 public:
  virtual ~SimCamera() = default;

  // The options it was attached with, defaults filled in (class, identity, strings).
  virtual const SimDeviceOptions& Options() const = 0;
  virtual Model GetModel() const = 0;

  // --- descriptors (tests may replace one to present a faulty device) ---
  // Raw descriptor as served for GET_DESCRIPTOR(type, index); empty if absent.
  virtual std::vector<uint8_t> Descriptor(uint8_t type, uint8_t index) const = 0;
  // Serves `bytes` as they stand (lengths inside are not checked); empty bytes remove the descriptor.
  virtual void OverrideDescriptor(uint8_t type, uint8_t index, std::vector<uint8_t> bytes) = 0;

  // --- controller state ---
  virtual uint16_t Register(uint16_t address) const = 0;
  virtual void SetRegister(uint16_t address, uint16_t value) = 0;
  virtual uint8_t RegisterByte(uint16_t address) const = 0;
  virtual void SetFirmwareVersion(uint8_t version) = 0;
  virtual bool Streaming() const = 0;           // after A9, until AA
  virtual bool SixteenBitSamples() const = 0;   // after AC, until AB
  virtual bool InLongExposure() const = 0;      // after AE, until AF
  virtual void SetUsb3Host(bool yes) = 0;       // what B4 answers
  virtual uint32_t TransferCount() const = 0;   // last B5 value << 16 | index
  virtual std::vector<GuidePulse> GuidePulses() const = 0;
  virtual uint32_t SensorClockMhz() const = 0;  // 48 at power-on and after A4, 24 after A3
  // The image sensor as programmed so far (zeros for a model without a simulated sensor).
  virtual SimSensorState Sensor() const = 0;
  // Runs the boot loader: from the bootLoaderMode option until the A0 jump to an entry point.
  virtual bool InBootLoaderMode() const = 0;

  // Boot-loader RAM (A0 in boot-loader mode), EEPROM (BA/BB), SPI flash (C2/C3/C4).
  // RAM: instruction TCM 0x00000000 (16 KiB), data TCM 0x10000000 (8 KiB), system
  // RAM 0x40000000 (512 KiB). EEPROM: device selects 0 to 7, 64 KiB each. Flash: 4 MiB.
  // The readers return an empty vector when the range is not inside the memory.
  // WriteFlash stores the bytes as they are (test set-up; not AND-programmed).
  virtual std::vector<uint8_t> ReadRam(uint32_t address, size_t length) const = 0;
  virtual std::optional<uint32_t> EntryPoint() const = 0;  // set by the zero-length A0 jump
  virtual std::vector<uint8_t> ReadEeprom(uint16_t deviceSelect, uint32_t address, size_t length) const = 0;
  virtual std::vector<uint8_t> ReadFlash(uint32_t address, size_t length) const = 0;
  virtual void WriteFlash(uint32_t address, const std::vector<uint8_t>& bytes) = 0;
  // Stores bytes in an EEPROM as they are (test set-up).
  virtual void WriteEeprom(uint16_t deviceSelect, uint32_t address, const std::vector<uint8_t>& bytes) = 0;

  // --- the USB 2 controller's own boot path (every model but TAVC-U and TAVM-U) ---
  // Its silicon answers A0 in any mode (index 0, address in value): RAM at
  // 0x0000 (16 KiB) and 0xE000 (512 bytes), and the CPU control register
  // 0xE600: 1 holds the processor, so the camera firmware answers nothing
  // else; 0 starts what RAM holds. The simulator runs no program code: when RAM
  // holds every record of the 0xC2 image in the boot EEPROM, that firmware
  // starts and the device re-enumerates with the version the image carries
  // (the high byte of its device release); any other program is taken for the
  // EEPROM loader, which answers A9 with the boot EEPROM (OUT writes at the
  // byte address in value, IN reads; at most 4096 bytes) until the processor
  // is held again. In camera firmware A9 starts streaming, as always.
  static constexpr uint16_t kBootEepromSelect = 1;  // the boot EEPROM among the I2C EEPROMs
  virtual bool ProcessorHeld() const = 0;
  virtual bool EepromLoaderRunning() const = 0;
  virtual uint8_t FirmwareVersion() const = 0;
  // Times the device left the bus and came back (firmware restarts, port
  // cycles). Each ends every link opened before it; a firmware restart keeps
  // the device off the bus for kRestartOffBusMs of the platform clock.
  static constexpr uint64_t kRestartOffBusMs = 1500;
  virtual int Reenumerations() const = 0;

  // --- request log ---
  virtual std::vector<LoggedRequest> Requests() const = 0;
  // Vendor requests only, optionally only those with the given code.
  virtual std::vector<LoggedRequest> VendorRequests(std::optional<uint8_t> code = std::nullopt) const = 0;
  virtual void ClearRequests() = 0;
  // Waits until `done` holds, checking it again whenever the device takes a
  // request or sends a frame (and every few milliseconds besides, for state
  // that changes on the host's side). `realLimitMs` only guards against a
  // hang; false when it ran out. `done` must not be called with locks held
  // that the device's requests need.
  virtual bool WaitFor(const std::function<bool()>& done, uint64_t realLimitMs = 60000) = 0;

  // --- bulk IN stream ---
  // Appends a chunk to the stream of the bulk IN endpoint. A queued transfer
  // completes when its buffer is full or the chunk it is reading ends (the
  // chunk's end acts as the short packet that ends a frame).
  virtual void PushBulkData(std::vector<uint8_t> chunk) = 0;
  virtual size_t PendingBulkBytes() const = 0;
  virtual uint32_t BulkTransferSize() const = 0;  // last SetTransferSize of the bulk endpoint

  // --- frame stream (models with a simulated sensor: TAV family, PIMC, SELC, SELM) ---
  // After A9 the sensor sends a frame of the programmed window at the frame
  // period of its registers, each frame one chunk of the bulk stream: the frame
  // marker, then the samples (in two bytes after AC, as the sensor packs them:
  // the TAV sensors' 12 bits as 8 high bits and a low nibble, the PIMC and SEL
  // sensors' 10 bits shifted to the top of a word, high byte first; their 8
  // high bits after AB), on the USB 3 models the trailer last. AA stops; AF restarts
  // the frame in progress. AE stops frames and starts a host-timed exposure,
  // the next AF ends it: one frame follows after its readout time, then normal
  // frames again. A frame finished while the host has not yet taken all of the
  // previous one is dropped at the device. Register and sample width changes
  // take effect at the next frame. The scene is fixed in sensor coordinates:
  // stars on a warm sky glow, dark current and hot pixels; the colour models
  // see it through a Bayer mosaic: G R at even sensor rows (from even
  // columns) and B G at odd ones on the TAV sensors, B G / G R on PIMC and SELC.
  // The PIMC and SEL sensors' column register counts from the far side of the
  // array: their windows are given here in readout order.
  // Frames finished since attach (sent or dropped), and those dropped.
  virtual uint64_t FramesProduced() const = 0;
  virtual uint64_t FramesDroppedAtDevice() const = 0;
  // Exposure of the last frame sent, in microseconds (host-timed ones included).
  virtual uint64_t LastFrameExposureUs() const = 0;
  // The scene's noiseless sample at a sensor pixel in the sensor's resolution
  // (12 bits on the TAV sensors, 10 on PIMC and SEL; an 8-bit frame carries
  // its 8 high bits): black level + gain x exposure x light, saturating,
  // with the sensor's gains and black level now and `exposureUs` (default: the integration time programmed now). -1 outside
  // the pixel array or while the sensor cannot stream (window, clock or line
  // length not programmed).
  virtual int ExpectedSceneValue(int sensorX, int sensorY,
                                 std::optional<uint64_t> exposureUs = std::nullopt) const = 0;
  // Sensor pixels with a high dark current (the same on every camera of a kind; none without a simulated sensor).
  virtual std::vector<SensorPixel> HotPixels() const = 0;
  // Shot and read noise in frames (on by default).
  virtual void SetSceneNoise(bool on) = 0;
  // No light reaches the sensor: frames show only dark current, hot pixels and noise.
  virtual void SetLensCovered(bool on) = 0;
  // Brightness and colour cast of the scene, from the next frame on (negative
  // or non-finite factors count as 0).
  virtual void SetSceneLight(const SceneLight& light) = 0;
  virtual SceneLight GetSceneLight() const = 0;

  // --- frame stream faults ---
  // The next `count` frames sent lack their marker / carry only half their bytes.
  virtual void DropMarkerOfNextFrames(int count) = 0;
  // USB 3 models: the next `count` frames sent end without their trailer.
  virtual void DropTrailerOfNextFrames(int count) = 0;
  // USB 3 models: frames whose length, in 16 KiB units rounded up, differed
  // from the frame size the host announced with B5 (each is still sent).
  virtual uint64_t FrameSizeMismatches() const = 0;
  virtual void ShortenNextFrames(int count) = 0;
  // No frames at all while on; when cleared the sensor starts a new frame.
  virtual void SetStreamStalled(bool on) = 0;
  // The device disappears (Unplug) right after sending `count` more frames; 0: at once.
  virtual void UnplugAfterFrames(int count) = 0;

  // --- faults ---
  // Control requests are taken but never answered, until aborted.
  virtual void SetControlNoAnswer(bool on) = 0;
  // Control requests with this code are stalled (fail) instead of answered.
  virtual void SetStallRequest(std::optional<uint8_t> code) = 0;
  // The next `count` writes with this request code store their first byte
  // wrong (flash: leave it unprogrammed), so reading them back shows a difference.
  virtual void CorruptNextWrites(uint8_t code, int count) = 0;
  // The device vanishes (Unplug) when the nth further request with this code arrives; that request fails.
  virtual void UnplugAtRequest(uint8_t code, int nth) = 0;
  // The sensor's processor misbehaves from now on (models whose sensor has none: nothing happens).
  virtual void SetSensorProcessorFault(SensorProcessorFault fault) = 0;
  // A flash erase stays busy for this many status polls (2 at attach); negative: it never ends.
  virtual void SetEraseBusyPolls(int polls) = 0;
  // Another program claims (true) or releases (false) the device, as a claimed
  // interface on a real bus: it stays listed, and opening it fails with kErrBusy.
  // A link opened before keeps working.
  virtual void SetBusy(bool on) = 0;
  virtual bool Busy() const = 0;
  // The device vanishes: pending transfers fail, new ones fail, it leaves the bus listing.
  virtual void Unplug() = 0;
  virtual bool Unplugged() const = 0;
  // Counts port resets and re-enumerations asked for.
  virtual int PortResets() const = 0;
  virtual int PortCycles() const = 0;
  // Counts ResetPipe and AbortPipe calls on any endpoint of the device.
  virtual int PipeResets() const = 0;
  virtual int PipeAborts() const = 0;
};

// The simulated bus: a UsbDriver that lists and opens the attached SimCameras.
class SimBus : public usb::UsbDriver {
 public:
  virtual std::shared_ptr<SimCamera> Attach(const SimDeviceOptions& options) = 0;
  std::shared_ptr<SimCamera> Attach(Model model) {
    SimDeviceOptions o;
    o.model = model;
    return Attach(o);
  }
  // Removes a camera from the bus as if unplugged.
  virtual void Detach(const std::shared_ptr<SimCamera>& camera) = 0;
  // Attached cameras in plug order.
  virtual std::vector<std::shared_ptr<SimCamera>> Cameras() const = 0;
};

// A new, empty simulated bus.
std::shared_ptr<SimBus> CreateSimBus();
// Creates a simulated bus and makes it the library's USB backend.
std::shared_ptr<SimBus> InstallSimulator();
// Goes back to real cameras (libusb).
void RemoveSimulator();

}  // namespace okc::sim
