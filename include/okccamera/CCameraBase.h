// The abstract camera. One object of a model class derived from it exists
// while a camera is open; it owns the camera's USB device, the current format,
// region, controls and automatic modes, the model's capability record, the
// calibration tables, the frame buffers and the frame queue.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "okccamera/CameraTypes.h"
#include "okccamera/Export.h"
#include "okccamera/FrameQueue.h"
#include "okccamera/Fx3Download.h"

class CUsbDevice;

namespace okc::core {
struct ModelInfo;
}
namespace okc::imaging {
struct ColourTables;
struct AutoExposureDecision;
struct WhiteBalanceDecision;
}

class OKC_API CCameraBase {
 public:
  CCameraBase(int maxWidth, int maxHeight);
  virtual ~CCameraBase();
  // A copy would share the device, tables and buffers with the original; nothing needs one.
  CCameraBase(const CCameraBase&) = delete;
  CCameraBase& operator=(const CCameraBase&) = delete;

  // ---- the camera interface, in slot order ----
  virtual bool OpenCamera(int ordinal);                                    // 0
  virtual bool InitCamera();                                               // 1
  virtual bool CloseCamera();                                              // 2
  virtual bool SetResolution(int width, int height, int bin, IMAGE_TYPE type);  // 3
  virtual bool SetStartPos(int x, int y);                                  // 4
  virtual bool GetStartPos(int* x, int* y);                                // 5
  virtual bool SetGain(int gain, bool automatic);                          // 6
  virtual int GetGain(bool* automatic);                                    // 7
  virtual bool SetGamma(int gamma);                                        // 8
  virtual int GetGamma();                                                  // 9
  virtual bool SetBrightness(int value);                                   // 10
  virtual bool SetFPSPerc(int percent, bool automatic);                    // 11
  virtual bool GetFPSPerc(int* percent, bool* automatic);                  // 12
  virtual void SetRGBBalance(int red, int blue, bool automatic);           // 13
  virtual void GetRGBBalance(int* red, int* blue, bool* automatic);        // 14
  virtual bool SetExp(unsigned long long microseconds, bool automatic);    // 15
  virtual bool SetMisc(bool flipRow, bool flipColumn);                     // 16
  virtual bool GetImage(unsigned char* buffer, int size, unsigned long timeoutMs);  // 17
  virtual int GetMaxWidth();                                               // 18
  virtual int GetMaxHeight();                                              // 19
  virtual float GetSensorTemp();                                           // 20
  virtual bool StartCapture();                                             // 21
  virtual bool StopCapture();                                              // 22

  // ---- accessors ----
  unsigned char GetFWVer() const { return fwVersion; }
  int GetCMOSClk() const;
  bool IsOutput16Bits() const;
  bool isAvailable(Control_TYPE control) const;
  bool isImgTypeSupported(IMG_TYPE type) const;

  // ---- vendor command protocol ----
  bool SendCMD(unsigned char code);
  bool SendCMD(unsigned char code, unsigned short value, unsigned short index, bool in, unsigned char* data,
               long length);
  bool WriteCameraRegister(unsigned short reg, unsigned short value);
  bool WriteCameraRegisterByte(unsigned short reg, unsigned char value);
  bool ReadCameraRegister(unsigned short reg, unsigned short* value);
  bool ReadCameraRegisterByte(unsigned short reg, unsigned char* value);
  bool GetFirmwareVer(unsigned char* version);
  bool IsUSB3Host();
  bool SetTransferCount(unsigned int count);

  // ---- stored settings ----
  void LoadSetting(const wchar_t* key);
  void SaveSetting(const wchar_t* key);
  // Saves under this model's own key.
  void SaveSettings();

  // ---- guide port ----
  bool pulseGuide(GuideD direction, int durationMs);

  // ---- dark frames ----
  void UsingDark(bool on) { useDark = on; }
  bool IsUsingDark() const { return useDark; }
  void GettingDark(int frames);
  bool IsGetDarkOver() const { return darkCapturing; }
  char* GetBMPPath() { return bmpPath; }
  void GetDarkCount(int* taken, int* wanted) const;
  void GetHPSum(int* darkHot, int* hotPixels) const;
  int LoadBMPFromFile(const char* path);
  int SaveBMPToFile(const char* path);
  int CreateBMP(int width, int height, const unsigned char* pixels, const char* path);
  void AdjustDarkBuff(const uint32_t* src, uint32_t* dst);

