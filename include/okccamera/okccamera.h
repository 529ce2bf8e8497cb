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

#ifdef __cplusplus
extern "C" {
#endif

/* ---- enumeration and selection ---- */
int getNumberOfConnectedCameras(void);
bool openCamera(int index);
bool initCamera(void);
void closeCamera(void);
const char* getCameraModel(int index);

/* ---- properties and geometry ---- */
bool isColorCam(void);
double getPixelSize(void);
int getColorBayer(void);
int getMaxWidth(void);
int getMaxHeight(void);
int getWidth(void);
int getHeight(void);
int getBin(void);
bool isBinSupported(int bin);
bool isAvailable(Control_TYPE control);
bool isImgTypeSupported(IMG_TYPE type);
int getStartX(void);
int getStartY(void);
bool setStartPos(int x, int y);

/* ---- controls ---- */
void setValue(Control_TYPE control, int value, bool automatic);
int getValue(Control_TYPE control, bool* automatic);
int getMin(Control_TYPE control);
int getMax(Control_TYPE control);
bool isAutoSupported(Control_TYPE control);
void setAutoPara(int maxGain, int maxExposure, int targetBrightness);
void getAutoPara(int* maxGain, int* maxExposure, int* targetBrightness);

/* ---- format and capture ----
 * getImageData: writes the next frame into buffer in the current format,
 * getWidth() x getHeight() pixels of 1 (RAW8, Y8), 3 (RGB24: blue, green, red)
 * or 2 (RAW16, native 16-bit) bytes. size is the buffer's size in bytes; when
 * it is smaller than that image (or buffer is null) the call returns false and
 * writes nothing. timeoutMs 0 returns at once when no frame is waiting,
 * 0xFFFFFFFF waits without limit; a wait ends early, with false, once capture
 * has stopped or the camera has left the bus. */
bool setImageFormat(int width, int height, int bin, IMG_TYPE type);
IMG_TYPE getImgType(void);
void startCapture(void);
void stopCapture(void);
bool getImageData(unsigned char* buffer, int size, unsigned long timeoutMs);

/* ---- extras ---- */
void addTimestamp(bool on);
bool isTimestampAdded(void);
float getSensorTemp(void);
unsigned int getDroppedFrames(void);
bool SetMisc(bool flipRow, bool flipColumn);
void GetMisc(bool* flipRow, bool* flipColumn);
void pulseGuide(GuideD direction, int durationMs);
bool EnableDarkSubtract(char* bmpPath);
void DisableDarkSubtract(void);

/* ---- simulated cameras ----
 * Replaces the real USB backend by a simulated bus carrying the listed models,
 * e.g. "TAVC,TAVM-U" (names as in the model strings, without "YRA OKC").
 * Returns the number of simulated cameras attached, or -1 when a name is unknown
 * (nothing changes then). okcUseRealCameras goes back to libusb. */
int okcUseSimulatedCameras(const char* models);
void okcUseRealCameras(void);

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
