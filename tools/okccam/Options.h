// Command-line options of okccam: `okccam COMMAND [--name value]...`.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace okccam {

class Options {
 public:
  // Parses argv[2..]; every option in `allowed` takes one value, every one in
  // `flags` none; -h and --help ask for the command's help. False with a
  // message on error.
  bool Parse(int argc, char** argv, const std::vector<std::string>& allowed, std::string* error,
             const std::vector<std::string>& flags = {});
  std::optional<std::string> Get(const std::string& name) const;
  // True when the flag was given.
  bool Has(const std::string& name) const { return values_.count(name) > 0; }
  // -h or --help was given.
  bool HelpWanted() const { return help_; }
  // Whole number within [min, max]; false with a message when it is not.
  bool GetInt(const std::string& name, long long min, long long max, long long* out, std::string* error) const;

 private:
  std::map<std::string, std::string> values_;
  bool help_ = false;
};

}  // namespace okccam
