/* Resident memory of a host program that drives a simulated TAVC through the
 * exported C functions: after loading, after opening and initialising the
 * camera, while it captures full frames in a few formats, and after capture
 * stopped. Prints the growth over the loaded program in MB (the simulated
 * camera included).
 *
 * The exposure is short, so every frame also waits for its successor before
 * it is delivered. RGB24, Y8 and 16-bit frames are delivered in one pass from
 * their slot in the frame queue; binned 16-bit frames take the image stages,
 * which work in a working frame of their own. */
#include <malloc.h>
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

/* Captures `count` frames of a format and returns how many came. */
static int Capture(int width, int height, int bin, IMG_TYPE type, int bytesPerPixel, unsigned char* frame,
                   int count) {
  const int w = width / bin, h = height / bin;
  const int bytes = w * h * bytesPerPixel;
  int frames = 0;
  if (!setImageFormat(w, h, bin, type)) return 0;
  startCapture();
  for (int i = 0; i < count; ++i) frames += getImageData(frame, bytes, 5000);
  return frames;
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
  unsigned char* frame = malloc((size_t)width * height * 3);
  if (!frame) return 1;

  struct {
    const char* name;
    int bin;
    IMG_TYPE type;
    int bytesPerPixel;
  } const formats[] = {
      {"full 16-bit frames", 1, IMGTYPE_RAW16, 2},
      {"full RGB24 frames", 1, IMGTYPE_RGB24, 3},
      {"full Y8 frames", 1, IMGTYPE_Y8, 1},
      {"16-bit frames binned by 2 (image stages)", 2, IMGTYPE_RAW16, 2},
  };
  int ok = 1;
  printf("opened camera: +%.1f MB\n", opened - loaded);
  for (size_t f = 0; f < sizeof formats / sizeof formats[0]; ++f) {
    const int frames = Capture(width, height, formats[f].bin, formats[f].type, formats[f].bytesPerPixel, frame, 10);
    printf("capturing %s (%d taken): +%.1f MB\n", formats[f].name, frames, ResidentMb() - loaded);
    ok = ok && frames > 0;
  }
  stopCapture();
  /* Freed blocks the allocator keeps for reuse still count as resident: hand
   * them back first, so the figure shows what the library still holds. */
  malloc_trim(0);
  printf("capture stopped: +%.1f MB\n", ResidentMb() - loaded);
  closeCamera();
  free(frame);
  return ok ? 0 : 1;
}
