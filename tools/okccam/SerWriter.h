// SER video files for planetary work: one file holds every frame of a capture.
//
// Layout (little-endian): a 178-byte header ("LUCAM-RECORDER", colour layout,
// byte order, width, height, bits per sample, frame count, observer,
// instrument, telescope, start time local and UTC), the frames one after the
// other as delivered, then a trailer of one UTC time stamp per frame. Times
// are 64-bit counts of 100 ns since 0001-01-01.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace okccam {

// The ColorID field.
enum class SerColour : int32_t {
  Mono = 0,
  RGGB = 8,
  GRBG = 9,
  GBRG = 10,
  BGGR = 11,
  BGR = 101,  // three bytes per pixel: blue, green, red
};

struct SerFormat {
  int width = 0;
  int height = 0;
  int bitsPerSample = 8;  // 8 or 16 (16-bit samples little-endian)
  SerColour colour = SerColour::Mono;
  std::string instrument;
  std::string observer;
  std::string telescope;
};

constexpr size_t kSerHeaderBytes = 178;
// 100 ns ticks between 0001-01-01 and 1970-01-01.
constexpr int64_t kSerTicksAtUnixEpoch = 621355968000000000LL;
int64_t SerTicksFromUnixUs(int64_t unixUs);
// The colour layout for a Bayer pattern name ("RGGB"...); Mono for an empty name.
SerColour SerColourOfPattern(const std::string& pattern);

class SerWriter {
 public:
  ~SerWriter();
  // Creates the file and writes a provisional header. False with a message.
  bool Open(const std::string& path, const SerFormat& format, std::string* error);
  // Appends one frame (FrameBytes() bytes) taken at `utcUs` (microseconds since 1970).
  bool AddFrame(const uint8_t* pixels, int64_t utcUs, std::string* error);
  // Writes the trailer and the final header, and closes the file.
  bool Finish(std::string* error);
  // Closes without finishing (the caller removes the file).
  void Abandon();
  size_t FrameBytes() const;
  int Frames() const { return static_cast<int>(timestamps_.size()); }

 private:
  bool WriteHeader(std::string* error);
  bool Fail(const char* what, std::string* error);

  FILE* file_ = nullptr;
  std::string path_;
  SerFormat format_;
  std::vector<int64_t> timestamps_;  // in ticks
};

}  // namespace okccam
