#include "platform/MessageBox.h"

#include <cstdio>

namespace okc::platform {

void ShowMessageBox(const char* text, const char* caption) {
  std::fprintf(stderr, "%s: %s\n", caption ? caption : "", text ? text : "");
  std::fflush(stderr);
}

}  // namespace okc::platform
