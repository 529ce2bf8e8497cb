// Runs the built okccam program for end-to-end tests and collects what it said;
// a fixture with a scratch folder for its files and settings, and a reader of
// the FITS files it writes.
#pragma once

#include <fitsio.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

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

// Each test gets a scratch folder; the program's stored settings (dir/config)
// and installed data (dir/data, so no firmware is found) stay inside it.
class ToolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "okccam-test-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir = pattern;
    setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
    setenv("XDG_DATA_HOME", (dir / "data").c_str(), 1);
  }
  void TearDown() override { std::filesystem::remove_all(dir); }
  std::filesystem::path dir;
};

// A FITS file opened for reading, closed when it goes. Missing keys read as
// "<missing>" or -999.
class FitsFile {
 public:
  explicit FitsFile(const std::filesystem::path& path) { fits_open_file(&file_, path.c_str(), READONLY, &status_); }
  ~FitsFile() {
    int status = 0;
    if (file_) fits_close_file(file_, &status);
  }
  FitsFile(const FitsFile&) = delete;
  FitsFile& operator=(const FitsFile&) = delete;

  bool Open() const { return file_ != nullptr && status_ == 0; }

  std::string Key(const char* name) const {
    char value[FLEN_VALUE] = {};
    int status = 0;
    fits_read_key(file_, TSTRING, name, value, nullptr, &status);
    return status ? "<missing>" : value;
  }
  double Number(const char* name) const {
    double value = -1;
    int status = 0;
    fits_read_key(file_, TDOUBLE, name, &value, nullptr, &status);
    return status ? -999 : value;
  }
  int Logical(const char* name) const {
    int value = -1;
    int status = 0;
    fits_read_key(file_, TLOGICAL, name, &value, nullptr, &status);
    return status ? -999 : value;
  }

  // The sample type (as fits_get_img_equivtype gives it) and the axes.
  struct Shape {
    int bitpix = 0;
    std::vector<long> axes;
  };
  Shape GetShape() const {
    Shape shape;
    int status = 0, naxis = 0;
    long axes[3] = {};
    fits_get_img_param(file_, 3, &shape.bitpix, &naxis, axes, &status);
    fits_get_img_equivtype(file_, &shape.bitpix, &status);
    shape.axes.assign(axes, axes + (status ? 0 : naxis));
    return shape;
  }

  // The whole image as `T` (datatype: TBYTE, TUSHORT, ...); empty when it cannot be read whole.
  template <typename T>
  std::vector<T> Pixels(int datatype) const {
    std::vector<T> pixels(1);
    for (long axis : GetShape().axes) pixels.resize(pixels.size() * axis);
    int status = 0, anyNull = 0;
    fits_read_img(file_, datatype, 1, static_cast<LONGLONG>(pixels.size()), nullptr, pixels.data(), &anyNull,
                  &status);
    return status ? std::vector<T>{} : pixels;
  }

 private:
  fitsfile* file_ = nullptr;
  int status_ = 0;
};

}  // namespace okc::test
