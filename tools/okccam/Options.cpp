#include "Options.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>

namespace okccam {

bool Options::Parse(int argc, char** argv, const std::vector<std::string>& allowed, std::string* error,
                    const std::vector<std::string>& flags) {
  for (int i = 2; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "-h" || arg == "--help") {
      help_ = true;
      continue;
    }
    if (arg.rfind("--", 0) != 0) {
      *error = "unexpected argument '" + arg + "'";
      return false;
    }
    std::string name = arg.substr(2), value;
    if (std::find(flags.begin(), flags.end(), name) != flags.end()) {
      values_[name] = "";
      continue;
    }
    const size_t eq = name.find('=');
    if (eq != std::string::npos) {
      value = name.substr(eq + 1);
      name = name.substr(0, eq);
    } else if (i + 1 < argc) {
      value = argv[++i];
    } else {
      *error = "option --" + name + " needs a value";
      return false;
    }
    if (std::find(allowed.begin(), allowed.end(), name) == allowed.end()) {
      *error = "unknown option --" + name;
      return false;
    }
    values_[name] = value;
  }
  return true;
}

std::optional<std::string> Options::Get(const std::string& name) const {
  auto it = values_.find(name);
  if (it == values_.end()) return std::nullopt;
  return it->second;
}

bool Options::GetInt(const std::string& name, long long min, long long max, long long* out,
                     std::string* error) const {
  auto text = Get(name);
  if (!text) return true;
  errno = 0;
  char* end = nullptr;
  const long long v = std::strtoll(text->c_str(), &end, 10);
  if (errno != 0 || end == text->c_str() || *end != '\0' || v < min || v > max) {
    *error = "--" + name + " must be a whole number from " + std::to_string(min) + " to " + std::to_string(max);
    return false;
  }
  *out = v;
  return true;
}

}  // namespace okccam
