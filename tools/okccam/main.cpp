// okccam: list, inspect and use OKCCamera cameras from the command line.
#include <cstdio>
#include <cstring>
#include <string>

#include "Commands.h"

namespace {

void PrintUsage() {
  std::fprintf(stderr,
               "usage: okccam COMMAND [options]\n"
               "commands:\n"
               "  list                 attached cameras with their index, model and USB identity\n"
               "  info [--camera N]    properties, controls, formats and temperature of a camera\n"
               "  capture [--camera N] --frames N [--exposure-us U] [--gain G] [--bin B]\n"
               "          [--format raw8|raw16|rgb24|y8] [--roi W,H[,X,Y]] [--file-format fits|png] --out DIR\n"
               "          [--auto-exposure] [--auto-gain] [--auto-wb] [--target-brightness 0-255] [--timestamp]\n"
               "                       capture frames into DIR, one file each; with an automatic mode\n"
               "                       each frame's exposure, gain and balance are printed\n"
               "  guide [--camera N] --direction north|south|east|west --ms M\n"
               "                       one pulse on the guide port\n"
               "  firmware [--camera N] --file F [--media ram|eeprom|flash]\n"
               "                       write an FX3 boot image file to the camera (default: ram)\n"
               "  hotpixels [--camera N] --save --dark FILE.bmp | --load | --clear\n"
               "                       the hot-pixel map in the camera's flash\n"
               "every command accepts --sim MODEL[,MODEL...] to use simulated cameras\n"
               "and --firmware-dir DIR, the folder of firmware images for cameras that need new firmware\n"
               "  (models: TAVM TAVC RENM SELC SELM PIMC DORC TAVM-U TAVC-U)\n");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || !std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "help")) {
    PrintUsage();
    return argc < 2 ? 2 : 0;
  }
  const std::string command = argv[1];
  if (command == "list") return okccam::RunList(argc, argv);
  if (command == "info") return okccam::RunInfo(argc, argv);
  if (command == "capture") return okccam::RunCapture(argc, argv);
  if (command == "guide") return okccam::RunGuide(argc, argv);
  if (command == "firmware") return okccam::RunFirmware(argc, argv);
  if (command == "hotpixels") return okccam::RunHotPixels(argc, argv);
  std::fprintf(stderr, "okccam: unknown command '%s' (try okccam --help)\n", command.c_str());
  return 2;
}
