#include "Help.h"

#include <cstring>

namespace okccam {

namespace {

constexpr const char* kCommonOptions =
    "common options:\n"
    "  --sim MODEL[,MODEL...]  use simulated cameras instead of USB ones\n"
    "                          (models: TAVM TAVC RENM SELC SELM PIMC DORC TAVM-U TAVC-U);\n"
    "                          their stored settings are kept apart from real cameras'\n"
    "  --sim-no-noise          simulated frames without shot and read noise (reproducible)\n"
    "  --camera N              the camera to use (default 0, see okccam list)\n"
    "  --firmware-dir DIR      the folder of firmware images, for cameras that need new firmware\n"
    "  -h, --help              this help\n";

struct CommandHelp {
  const char* name;
  const char* text;
};

constexpr CommandHelp kHelp[] = {
    {"list",
     "usage: okccam list [--sim MODELS]\n"
     "The attached cameras with their index and model, then the USB identity read from each.\n"},
    {"info",
     "usage: okccam info [--camera N] [--sim MODELS]\n"
     "Properties of a camera: sensor, colour filter pattern, binning, the region as delivered,\n"
     "formats, controls with their ranges and current values, temperature. Models this\n"
     "library cannot stream from yet show their fixed properties only.\n"},
    {"capture",
     "usage: okccam capture --out DIR [options]\n"
     "Captures frames into DIR: one FITS or PNG file per frame, or one SER video.\n"
     "Files are numbered PREFIX-00001.EXT on; a new run continues after the highest\n"
     "number in DIR and never replaces a file unless --overwrite is given. Each file is\n"
     "written under a temporary name and renamed when complete. Ctrl-C stops after the\n"
     "current frame and prints the summary.\n"
     "  --out DIR               output folder, created when missing (required)\n"
     "  --frames N              frames to capture (default 1; 0: until Ctrl-C)\n"
     "  --exposure-us U         exposure in microseconds (default: the camera's stored value)\n"
     "  --gain G                gain 0-100 (default: the camera's stored value)\n"
     "  --bin B                 binning 1 or 2 (default 1)\n"
     "  --format F              raw8, raw16, rgb24 or y8 (default raw8)\n"
     "  --roi W,H[,X,Y]         region in pixels of the delivered image (after binning and\n"
     "                          mirroring), X,Y its top-left corner (default: whole frame;\n"
     "                          without X,Y the region is centred)\n"
     "  --file-format F         fits, png or ser (default fits)\n"
     "  --frame-type T          light, dark, flat or bias: FITS IMAGETYP (default light)\n"
     "  --prefix NAME           file name prefix (default frame, or video for ser)\n"
     "  --overwrite             start at number 1 and replace files of the same name\n"
     "  --auto-exposure, --auto-gain, --auto-wb\n"
     "                          automatic modes, starting from the given values; each\n"
     "                          frame's exposure, gain, balance and mean are printed\n"
     "  --target-brightness B   target of the automatic modes, 0-255\n"
     "  --timestamp             the date and time drawn into each frame\n"},
    {"guide",
     "usage: okccam guide [--camera N] --direction north|south|east|west --ms M\n"
     "One pulse of M milliseconds (0-60000) on the camera's guide port.\n"},
    {"firmware",
     "usage: okccam firmware [--camera N] --file F [--media ram|eeprom|flash]\n"
     "Writes an FX3 boot image file to the camera's controller (default: ram), with a\n"
     "progress bar. A malformed file is refused before the camera is opened.\n"},
    {"hotpixels",
     "usage: okccam hotpixels [--camera N] --save --dark FILE.bmp | --load | --clear\n"
     "The hot-pixel map in the camera's flash: stored from a dark frame's hot pixels,\n"
     "read back and applied, or cleared.\n"},
};

}  // namespace

void PrintUsage(FILE* out) {
  std::fprintf(out,
               "usage: okccam COMMAND [options]\n"
               "commands:\n"
               "  list      attached cameras with their index, model and USB identity\n"
               "  info      properties, controls, formats and temperature of a camera\n"
               "  capture   capture frames into FITS, PNG or SER files\n"
               "  guide     one pulse on the guide port\n"
               "  firmware  write an FX3 boot image file to the camera's controller\n"
               "  hotpixels the hot-pixel map in the camera's flash\n"
               "okccam COMMAND --help shows a command's options; okccam --version the version.\n%s",
               kCommonOptions);
}

int PrintCommandHelp(const std::string& command) {
  for (const CommandHelp& help : kHelp) {
    if (command == help.name) {
      std::printf("%s%s", help.text, kCommonOptions);
      return 0;
    }
  }
  PrintUsage(stdout);
  return 0;
}

void PrintVersion() { std::printf("okccam %s (OKCCamera library)\n", OKCCAM_VERSION); }

}  // namespace okccam
