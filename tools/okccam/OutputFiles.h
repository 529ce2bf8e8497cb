// Numbered output files (PREFIX-00001.fits, ...) that never replace a file by
// accident and never show half-written: each file is written under a hidden
// temporary name in the same folder and renamed once it is complete.
#pragma once

#include <string>

namespace okccam {

class OutputFiles {
 public:
  // Files `dir`/`prefix`-NNNNN.`extension`. A new series continues after the
  // highest number already in the folder; with `overwrite` it starts at 1 and
  // replaces files of the same name.
  OutputFiles(std::string dir, std::string prefix, std::string extension, bool overwrite);

  // The temporary name the next file is written to (a stale one is removed).
  std::string TemporaryPath();
  // Gives the finished temporary file its final name, the next free number
  // (a file that appeared meanwhile is never replaced without `overwrite`).
  // False with a message; the temporary file is then removed.
  bool Publish(std::string* finalPath, std::string* error);
  // Removes the temporary file of a write that failed or was abandoned.
  void Discard();
  int NextNumber() const { return next_; }

 private:
  std::string PathOf(int number) const;

  std::string dir_;
  std::string prefix_;
  std::string extension_;
  bool overwrite_;
  int next_ = 1;
};

}  // namespace okccam
