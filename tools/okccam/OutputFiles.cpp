#include "OutputFiles.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace okccam {

namespace {

constexpr int kMaxNumber = 99999;

// The number of NAME = PREFIX-NNNNN.EXT; 0 for other names.
int NumberOf(const std::string& name, const std::string& prefix, const std::string& extension) {
  const std::string head = prefix + "-", tail = "." + extension;
  if (name.size() <= head.size() + tail.size() || name.rfind(head, 0) != 0 ||
      name.compare(name.size() - tail.size(), tail.size(), tail) != 0)
    return 0;
  const std::string digits = name.substr(head.size(), name.size() - head.size() - tail.size());
  if (digits.size() < 5 || digits.size() > 9) return 0;
  for (char c : digits)
    if (c < '0' || c > '9') return 0;
  return std::stoi(digits);
}

}  // namespace

OutputFiles::OutputFiles(std::string dir, std::string prefix, std::string extension, bool overwrite)
    : dir_(std::move(dir)), prefix_(std::move(prefix)), extension_(std::move(extension)), overwrite_(overwrite) {
  if (overwrite_) return;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(dir_, ec)) {
    const int number = NumberOf(entry.path().filename().string(), prefix_, extension_);
    if (number >= next_) next_ = number + 1;
  }
}

std::string OutputFiles::PathOf(int number) const {
  char name[32];
  std::snprintf(name, sizeof(name), "-%05d.", number);
  return dir_ + "/" + prefix_ + name + extension_;
}

std::string OutputFiles::TemporaryPath() {
  const std::string path = dir_ + "/." + prefix_ + "." + extension_ + ".part";
  std::remove(path.c_str());
  return path;
}

bool OutputFiles::Publish(std::string* finalPath, std::string* error) {
  const std::string temporary = dir_ + "/." + prefix_ + "." + extension_ + ".part";
  for (; next_ <= kMaxNumber; ++next_) {
    const std::string path = PathOf(next_);
    if (overwrite_) {
      if (std::rename(temporary.c_str(), path.c_str()) != 0) break;
    } else {
      // A hard link fails when the name is taken: no window in which another
      // program's file could be replaced.
      if (link(temporary.c_str(), path.c_str()) == 0) {
        unlink(temporary.c_str());
      } else if (errno == EEXIST) {
        continue;
      } else {
        // A file system without hard links: check, then rename.
        if (access(path.c_str(), F_OK) == 0) continue;
        if (std::rename(temporary.c_str(), path.c_str()) != 0) break;
      }
    }
    *finalPath = path;
    ++next_;
    return true;
  }
  *error = next_ > kMaxNumber ? "no free file number left for " + PathOf(kMaxNumber)
                              : "cannot name " + PathOf(next_) + ": " + std::strerror(errno);
  Discard();
  return false;
}

void OutputFiles::Discard() {
  const std::string temporary = dir_ + "/." + prefix_ + "." + extension_ + ".part";
  std::remove(temporary.c_str());
}

}  // namespace okccam
