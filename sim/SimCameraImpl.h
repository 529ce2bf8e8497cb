// One simulated camera: the state of its USB controller, the answers to the
// requests that reach it and its bulk IN stream. One lock guards everything,
// so the capture thread and the host thread may use the device at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <vector>

#include "okccamera/SimCameras.h"
#include "sim/SimBulkStream.h"
#include "sim/SimDescriptors.h"
#include "sim/SimIo.h"
#include "sim/SimMemories.h"
#include "sim/SimSensor.h"
#include "sim/SimStreamer.h"
#include "usb/RequestRecord.h"

namespace okc::sim {

class SimCameraImpl final : public SimCamera,
                            public IoOwner,
                            private StreamPort,
                            public std::enable_shared_from_this<SimCameraImpl> {
 public:
  // `options` must be resolved (see ResolveOptions); plugNumber counts attachments on the bus from 1.
  SimCameraImpl(const SimDeviceOptions& options, int plugNumber);
  // Stops the frame stream's thread before anything it uses goes away.
  ~SimCameraImpl() override;

  // --- SimCamera ---
  const SimDeviceOptions& Options() const override { return options_; }
  Model GetModel() const override { return options_.model; }
  std::vector<uint8_t> Descriptor(uint8_t type, uint8_t index) const override;
  void OverrideDescriptor(uint8_t type, uint8_t index, std::vector<uint8_t> bytes) override;
  uint16_t Register(uint16_t address) const override;
  void SetRegister(uint16_t address, uint16_t value) override;
  uint8_t RegisterByte(uint16_t address) const override;
  void SetFirmwareVersion(uint8_t version) override;
  bool Streaming() const override;
  bool SixteenBitSamples() const override;
  bool InLongExposure() const override;
  void SetUsb3Host(bool yes) override;
  uint32_t TransferCount() const override;
  std::vector<GuidePulse> GuidePulses() const override;
  uint32_t SensorClockMhz() const override;
  SimSensorState Sensor() const override;
  bool InBootLoaderMode() const override;
  std::vector<uint8_t> ReadRam(uint32_t address, size_t length) const override;
  std::optional<uint32_t> EntryPoint() const override;
  std::vector<uint8_t> ReadEeprom(uint16_t deviceSelect, uint32_t address, size_t length) const override;
  std::vector<uint8_t> ReadFlash(uint32_t address, size_t length) const override;
  void WriteFlash(uint32_t address, const std::vector<uint8_t>& bytes) override;
  void WriteEeprom(uint16_t deviceSelect, uint32_t address, const std::vector<uint8_t>& bytes) override;
  bool ProcessorHeld() const override;
  bool EepromLoaderRunning() const override;
  uint8_t FirmwareVersion() const override;
  int Reenumerations() const override;
  void CorruptNextWrites(uint8_t code, int count) override;
  void UnplugAtRequest(uint8_t code, int nth) override;
  void SetEraseBusyPolls(int polls) override;
  void SetSensorProcessorFault(SensorProcessorFault fault) override;
  std::vector<LoggedRequest> Requests() const override;
  std::vector<LoggedRequest> VendorRequests(std::optional<uint8_t> code = std::nullopt) const override;
  void ClearRequests() override;
  void PushBulkData(std::vector<uint8_t> chunk) override;
  size_t PendingBulkBytes() const override;
  uint32_t BulkTransferSize() const override;
  void SetControlNoAnswer(bool on) override;
  void SetStallRequest(std::optional<uint8_t> code) override;
  void SetBusy(bool on) override;
  bool Busy() const override;
  void Unplug() override;
  bool Unplugged() const override;
  int PortResets() const override;
  int PortCycles() const override;
  int PipeResets() const override;
  int PipeAborts() const override;
  uint64_t FramesProduced() const override;
  uint64_t FramesDroppedAtDevice() const override;
  uint64_t LastFrameExposureUs() const override;
  int ExpectedSceneValue(int sensorX, int sensorY, std::optional<uint64_t> exposureUs) const override;
  std::vector<SensorPixel> HotPixels() const override;
  void SetSceneNoise(bool on) override;
  void SetLensCovered(bool on) override;
  void SetSceneLight(const SceneLight& light) override;
  SceneLight GetSceneLight() const override;
  bool WaitFor(const std::function<bool()>& done, uint64_t realLimitMs) override;
  void DropMarkerOfNextFrames(int count) override;
  void DropTrailerOfNextFrames(int count) override;
  uint64_t FrameSizeMismatches() const override;
  void ShortenNextFrames(int count) override;
  void SetStreamStalled(bool on) override;
  void UnplugAfterFrames(int count) override;

  // --- the device side of a DeviceLink ---
  std::unique_ptr<usb::PendingIo> SubmitControl(uint64_t linkId, uint8_t* record, size_t recordLength);
  // A bulk transfer whose payload lands in `buffer`; `returnedBase` record bytes are
  // counted in bytesReturned (0 direct, 38 buffered).
  std::unique_ptr<usb::PendingIo> SubmitBulk(uint64_t linkId, uint8_t* record, uint8_t* buffer, size_t length,
                                             uint32_t returnedBase);
  bool AbortPipe(uint8_t endpointAddress);
  // Aborts every request a link still has pending (the link is going away).
  void AbortLink(uint64_t linkId);
  bool ResetPipe(uint8_t endpointAddress);
  bool SetTransferSize(uint8_t endpointAddress, uint32_t bytes);
  bool ResetPort();
  bool CyclePort();
  uint32_t LinkSpeed() const;
  int PlugNumber() const { return plugNumber_; }
  // Links belong to one enumeration of the device; a re-enumeration makes older links stale.
  uint64_t Enumeration() const;
  // On the bus now: not unplugged and not away re-enumerating.
  bool Listed() const;
  // The platform-clock time the device is back on the bus (0: it is not away).
  uint64_t BackOnBusAtMs() const;

  void Forget(const IoCompletion* io) override;

 private:
  // Bytes moved in the data stage, or nullopt for a stall.
  using Reply = std::optional<size_t>;

  // Request handlers; called with mutex_ held. `data` is the data stage (OUT: what
  // the host sent; IN: room for the answer) of `length` bytes.
  Reply Dispatch(const usb::RequestRecord& r, uint8_t* data, size_t length);
  Reply StandardRequest(const usb::RequestRecord& r, uint8_t* data, size_t length);
  Reply BootLoaderRequest(const usb::RequestRecord& r, uint8_t* data, size_t length);
  Reply VendorRequest(const usb::RequestRecord& r, uint8_t* data, size_t length);
  Reply GuideRequest(const usb::RequestRecord& r);
  // The sensor's stream commands (start, stop, sample width, clock, long exposure); nullopt for other codes.
  std::optional<Reply> StreamCommand(const usb::RequestRecord& r, size_t length);
  Reply MemoryRequest(const usb::RequestRecord& r, uint8_t* data, size_t length);
  // The USB 2 controller's A0 (RAM and CPU control) and its EEPROM loader's A9 (SimBootPath.cpp).
  Reply Usb2RamRequest(const usb::RequestRecord& r, uint8_t* data, size_t length);
  Reply EepromLoaderRequest(const usb::RequestRecord& r, uint8_t* data, size_t length);
  // The processor was let run: the firmware in RAM restarts, or the loader runs.
  void StartProcessor();
  // Drops off the bus and comes back after offBusMs: older links go stale, the stream stops.
  void Reenumerate(uint64_t offBusMs);
  void UnplugLocked();

  void Log(LoggedRequest entry);
  // Something happened that a waiting test may care about.
  void NoteActivity();

  // --- StreamPort (SimStreamer.cpp) ---
  std::optional<StreamSnapshot> NextFrameSnapshot() override;
  Delivery DeliverFrame(std::vector<uint8_t> frame, uint64_t epoch, uint64_t exposureUs) override;
  void UnplugDevice() override;
  // The next frame from the registers; called with mutex_ held.
  std::optional<StreamSnapshot> SnapshotLocked() const;

  const SimDeviceOptions options_;
  const int plugNumber_;

  mutable std::mutex mutex_;
  // Activity for WaitFor: its own lock, never held while `done` runs.
  std::mutex activityMutex_;
  std::condition_variable activity_;
  uint64_t activityCount_ = 0;
  DescriptorSet descriptors_;
  std::vector<uint16_t> registers_;
  std::vector<uint8_t> byteRegisters_;
  uint8_t firmwareVersion_;
  bool bootLoader_;
  std::optional<uint32_t> entryPoint_;
  bool streaming_ = false;
  bool sixteenBit_ = false;
  bool longExposure_ = false;
  bool usb3Host_;
  uint32_t clockMhz_ = 48;
  uint32_t transferCount_ = 0;
  uint64_t frameSizeMismatches_ = 0;
  std::vector<GuidePulse> guidePulses_;
  ControllerRam ram_;
  ControllerRam usb2Ram_ = ControllerRam::Usb2Controller();
  bool processorHeld_ = false;
  bool loaderRunning_ = false;
  uint64_t enumeration_ = 0;
  uint64_t backOnBusAtMs_ = 0;
  int reenumerations_ = 0;
  std::optional<uint8_t> corruptCode_;
  int corruptCount_ = 0;
  std::optional<uint8_t> unplugCode_;
  int unplugCountdown_ = 0;
  int eraseBusyPolls_ = 2;
  int erasePollsLeft_ = 0;
  EepromBank eeprom_;
  NorFlash flash_;
  SimSensor sensor_{SensorOf(options_.model)};

  std::deque<LoggedRequest> log_;

  BulkStream bulk_;
  uint32_t bulkTransferSize_ = 0;
  std::deque<QueuedRequest> unansweredControls_;

  bool noAnswer_ = false;
  std::optional<uint8_t> stallCode_;
  bool busy_;
  bool unplugged_ = false;
  int portResets_ = 0;
  int portCycles_ = 0;
  int pipeResets_ = 0;
  int pipeAborts_ = 0;

  // Last: its thread uses the members above and ends before they go.
  SimStreamer streamer_{*this, sensor_.Description() ? sensor_.Description()->array : SceneLayout{},
                       IsUsb3Model(options_.model)};
};

}  // namespace okc::sim