  // ---- threads ----
  // Serialises the camera's settings and sensor programming between the
  // host's threads, the capture worker and its companion; see
  // core/CaptureEngine.h for who holds it when.
  using SensorMutex = std::recursive_mutex;
  SensorMutex& SensorLock() const { return sensorMutex_; }

  // ---- buffers, allocated when first needed ----
  // Bytes of the largest raw frame of this model (16-bit samples of the full sensor).
  size_t FrameBufferBytes() const;
  // Transfer buffers A and B (frame queue slots fill on their first frame).
  // False when memory runs out.
  bool EnsureFrameBuffers();
  // The frames only the image stages one after the other work in (the
  // one-pass delivery reads frames in their queue slot): the working frame,
  // and the full and binned colour frames. Made by frame delivery when a frame
  // first needs them, released by it (ReleaseStageFrames) when capture stops.
  bool EnsureWorkingFrame();
  bool EnsureColourFrames(bool full, bool binned);
  void ReleaseStageFrames();
  // The dark-frame tables (full and working dark frame, hot list and flags).
  bool EnsureDarkTables();
  // The hot-pixel maps and list.
  bool EnsureHotPixelTables();

  // ---- firmware ----
  // Rewrites the boot EEPROM of a USB 2 controller with a 0xC2 image through the
  // EEPROM loader program (found in the firmware folder), then restarts the
  // controller with the image; the device re-enumerates and must be reopened.
  bool UpdateFW(const unsigned char* image, long size);
  // The same with the loader program given (it runs from the controller's RAM).
  bool UpdateFW(const unsigned char* image, long size, const unsigned char* loader, long loaderSize);
  // FX3 boot image file to RAM, I2C EEPROM or SPI flash. Every image is checked whole first.
  FX3_FWDWNLOAD_ERROR_CODE DownloadFw(const char* path, FX3_FWDWNLOAD_MEDIA_TYPE media);
  FX3_FWDWNLOAD_ERROR_CODE DownloadFwToRam(const unsigned char* image, unsigned int size, unsigned char request);
  FX3_FWDWNLOAD_ERROR_CODE DownloadBuftoI2CE2PROM(const unsigned char* image, unsigned int size,
                                                  unsigned char request);
  FX3_FWDWNLOAD_ERROR_CODE DownloadBuftoSPIFLASH(const unsigned char* image, unsigned int size,
                                                 unsigned char request);
  bool IsBootLoaderRunning();
  // Starts the erase of a 64 KiB flash sector and polls until it is done (7 when it never is).
  FX3_FWDWNLOAD_ERROR_CODE EraseSectorOfSPIFlash(unsigned int sector, unsigned char request);
  // Flash program (0xC2) and read (0xC3) of at most 2048 bytes at a multiple of 256.
  bool WriteToSPIFlash(const unsigned char* data, unsigned int length, unsigned int address, unsigned char request);
  bool ReadFromSPIFlash(unsigned char* data, unsigned int length, unsigned int address, unsigned char request);
  // OpenCamera's firmware reload: when the firmware version read is below
  // `minimumVersion`, writes the model's image `imageName` from the firmware
  // folder with UpdateFW, cycles the port, waits for the device to come back and
  // reopens the ordinal-th device of the model (twice at most). True when the
  // camera is open afterwards; a missing or unsound image leaves the camera
  // open with the firmware it has (with one message on standard error).
  bool ReloadFirmwareIfOlder(int ordinal, unsigned char minimumVersion, const char* imageName);
  // OpenCamera of the USB 3 models: when the controller answers as its boot
  // loader, loads the FX3 boot image `imageName` from the firmware folder into
  // its RAM and reopens the ordinal-th device of the model once it runs. True
  // when the camera is open with its firmware; a missing or unsound image
  // closes the camera with one message on standard error.
  bool LoadBootImageIfBootLoader(int ordinal, const char* imageName);
  // Called during downloads with the bytes done and the bytes in all (may be empty).
  std::function<void(uint32_t done, uint32_t total)> firmwareProgress;

