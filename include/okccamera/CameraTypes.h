// Identifiers shared by the exported functions and the camera classes. The
// numbers are part of the exported interface.
#ifndef OKCCAMERA_CAMERA_TYPES_H
#define OKCCAMERA_CAMERA_TYPES_H

#ifdef __cplusplus
extern "C" {
#endif

typedef enum Control_TYPE {
  CTRL_GAIN = 0,
  CTRL_EXPOSURE = 1,
  CTRL_GAMMA = 2,
  CTRL_WB_RED = 3,
  CTRL_WB_BLUE = 4,
  CTRL_BRIGHTNESS = 5,
  CTRL_FPS_PERCENT = 6
} Control_TYPE;

/* Output format at the exported interface. */
typedef enum IMG_TYPE {
  IMGTYPE_RAW8 = 0,  /* 1 byte a pixel, the raw (Bayer) frame */
  IMGTYPE_RGB24 = 1, /* 3 bytes a pixel, blue, green, red */
  IMGTYPE_RAW16 = 2, /* 2 bytes a pixel, raw samples */
  IMGTYPE_Y8 = 3     /* 1 byte a pixel, luminance */
} IMG_TYPE;

/* Format inside the camera classes. */
typedef enum IMAGE_TYPE {
  IMAGE_8BIT = 0,
  IMAGE_RGB24 = 1,
  IMAGE_YUV422 = 2,
  IMAGE_16BIT_ALT = 3,
  IMAGE_16BIT = 4
} IMAGE_TYPE;

/* Guide directions; sent to the camera unchanged. Which line each drives is the camera's business. */
typedef enum GuideD {
  GUIDE_NORTH = 0,
  GUIDE_SOUTH = 1,
  GUIDE_EAST = 2,
  GUIDE_WEST = 3
} GuideD;

#ifdef __cplusplus
}
#endif

#endif
