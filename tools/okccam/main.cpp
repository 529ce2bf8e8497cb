// okccam: list, inspect and use OKCCamera cameras from the command line.
#include <cstdio>
#include <cstring>
#include <string>

#include "Commands.h"
#include "Help.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    okccam::PrintUsage(stderr);
    return 2;
  }
  if (!std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h") || !std::strcmp(argv[1], "help")) {
    if (argc > 2) return okccam::PrintCommandHelp(argv[2]);
    okccam::PrintUsage(stdout);
    return 0;
  }
  if (!std::strcmp(argv[1], "--version")) {
    okccam::PrintVersion();
    return 0;
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
