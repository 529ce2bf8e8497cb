/* Resident memory of a host program that drives a simulated TAVC through the
 * exported C functions: after loading, after opening and initialising the
 * camera, and while it captures full 16-bit frames. Prints the growth over
 * the loaded program in MB (the simulated camera included). */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <okccamera/okccamera.h>

static double ResidentMb(void) {
  FILE* status = fopen("/proc/self/status", "r");
  char line[256];
  double mb = 0;
  if (!status) return 0;
  while (fgets(line, sizeof line, status))
    if (strncmp(line, "VmRSS:", 6) == 0) mb = atof(line + 6) / 1024.0;
  fclose(status);
  return mb;
}

int main(void) {
  const double loaded = ResidentMb();
  if (okcUseSimulatedCameras("TAVC") != 1 || !openCamera(0) || !initCamera()) {
    fprintf(stderr, "no simulated TAVC\n");
    return 1;
  }
  const double opened = ResidentMb();
  const int width = getMaxWidth(), height = getMaxHeight();
  setValue(CTRL_EXPOSURE, 2000, false);
  if (!setImageFormat(width, height, 1, IMGTYPE_RAW16)) return 1;
  const int bytes = width * height * 2;
  unsigned char* frame = malloc((size_t)bytes);
  startCapture();
  int frames = 0;
  for (int i = 0; i < 10; ++i) frames += getImageData(frame, bytes, 5000);
  const double capturing = ResidentMb();
  stopCapture();
  closeCamera();
  free(frame);
  printf("opened camera: +%.1f MB\n", opened - loaded);
  printf("capturing full 16-bit frames (%d taken): +%.1f MB\n", frames, capturing - loaded);
  return frames > 0 ? 0 : 1;
}
