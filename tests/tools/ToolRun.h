// Runs the built okccam program for end-to-end tests and collects what it said.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <string>

namespace okc::test {

struct ToolRun {
  int exitCode = -1;
  std::string output;  // standard output and standard error together
};

// Runs `okccam ARGS` through the shell, so that `prefix` may set limits first.
inline ToolRun RunOkccam(const std::string& args, const std::string& prefix = "") {
  ToolRun run;
  const std::string command = prefix + std::string(OKCCAM_PATH) + " " + args + " 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return run;
  char buffer[512];
  while (fgets(buffer, sizeof(buffer), pipe)) run.output += buffer;
  const int status = pclose(pipe);
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

}  // namespace okc::test
