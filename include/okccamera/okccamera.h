/* OKCCamera: the exported plain functions. Callable from C and C++.
 *
 * Typical use: getNumberOfConnectedCameras, openCamera, initCamera,
 * setImageFormat, setValue..., startCapture, getImageData..., stopCapture,
 * closeCamera. The library serves one camera at a time; with no open camera
 * every function returns a neutral value. */
#ifndef OKCCAMERA_OKCCAMERA_H
#define OKCCAMERA_OKCCAMERA_H

#include <stdbool.h>

#include "okccamera/CameraTypes.h"
#include "okccamera/Export.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- enumeration and selection ---- */
OKC_API int getNumberOfConnectedCameras(void);
OKC_API bool openCamera(int index);
OKC_API bool initCamera(void);
OKC_API void closeCamera(void);
OKC_API const char* getCameraModel(int index);

/* ---- properties and geometry ---- */
OKC_API bool isColorCam(void);
OKC_API double getPixelSize(void);
OKC_API int getColorBayer(void);
OKC_API int getMaxWidth(void);
OKC_API int getMaxHeight(void);
OKC_API int getWidth(void);
OKC_API int getHeight(void);
OKC_API int getBin(void);
OKC_API bool isBinSupported(int bin);
OKC_API bool isAvailable(Control_TYPE control);
OKC_API bool isImgTypeSupported(IMG_TYPE type);
OKC_API int getStartX(void);
OKC_API int getStartY(void);
OKC_API bool setStartPos(int x, int y);

/* ---- controls ---- */
OKC_API void setValue(Control_TYPE control, int value, bool automatic);
OKC_API int getValue(Control_TYPE control, bool* automatic);
OKC_API int getMin(Control_TYPE control);
OKC_API int getMax(Control_TYPE control);
OKC_API bool isAutoSupported(Control_TYPE control);
OKC_API void setAutoPara(int maxGain, int maxExposure, int targetBrightness);
OKC_API void getAutoPara(int* maxGain, int* maxExposure, int* targetBrightness);

/* ---- format and capture ----
 * getImageData: writes the next frame into buffer in the current format,
 * getWidth() x getHeight() pixels of 1 (RAW8, Y8), 3 (RGB24: blue, green, red)
 * or 2 (RAW16, native 16-bit) bytes. size is the buffer's size in bytes; when
 * it is smaller than that image (or buffer is null) the call returns false and
 * writes nothing. timeoutMs 0 returns at once when no frame is waiting,
 * 0xFFFFFFFF waits without limit; a wait ends early, with false, once capture
 * has stopped or the camera has left the bus. */
OKC_API bool setImageFormat(int width, int height, int bin, IMG_TYPE type);
OKC_API IMG_TYPE getImgType(void);
OKC_API void startCapture(void);
OKC_API void stopCapture(void);
OKC_API bool getImageData(unsigned char* buffer, int size, unsigned long timeoutMs);

/* ---- extras ---- */
OKC_API void addTimestamp(bool on);
OKC_API bool isTimestampAdded(void);
OKC_API float getSensorTemp(void);
OKC_API unsigned int getDroppedFrames(void);
OKC_API bool SetMisc(bool flipRow, bool flipColumn);
OKC_API void GetMisc(bool* flipRow, bool* flipColumn);
OKC_API void pulseGuide(GuideD direction, int durationMs);
OKC_API bool EnableDarkSubtract(char* bmpPath);
OKC_API void DisableDarkSubtract(void);

/* ---- simulated cameras ----
 * Replaces the real USB backend by a simulated bus carrying the listed models,
 * e.g. "TAVC,TAVM-U" (names as in the model strings, without "YRA OKC").
 * Returns the number of simulated cameras attached, or -1 when a name is unknown
 * (nothing changes then). okcUseRealCameras goes back to libusb. */
OKC_API int okcUseSimulatedCameras(const char* models);
OKC_API void okcUseRealCameras(void);