 private:
  bool DownloadBufferToDevice(unsigned int address, unsigned short length, const unsigned char* data,
                              unsigned char request);
  bool UploadBufferFromDevice(unsigned int address, unsigned short length, unsigned char* data,
                              unsigned char request);
  bool SetProgramEntry(unsigned char request, unsigned int address);
  // After the controller restarted: a new device object for the ordinal-th
  // device of the model, twice at most.
  bool ReopenAfterRestart(int ordinal);
  // A vendor request that also reports the bytes its data stage moved.
  bool FirmwareTransfer(unsigned char code, unsigned short value, unsigned short index, bool in, unsigned char* data,
                        uint32_t length, uint32_t timeoutMs, uint32_t* moved);
  void ReportProgress(uint32_t done, uint32_t total);

 public:
  // ---- hot pixels ----
  // Crops a full-sensor hot-pixel map (src) to the current region (dst) and
  // rebuilds the hot-pixel list from the region map.
  void AdjustHPCTable(const uint32_t* src, uint32_t* dst);
  // Stores the dark frame's hot pixels as the camera's hot-pixel map in its SPI flash.
  bool SaveHPCTable();
  // Reads the map from flash; a missing or corrupt map leaves the maps as they were.
  bool LoadHPCTable();
  // Empties the maps and stores an empty map in flash.
  bool ClearHPCTable();
  // Corrects the hot pixels of a working frame of sensorWidth x sensorHeight
  // samples (8-bit, or native 16-bit) from their same-colour neighbours: the
  // map's pixels while hpcEnabled, the dark frame's while useDark.
  void HandleHotPixels(uint8_t* frame, int sensorWidth, int sensorHeight, bool sixteenBit);
  // Pixels corrected in every frame at the present settings.
  int HotPixelsCorrectedPerFrame() const;
  // Hot pixels in the full-sensor map.
  int HotPixelsInMap() const;

  // ---- image stages ----
  void SoftMisc(unsigned char* frame);
  void Bayer2RGB24(const unsigned char* src, unsigned char* dst, int width, int height);
  void SetAutoPara(int maxGain, int maxExposure, int targetBrightness);
  void GetAutoPara(int* maxGain, int* maxExposure, int* targetBrightness) const;

  // ---- automatic exposure, gain and white balance, time mark (CameraAuto.cpp) ----
  // One exposure and gain step for a raw frame as received (`bytes` long, the
  // current window): the camera's values now and the new ones. Changes nothing.
  okc::imaging::AutoExposureDecision AutoExpGain(const uint8_t* rawFrame, size_t bytes);
  // Stores a step's exposure and gain through the model's SetExp and SetGain,
  // each only if it changed, its automatic mode is still on and no other
  // writer changed it since the step read it. True when something was stored.
  bool ApplyAutoExposure(const okc::imaging::AutoExposureDecision& decision);
  // One white-balance step for a raw Bayer frame as received; changes nothing.
  okc::imaging::WhiteBalanceDecision AutoWhiBal(const uint8_t* rawFrame, size_t bytes);
  // Sets a step's balance through the model's SetRGBBalance (with `autoWB`),
  // if it changed, `autoWB` is still on and the balance is still the one measured.
  bool ApplyWhiteBalance(const okc::imaging::WhiteBalanceDecision& decision);
  // Draws the local date and time into a delivered frame of width x height
  // pixels (IMAGE_8BIT or IMAGE_RGB24; other types are left alone).
  void AddTimeMark(unsigned char* frame, size_t bytes, int width, int height, IMAGE_TYPE type);

