// okccam's help texts: the overview and one page per command, with defaults.
#pragma once

#include <cstdio>
#include <string>

namespace okccam {

// The overview of all commands.
void PrintUsage(FILE* out);
// The help of one command on standard output; returns the exit code 0.
int PrintCommandHelp(const std::string& command);
// "okccam 0.1.0" and the library it was built with.
void PrintVersion();

}  // namespace okccam
