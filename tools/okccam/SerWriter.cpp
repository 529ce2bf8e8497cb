#include "SerWriter.h"

#include <cerrno>
#include <cstring>
#include <ctime>

namespace okccam {

namespace {

void Put32(std::vector<uint8_t>& out, int32_t value) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(static_cast<uint32_t>(value) >> (8 * i)));
}
void Put64(std::vector<uint8_t>& out, int64_t value) {
  for (int i = 0; i < 8; ++i) out.push_back(static_cast<uint8_t>(static_cast<uint64_t>(value) >> (8 * i)));
}
void PutText(std::vector<uint8_t>& out, const std::string& text, size_t size) {
  for (size_t i = 0; i < size; ++i) out.push_back(i < text.size() ? static_cast<uint8_t>(text[i]) : 0);
}

// The local time of a UTC instant, in the same ticks (the offset of the time zone then).
int64_t LocalTicks(int64_t utcTicks) {
  const std::time_t seconds = static_cast<std::time_t>((utcTicks - kSerTicksAtUnixEpoch) / 10000000);
  std::tm local{};
  localtime_r(&seconds, &local);
  return utcTicks + static_cast<int64_t>(local.tm_gmtoff) * 10000000;
}

}  // namespace

int64_t SerTicksFromUnixUs(int64_t unixUs) { return kSerTicksAtUnixEpoch + unixUs * 10; }

SerColour SerColourOfPattern(const std::string& pattern) {
  if (pattern == "RGGB") return SerColour::RGGB;
  if (pattern == "GRBG") return SerColour::GRBG;
  if (pattern == "GBRG") return SerColour::GBRG;
  if (pattern == "BGGR") return SerColour::BGGR;
  return SerColour::Mono;
}

SerWriter::~SerWriter() { Abandon(); }

size_t SerWriter::FrameBytes() const {
  const size_t planes = format_.colour == SerColour::BGR ? 3 : 1;
  return static_cast<size_t>(format_.width) * static_cast<size_t>(format_.height) * planes *
         (format_.bitsPerSample > 8 ? 2 : 1);
}

bool SerWriter::Fail(const char* what, std::string* error) {
  *error = std::string("cannot ") + what + " " + path_ + ": " + std::strerror(errno);
  return false;
}

bool SerWriter::Open(const std::string& path, const SerFormat& format, std::string* error) {
  Abandon();
  path_ = path;
  format_ = format;
  timestamps_.clear();
  file_ = std::fopen(path.c_str(), "wb");
  if (!file_) return Fail("create", error);
  return WriteHeader(error);
}

bool SerWriter::WriteHeader(std::string* error) {
  std::vector<uint8_t> header;
  header.reserve(kSerHeaderBytes);
  PutText(header, "LUCAM-RECORDER", 14);
  Put32(header, 0);  // LuID: unknown camera
  Put32(header, static_cast<int32_t>(format_.colour));
  Put32(header, 1);  // samples of 16 bits are little-endian
  Put32(header, format_.width);
  Put32(header, format_.height);
  Put32(header, format_.bitsPerSample);
  Put32(header, static_cast<int32_t>(timestamps_.size()));
  PutText(header, format_.observer, 40);
  PutText(header, format_.instrument, 40);
  PutText(header, format_.telescope, 40);
  const int64_t start = timestamps_.empty() ? 0 : timestamps_.front();
  Put64(header, start ? LocalTicks(start) : 0);
  Put64(header, start);
  if (std::fseek(file_, 0, SEEK_SET) != 0 || std::fwrite(header.data(), 1, header.size(), file_) != header.size())
    return Fail("write", error);
  return true;
}

bool SerWriter::AddFrame(const uint8_t* pixels, int64_t utcUs, std::string* error) {
  if (!file_) {
    *error = "no SER file open";
    return false;
  }
  const size_t bytes = FrameBytes();
  const long offset = static_cast<long>(kSerHeaderBytes + bytes * timestamps_.size());
  if (std::fseek(file_, offset, SEEK_SET) != 0 || std::fwrite(pixels, 1, bytes, file_) != bytes)
    return Fail("write", error);
  timestamps_.push_back(SerTicksFromUnixUs(utcUs));
  return true;
}

bool SerWriter::Finish(std::string* error) {
  if (!file_) {
    *error = "no SER file open";
    return false;
  }
  std::vector<uint8_t> trailer;
  for (int64_t ticks : timestamps_) Put64(trailer, ticks);
  const long offset = static_cast<long>(kSerHeaderBytes + FrameBytes() * timestamps_.size());
  bool ok = std::fseek(file_, offset, SEEK_SET) == 0 &&
            std::fwrite(trailer.data(), 1, trailer.size(), file_) == trailer.size();
  if (!ok) return Fail("write", error);
  if (!WriteHeader(error)) return false;
  FILE* file = file_;
  file_ = nullptr;
  if (std::fclose(file) != 0) return Fail("write", error);
  return true;
}

void SerWriter::Abandon() {
  if (file_) std::fclose(file_);
  file_ = nullptr;
}

}  // namespace okccam
