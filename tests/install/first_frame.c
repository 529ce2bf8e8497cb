/* A first program against the installed library: one frame from a simulated
 * TAVC, with its metadata. Exits 0 when the frame and its metadata arrived. */
#include <okccamera/okccamera.h>
#include <stdio.h>
#include <stdlib.h>

int main(void) {
  if (okcUseSimulatedCameras("TAVC") != 1 || getNumberOfConnectedCameras() != 1) return 1;
  if (!openCamera(0) || !initCamera()) return 2;
  if (!setImageFormat(320, 240, 1, IMGTYPE_RAW8)) return 3;
  setValue(CTRL_EXPOSURE, 10000, false);
  unsigned char* frame = malloc(320 * 240);
  if (!frame) return 4;
  startCapture();
  const bool got = getImageData(frame, 320 * 240, 5000);
  OKCFrameInfo info;
  const bool described = got && okcGetFrameInfo(&info);
  stopCapture();
  closeCamera();
  free(frame);
  if (!described) return 5;
  printf("%s: frame %llu, %d x %d, exposure %u us\n", getCameraModel(0), info.sequence, info.width, info.height,
         info.exposureUs);
  return info.width == 320 && info.height == 240 && info.exposureUs == 10000 ? 0 : 6;
}
