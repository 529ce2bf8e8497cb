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
               "every command accepts --sim MODEL[,MODEL...] to use simulated cameras\n"
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
  std::fprintf(stderr, "okccam: unknown command '%s' (try okccam --help)\n", command.c_str());
  return 2;
}