  // ---- fields, in declaration order ----
  std::atomic<bool> opened{false};
  CUsbDevice* device = nullptr;  // owned
  int32_t width;
  int32_t maxWidth;
  int32_t height;
  int32_t maxHeight;
  int32_t bin = 0;
  std::atomic<uint64_t> exposure{0};
  uint32_t exposureLines = 0;
  std::atomic<bool> longExposure{false};
  int32_t gain = 0;
  int32_t gamma = 0;
  int32_t brightness = 0;
  int32_t cmosClk = 0;
  bool output16Bits = false;
  bool rawOutput = false;
  uint16_t lineLength = 0;
  int32_t fpsPercent = 0;
  bool autoFps = false;
  bool flipRow = true;
  bool flipColumn = false;
  int32_t wbRed = 0;
  int32_t wbBlue = 0;
  bool autoExp = false;
  bool autoGain = false;
  bool autoWB = false;
  bool timeMark = false;
  int32_t startX = 0;
  int32_t startY = 0;
  // black level (RENM)
  int32_t blackLevelTimerMs = 0;
  bool autoBL = false;
  bool blackLevelFrozen = false;
  int8_t blackLevelEE = 0;
  int8_t blackLevelOO = 0;
  int8_t blackLevelEO = 0;
  int8_t blackLevelOE = 0;
  IMAGE_TYPE imageType = IMAGE_8BIT;
  int32_t autoGainMax = 50;
  int32_t autoExpMax = 30;
  int32_t destBrightness = 100;
  bool usb3Host = false;
  bool hpcEnabled = false;
  bool useDark = false;
  char bmpPath[256] = {};
  int32_t fpsPercentMin = 0;
  int32_t fpsPercentMax = 0;
  int32_t exposureMax = 0;
  const char* modelName = "";
  double pixelSize = 0.0;
  int32_t bayerPattern = 0;
  int32_t modelNumber = 0;
  bool bin2Supported = false;
  bool controlAvailable[7] = {};
  bool imgTypeSupported[4] = {};
  bool autoFpsSupported = false;
  bool isColor = false;
  uint8_t fwVersion = 0;
  int32_t histogram[256] = {};
  uint8_t toneTable8[256] = {};
  std::unique_ptr<uint16_t[]> toneTable16;
  uint32_t hotPixelCount = 0;
  std::unique_ptr<uint32_t[]> hotPixelList;
  std::unique_ptr<uint32_t[]> hotPixelMapFull;
  std::unique_ptr<uint32_t[]> hotPixelMapRegion;
  std::unique_ptr<uint32_t[]> darkFull;
  std::unique_ptr<uint32_t[]> darkWorking;
  bool darkCapturing = false;
  int32_t darkFramesWanted = 1;
  int32_t darkFramesTaken = 0;
  uint32_t darkMean = 0;
  uint32_t darkHotCount = 0;
  std::unique_ptr<uint32_t[]> darkHotList;
  std::unique_ptr<uint32_t[]> darkHotFlags;
  std::atomic<uint32_t> droppedFrames{0};
  std::unique_ptr<uint8_t[]> workingFrame;
  std::unique_ptr<uint8_t[]> colourFrame;
  std::unique_ptr<uint8_t[]> binnedColourFrame;
  std::unique_ptr<okc::core::FrameQueue> frameQueue;
  std::unique_ptr<uint8_t[]> transferBufferA;
  std::unique_ptr<uint8_t[]> transferBufferB;
  int32_t fpsPercentUsb3 = 0;
  // This camera's colour-matrix and balance tables.
  std::unique_ptr<okc::imaging::ColourTables> colourTables;
  // model-class fields
  std::thread captureThread;
  std::atomic<bool> capturing{false};

 protected:
  // Sets the constants, capability flags and defaults of a model (model construction step 3).
  void ApplyModelInfo(const okc::core::ModelInfo& info);
  // Creates the model's USB device and loads its stored settings (model construction steps 2 and 4).
  void CreateDeviceAndLoadSettings(void* windowHandle, const okc::core::ModelInfo& info);
  // Finds and opens the ordinal-th device (from 1) of the model and checks its manufacturer string
  // when asked; sets `opened`. The shared part of every model's OpenCamera.
  bool OpenDeviceByOrdinal(int ordinal, bool checkManufacturer);
  // Model destructors: stop capture, close and release the device.
  void ShutDown();
  // The shared part of a SetResolution whose window the sensor centres: takes a
  // window of bin 1 or 2 inside the array and a known type (with `pixelBlock`,
  // a pixel count that is a multiple of it), stores it centred and re-cuts the
  // dark frame. False, with nothing changed, for any other window.
  bool StoreCentredWindow(int newWidth, int newHeight, int newBin, IMAGE_TYPE type, int64_t pixelBlock = 1);
  // The shared part of SetStartPos: negative values become 0, odd ones the even
  // one below, the window stays inside the array; re-cuts the dark frame. False
  // for the full array, which has no room to move, or with no window set.
  bool StoreWindowStart(int x, int y);

  const okc::core::ModelInfo* modelInfo_ = nullptr;

 private:
  mutable SensorMutex sensorMutex_;

  // One vendor request: the control endpoint's fields and its transfer form one indivisible step.
  // `moved`, when given, receives the bytes the data stage moved (0 on failure).
  bool VendorTransfer(unsigned char code, unsigned short value, unsigned short index, bool in, unsigned char* data,
                      uint32_t length, uint32_t timeoutMs, bool keepTimeout,
                      uint32_t* moved = nullptr);
};
