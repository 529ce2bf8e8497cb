#include "tools/common/FitsFrame.h"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <vector>

namespace okccam {

namespace {

std::string FitsError(int status) {
  char text[FLEN_STATUS] = {};
  fits_get_errstatus(status, text);
  return text;
}

}  // namespace

void WriteFrameKeywords(fitsfile* file, const FrameInfo& info, int* status) {
  double exposure = info.exposureSeconds, temperature = info.temperatureC;
  double pixelX = info.pixelSizeUm * info.bin, pixelY = pixelX;
  int gain = info.gain, bin = info.bin;
  fits_update_key(file, TDOUBLE, "EXPTIME", &exposure, "exposure time [s]", status);
  fits_update_key(file, TINT, "GAIN", &gain, "sensor gain (0-100)", status);
  int autoExposure = info.autoExposure, autoGain = info.autoGain;
  fits_update_key(file, TLOGICAL, "AUTOEXP", &autoExposure, "exposure set by automatic exposure", status);
  fits_update_key(file, TLOGICAL, "AUTOGAIN", &autoGain, "gain set by automatic gain", status);
  fits_update_key(file, TINT, "XBINNING", &bin, "binning factor in x", status);
  fits_update_key(file, TINT, "YBINNING", &bin, "binning factor in y", status);
  fits_update_key(file, TDOUBLE, "CCD-TEMP", &temperature, "sensor temperature [C]", status);
  fits_update_key(file, TDOUBLE, "XPIXSZ", &pixelX, "pixel width incl. binning [um]", status);
  fits_update_key(file, TDOUBLE, "YPIXSZ", &pixelY, "pixel height incl. binning [um]", status);
  fits_update_key(file, TSTRING, "INSTRUME", const_cast<char*>(info.instrument.c_str()), "camera model", status);
  fits_update_key(file, TSTRING, "DATE-OBS", const_cast<char*>(info.dateObs.c_str()), "UTC start of exposure",
                  status);
  if (!info.dateEnd.empty())
    fits_update_key(file, TSTRING, "DATE-END", const_cast<char*>(info.dateEnd.c_str()), "UTC end of exposure",
                    status);
  if (info.offset >= 0) {
    int offset = info.offset;
    fits_update_key(file, TINT, "OFFSET", &offset, "camera brightness (black level offset)", status);
  }
  if (!info.imageType.empty())
    fits_update_key(file, TSTRING, "IMAGETYP", const_cast<char*>(info.imageType.c_str()), "type of frame", status);
  int xOrigin = info.xOrigin, yOrigin = info.yOrigin;
  fits_update_key(file, TINT, "XORGSUBF", &xOrigin, "subframe origin x [binned pixels]", status);
  fits_update_key(file, TINT, "YORGSUBF", &yOrigin, "subframe origin y [binned pixels]", status);
  if (!info.software.empty())
    fits_update_key(file, TSTRING, "SWCREATE", const_cast<char*>(info.software.c_str()), "program that wrote this file",
                    status);
  fits_update_key(file, TSTRING, "ROWORDER", const_cast<char*>("TOP-DOWN"), "first row is the top of the image",
                  status);
  if (!info.bayerPattern.empty()) {
    fits_update_key(file, TSTRING, "BAYERPAT", const_cast<char*>(info.bayerPattern.c_str()), "colour filter array",
                    status);
    int zero = 0;
    fits_update_key(file, TINT, "XBAYROFF", &zero, "Bayer x offset", status);
    fits_update_key(file, TINT, "YBAYROFF", &zero, "Bayer y offset", status);
  }
}

bool WriteFits(const std::string& path, const uint8_t* pixels, const FrameInfo& info, std::string* error) {
  int status = 0;
  fitsfile* file = nullptr;
  std::remove(path.c_str());  // cfitsio refuses to overwrite (a stale temporary file)
  if (fits_create_file(&file, path.c_str(), &status)) {
    *error = "cannot create " + path + ": " + FitsError(status);
    return false;
  }
  const long w = info.width, h = info.height;
  const long plane = w * h;
  if (info.bytesPerPixel == 3) {
    long axes[3] = {w, h, 3};
    fits_create_img(file, BYTE_IMG, 3, axes, &status);
    // Delivered colour pixels are B, G, R; FITS planes are red, green, blue.
    std::vector<uint8_t> planes(static_cast<size_t>(plane) * 3);
    for (long i = 0; i < plane; ++i) {
      planes[i] = pixels[3 * i + 2];
      planes[plane + i] = pixels[3 * i + 1];
      planes[2 * plane + i] = pixels[3 * i];
    }
    fits_write_img(file, TBYTE, 1, plane * 3, planes.data(), &status);
  } else if (info.bytesPerPixel == 2) {
    long axes[2] = {w, h};
    fits_create_img(file, USHORT_IMG, 2, axes, &status);
    std::vector<uint16_t> samples(static_cast<size_t>(plane));
    std::memcpy(samples.data(), pixels, samples.size() * 2);
    fits_write_img(file, TUSHORT, 1, plane, samples.data(), &status);
  } else {
    long axes[2] = {w, h};
    fits_create_img(file, BYTE_IMG, 2, axes, &status);
    fits_write_img(file, TBYTE, 1, plane, const_cast<uint8_t*>(pixels), &status);
  }
  WriteFrameKeywords(file, info, &status);
  int closeStatus = 0;
  fits_close_file(file, &closeStatus);
  if (status || closeStatus) {
    *error = "cannot write " + path + ": " + FitsError(status ? status : closeStatus);
    return false;
  }
  return true;
}

std::string IsoUtc(int64_t unixUs) {
  const int64_t ms = unixUs / 1000 - (unixUs % 1000 < 0 ? 1 : 0);
  const std::time_t t = static_cast<std::time_t>(ms / 1000);
  std::tm tm{};
  gmtime_r(&t, &tm);
  char text[64];
  std::snprintf(text, sizeof(text), "%04d-%02d-%02dT%02d:%02d:%02d.%03d", tm.tm_year + 1900, tm.tm_mon + 1,
                tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<int>(ms % 1000));
  return text;
}

}  // namespace okccam