/* ---- frame metadata ----
 * What is known about the frame getImageData last delivered. Times are
 * microseconds: UTC since 1970-01-01 (wall clock) and CLOCK_MONOTONIC. The
 * camera does not time-stamp frames: the end is when the frame's last USB
 * transfer completed, the start that time less the readout (the spread of
 * the frame's transfers) and the exposure time, an estimate good to a few
 * milliseconds. `sequence` numbers every frame the camera sent in this
 * capture run from 1, so a gap between two delivered frames shows how many
 * were lost. The region is the delivered window: `width` x `height` pixels at
 * `bin`, taken from the sensor at (`startX`, `startY`) in sensor pixels before
 * any mirroring, then mirrored left-right (`flipRow`) and/or top-bottom
 * (`flipColumn`). */
typedef struct OKCFrameInfo {
  unsigned long long sequence;
  long long startUtcUs;
  long long endUtcUs;
  long long startMonotonicUs;
  long long endMonotonicUs;
  unsigned int exposureUs;
  int gain;
  int width;
  int height;
  int bin;
  int startX;
  int startY;
  bool flipRow;
  bool flipColumn;
} OKCFrameInfo;

/* Fills *info for the frame getImageData last delivered; false (nothing
 * written) when no frame has been delivered since the camera was opened or
 * the camera's model does not stream yet. */
OKC_API bool okcGetFrameInfo(OKCFrameInfo* info);

/* The frames dropped in the current capture run (getDroppedFrames is their
 * sum), split by cause: lostByCamera counts frames that the camera or the
 * USB transfer spoiled (incomplete or without their start mark);
 * notCollected counts whole frames discarded because the host had not taken
 * the two frames waiting before them. Either pointer may be null. False when
 * no camera is open (both set to 0). */
OKC_API bool okcGetDropCounts(unsigned int* lostByCamera, unsigned int* notCollected);

/* ---- firmware ----
 * Firmware images are files. okcSetFirmwareFolder makes the library look for
 * the images it needs (a camera's firmware renewed when it opens) in one folder;
 * NULL or "" goes back to $XDG_DATA_HOME/okccamera/firmware (default
 * ~/.local/share/okccamera/firmware), /usr/share/okccamera/firmware and
 * /lib/firmware/okccamera, searched in that order.
 * media: 1 controller RAM, 2 I2C EEPROM, 3 SPI flash. Results are the codes of
 * FX3_FWDWNLOAD_ERROR_CODE (0 success); okcFirmwareResultText describes one.
 * okcCheckFirmwareFile judges a boot image file for a medium without a camera;
 * okcDownloadFirmware checks it again and writes it to the current camera,
 * calling progress (may be NULL) with the bytes done and the bytes in all. */
typedef void (*okcProgressCallback)(unsigned int done, unsigned int total, void* user);
void okcSetFirmwareFolder(const char* path);
int okcCheckFirmwareFile(const char* path, int media);
int okcDownloadFirmware(const char* path, int media, okcProgressCallback progress, void* user);
const char* okcFirmwareResultText(int code);

/* ---- hot pixels ----
 * The camera keeps a hot-pixel map in its flash. okcSaveHotPixels stores the
 * hot pixels of the current dark frame as that map, okcLoadHotPixels reads it
 * back; both switch the map's correction on when they succeed. okcClearHotPixels
 * switches it off and stores an empty map. okcGetHotPixelCount: pixels corrected
 * in every frame now (the map's in the current region while its correction is
 * on, plus the dark frame's while dark subtraction is on); okcGetHotPixelMapCount:
 * pixels in the whole map. */
bool okcSaveHotPixels(void);
bool okcLoadHotPixels(void);
bool okcClearHotPixels(void);
int okcGetHotPixelCount(void);
int okcGetHotPixelMapCount(void);

/* ---- the camera's controller ----
 * okcGetFirmwareVersion: the version the controller's firmware reported when
 * the camera was opened or initialised (0 when unknown or no camera).
 * okcIsUsb3Host: the USB 3 models run on a USB 3 host link (known after
 * initCamera; false on a USB 2 link and on the USB 2 models).
 * okcIsHotPixelCorrectionOn: the camera's hot-pixel map is applied to frames. */
int okcGetFirmwareVersion(void);
bool okcIsUsb3Host(void);
bool okcIsHotPixelCorrectionOn(void);

#ifdef __cplusplus
}
#endif

#endif
