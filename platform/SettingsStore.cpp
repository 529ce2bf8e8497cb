#include "platform/SettingsStore.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "platform/MessageBox.h"
#include "platform/RegularFile.h"

namespace okc::platform {

namespace {

constexpr const char* kFileSuffix = ".conf";
constexpr size_t kMaxFileNameBytes = 255;
// Far above what kMaxValues values of the largest size take; the rest of a bigger file is ignored.
constexpr size_t kMaxFileBytes = 16u << 20;

// The process-wide state below is created on first use and never destroyed: a camera
// closed by an exit handler still saves its settings after static destructors have run.
struct DirectoryChoice {
  std::mutex mutex;
  std::string override;
};

DirectoryChoice& Directory() {
  static auto* choice = new DirectoryChoice;
  return *choice;
}

// Serialises the read-merge-write of commits between threads of this process; the folder
// lock below does the same between processes.
std::mutex& CommitMutex() {
  static auto* mutex = new std::mutex;
  return *mutex;
}

const char kHex[] = "0123456789abcdef";

wchar_t FoldAscii(wchar_t c) { return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c; }

std::wstring Folded(std::wstring_view name) {
  std::wstring folded(name);
  for (wchar_t& c : folded) c = FoldAscii(c);
  return folded;
}

std::wstring Widened(std::string_view name) {
  std::wstring wide;
  for (char c : name) wide += static_cast<wchar_t>(static_cast<unsigned char>(c));
  return wide;
}

void AppendHex(std::string& out, uint32_t value, int digits) {
  for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) out += kHex[(value >> shift) & 0xF];
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool ParseHex(std::string_view text, uint32_t& value) {
  value = 0;
  for (char c : text) {
    const int digit = HexDigit(c);
    if (digit < 0) return false;
    value = (value << 4) | static_cast<uint32_t>(digit);
  }
  return !text.empty();
}

// Characters other than the kept ones become `escape` + two hex digits (ASCII) or
// `escape` + 'u' + eight hex digits (anything else); 'u' is no hex digit, so this is reversible.
template <typename Keep>
std::string Escape(std::wstring_view text, char escape, Keep keep) {
  std::string out;
  for (wchar_t c : text) {
    const auto code = static_cast<uint32_t>(c);
    if (code < 0x80 && keep(static_cast<char>(code))) {
      out += static_cast<char>(code);
    } else if (code < 0x80) {
      out += escape;
      AppendHex(out, code, 2);
    } else {
      out += escape;
      out += 'u';
      AppendHex(out, code, 8);
    }
  }
  return out;
}

bool KeepInName(char c) { return c > ' ' && c < 0x7F && c != '%'; }

std::string EscapeValueName(std::wstring_view name) { return Escape(name, '%', KeepInName); }

std::optional<std::wstring> UnescapeValueName(std::string_view text) {
  std::wstring name;
  for (size_t i = 0; i < text.size();) {
    const char c = text[i];
    if (c != '%') {
      if (!KeepInName(c)) return std::nullopt;
      name += static_cast<wchar_t>(c);
      ++i;
      continue;
    }
    const bool wide = i + 1 < text.size() && text[i + 1] == 'u';
    const size_t digits = wide ? 8 : 2;
    const size_t start = i + (wide ? 2 : 1);
    uint32_t code = 0;
    if (start + digits > text.size() || !ParseHex(text.substr(start, digits), code)) return std::nullopt;
    if (wide != (code >= 0x80)) return std::nullopt;  // one spelling per character
    name += static_cast<wchar_t>(code);
    i = start + digits;
  }
  return name;
}

// The file name of a key: letters folded to lower case (keys compare case-insensitively),
// the path separator '\' shown as '.', only [a-z0-9-._] in the result, so no key reaches
// outside the store folder.
std::string KeyFileName(std::wstring_view key) {
  if (key.empty()) return {};
  std::string name;
  std::wstring_view rest = key;
  while (true) {
    const size_t separator = rest.find(L'\\');
    name += Escape(Folded(rest.substr(0, separator)), '_', [](char c) {
      return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-';
    });
    if (separator == std::wstring_view::npos) break;
    name += '.';
    rest.remove_prefix(separator + 1);
  }
  name += kFileSuffix;
  if (name.size() > kMaxFileNameBytes) return {};
  return name;
}

std::string HomeDirectory() {
  if (const char* home = std::getenv("HOME"); home && home[0] == '/') return home;
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd* found = nullptr;
  if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_dir &&
      found->pw_dir[0] == '/')
    return found->pw_dir;
  return {};
}

std::string DefaultDirectory() {
  // The XDG rules ignore a relative XDG_CONFIG_HOME.
  if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && config[0] == '/')
    return std::string(config) + "/okccamera";
  const std::string home = HomeDirectory();
  if (home.empty()) return {};
  return home + "/.config/okccamera";
}

// mkdir -p with mode 0700 for every folder it has to create.
bool MakeDirectories(const std::string& path) {
  if (path.empty()) return false;
  for (size_t pos = 1; pos <= path.size(); ++pos) {
    if (pos != path.size() && path[pos] != '/') continue;
    const std::string prefix = path.substr(0, pos);
    if (mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST) return false;
  }
  struct stat info{};
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string DirectoryOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
}

// An exclusive advisory lock on the store folder, held across a read-merge-write-rename so
// that saves from other processes never interleave with ours. The folder, not the key file,
// carries the lock: the key file is replaced by each save, so a lock on it would not last.
class FolderLock {
 public:
  explicit FolderLock(const std::string& directory)
      : fd_(open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
    if (fd_ < 0) return;
    while (flock(fd_, LOCK_EX) != 0) {
      if (errno == EINTR) continue;
      close(fd_);
      fd_ = -1;
      return;
    }
  }
  ~FolderLock() {
    if (fd_ >= 0) close(fd_);  // releases the lock
  }
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;
  bool Held() const { return fd_ >= 0; }

 private:
  int fd_;
};

// Removes the temporary files a killed save of `path` left behind. Only called under the
// folder lock: every save writes its temporary file while holding it, so any one found then
// belongs to a save that died.
void RemoveStaleTemporaries(const std::string& path) {
  const std::string directory = DirectoryOf(path);
  const size_t slash = path.rfind('/');
  const std::string prefix = (slash == std::string::npos ? path : path.substr(slash + 1)) + ".tmp-";
  DIR* folder = opendir(directory.c_str());
  if (!folder) return;
  std::vector<std::string> stale;
  while (const dirent* entry = readdir(folder)) {
    if (std::strncmp(entry->d_name, prefix.c_str(), prefix.size()) == 0) stale.emplace_back(entry->d_name);
  }
  closedir(folder);
  for (const std::string& name : stale) unlink((directory + "/" + name).c_str());
}

bool WriteAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// Number values travel as integers; these convert to and from the caller's memory.
uint64_t NumberFromMemory(const void* data, size_t size) {
  uint8_t bytes[SettingsKey::kMaxNumberSize] = {};
  std::memcpy(bytes, data, size);
  if constexpr (std::endian::native == std::endian::big) std::reverse(bytes, bytes + size);
  uint64_t value = 0;
  for (size_t i = 0; i < size; ++i) value |= static_cast<uint64_t>(bytes[i]) << (8 * i);
  return value;
}

void NumberToMemory(uint64_t value, void* out, size_t size) {
  uint8_t bytes[SettingsKey::kMaxNumberSize] = {};
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(value >> (8 * i));
  if constexpr (std::endian::native == std::endian::big) std::reverse(bytes, bytes + size);
  std::memcpy(out, bytes, size);
}

bool FitsInBytes(uint64_t value, size_t size) { return size >= 8 || value < (uint64_t{1} << (8 * size)); }

std::vector<std::string_view> SplitFields(std::string_view line) {
  std::vector<std::string_view> fields;
  size_t start = 0;
  while (true) {
    const size_t space = line.find(' ', start);
    fields.push_back(line.substr(start, space == std::string_view::npos ? std::string_view::npos : space - start));
    if (space == std::string_view::npos) break;
    start = space + 1;
  }
  return fields;
}

template <typename T>
bool ParseDecimal(std::string_view text, T& value) {
  if (text.empty()) return false;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && end == text.data() + text.size();
}

}  // namespace

void SetSettingsDirectory(std::string path) {
  std::lock_guard lock(Directory().mutex);
  Directory().override = std::move(path);
}

std::string SettingsDirectory() {
  {
    std::lock_guard lock(Directory().mutex);
    if (!Directory().override.empty()) return Directory().override;
  }
  return DefaultDirectory();
}

std::string SettingsFilePath(std::wstring_view key) {
  const std::string file = KeyFileName(key);
  const std::string directory = SettingsDirectory();
  if (file.empty() || directory.empty()) return {};
  return directory + "/" + file;
}

SettingsKey::LoadResult SettingsKey::LoadFile(const std::string& path, ValueMap& values) {
  // A FIFO or device in the store's place is refused at once, and never replaced.
  const RegularFileResult opened = OpenRegularFile(path.c_str(), FileAccess::Read, "settings file");
  if (opened.fd < 0 && opened.error == ENOENT && !opened.notRegular) return LoadResult::Missing;
  if (opened.fd < 0) {
    if (opened.notRegular) ShowMessageBox(opened.message.c_str(), "okccamera");
    return LoadResult::Unreadable;
  }
  const int fd = opened.fd;
  std::string text;
  char chunk[65536];
  bool readOk = true;
  while (text.size() < kMaxFileBytes) {
    const ssize_t n = read(fd, chunk, std::min(sizeof chunk, kMaxFileBytes - text.size()));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) readOk = false;
    if (n <= 0) break;
    text.append(chunk, static_cast<size_t>(n));
  }
  close(fd);
  if (!readOk) return LoadResult::Unreadable;

  std::string_view rest = text;
  // Only complete lines count: a file cut short must not yield a shortened name or value.
  for (size_t newline; (newline = rest.find('\n')) != std::string_view::npos; rest.remove_prefix(newline + 1)) {
    std::string_view line = rest.substr(0, newline);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty() || line.front() == '#') continue;
    const std::vector<std::string_view> fields = SplitFields(line);
    if (fields.size() != 4) continue;
    Value value;
    if (fields[0] == "number") {
      value.isNumber = true;
    } else if (fields[0] != "bytes") {
      continue;
    }
    if (!ParseDecimal(fields[1], value.size)) continue;
    if (value.isNumber) {
      if (value.size < 1 || value.size > kMaxNumberSize) continue;
      if (!ParseDecimal(fields[2], value.number) || !FitsInBytes(value.number, value.size)) continue;
    } else {
      if (value.size > kMaxBytesSize) continue;
      const std::string_view hex = fields[2];
      if (value.size == 0 ? hex != "-" : hex.size() != 2 * value.size) continue;
      value.bytes.resize(value.size);
      bool hexOk = true;
      for (size_t i = 0; i < value.size && hexOk; ++i) {
        uint32_t byte = 0;
        hexOk = ParseHex(hex.substr(2 * i, 2), byte);
        value.bytes[i] = static_cast<uint8_t>(byte);
      }
      if (!hexOk) continue;
    }
    std::optional<std::wstring> name = UnescapeValueName(fields[3]);
    if (!name || name->empty() || name->size() > kMaxNameLength) continue;
    value.name = std::move(*name);
    if (values.size() >= kMaxValues) break;
    // A name given twice keeps its first line.
    values.emplace(Folded(value.name), std::move(value));
  }
  return LoadResult::Loaded;
}

bool SettingsKey::WriteFile(const std::string& path, const ValueMap& values) {
  std::string text = "# okccamera settings\n";
  for (const auto& [folded, value] : values) {
    if (value.isNumber) {
      text += "number " + std::to_string(value.size) + ' ' + std::to_string(value.number);
    } else {
      text += "bytes " + std::to_string(value.size) + ' ';
      if (value.bytes.empty()) text += '-';
      for (uint8_t byte : value.bytes) AppendHex(text, byte, 2);
    }
    text += ' ' + EscapeValueName(value.name) + '\n';
  }

  const std::string directory = DirectoryOf(path);
  RemoveStaleTemporaries(path);
  std::string temp = path + ".tmp-XXXXXX";
  const int fd = mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) return false;
  const bool written = WriteAll(fd, text) && fchmod(fd, 0600) == 0 && fsync(fd) == 0;
  const bool closed = close(fd) == 0;
  if (!written || !closed || rename(temp.c_str(), path.c_str()) != 0) {
    unlink(temp.c_str());
    return false;
  }
  // Make the rename itself durable.
  if (const int dirFd = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dirFd >= 0) {
    fsync(dirFd);
    close(dirFd);
  }
  return true;
}

std::optional<SettingsKey> SettingsKey::Open(std::wstring_view key) {
  std::string path = SettingsFilePath(key);
  if (path.empty()) return std::nullopt;
  SettingsKey opened(std::move(path));
  if (LoadFile(opened.path_, opened.values_) != LoadResult::Loaded) return std::nullopt;
  return opened;
}

std::optional<SettingsKey> SettingsKey::Create(std::wstring_view key) {
  std::string path = SettingsFilePath(key);
  if (path.empty()) return std::nullopt;
  SettingsKey created(std::move(path));
  std::lock_guard lock(CommitMutex());
  if (!MakeDirectories(DirectoryOf(created.path_))) return std::nullopt;
  const FolderLock folderLock(DirectoryOf(created.path_));
  if (!folderLock.Held()) return std::nullopt;
  switch (LoadFile(created.path_, created.values_)) {
    case LoadResult::Loaded:
      return created;
    case LoadResult::Unreadable:  // there but unreadable: never replace it
      return std::nullopt;
    case LoadResult::Missing:
      break;
  }
  if (!WriteFile(created.path_, created.values_)) return std::nullopt;
  return created;
}

SettingsKey::SettingsKey(SettingsKey&& other) noexcept
    : path_(std::move(other.path_)),
      values_(std::move(other.values_)),
      pending_(std::move(other.pending_)),
      open_(other.open_) {
  other.pending_.clear();
  other.open_ = false;
}

SettingsKey& SettingsKey::operator=(SettingsKey&& other) noexcept {
  if (this != &other) {
    if (open_) Commit();
    path_ = std::move(other.path_);
    values_ = std::move(other.values_);
    pending_ = std::move(other.pending_);
    open_ = other.open_;
    other.pending_.clear();
    other.open_ = false;
  }
  return *this;
}

SettingsKey::~SettingsKey() {
  if (open_) Commit();
}

bool SettingsKey::QueryNumber(std::wstring_view name, void* out, size_t size) const {
  const auto found = values_.find(Folded(name));
  if (!open_ || !out || found == values_.end()) return false;
  const Value& value = found->second;
  if (!value.isNumber || value.size != size) return false;
  NumberToMemory(value.number, out, size);
  return true;
}

bool SettingsKey::QueryBytes(std::wstring_view name, void* out, size_t size) const {
  const auto found = values_.find(Folded(name));
  if (!open_ || found == values_.end()) return false;
  const Value& value = found->second;
  if (value.isNumber || value.size != size || (size > 0 && !out)) return false;
  if (size > 0) std::memcpy(out, value.bytes.data(), size);
  return true;
}

bool SettingsKey::Store(std::wstring_view name, Value value) {
  if (!open_ || name.empty() || name.size() > kMaxNameLength) return false;
  std::wstring folded = Folded(name);
  if (!values_.contains(folded) && values_.size() >= kMaxValues) return false;
  value.name = std::wstring(name);
  pending_.insert_or_assign(folded, value);
  values_.insert_or_assign(std::move(folded), std::move(value));
  return true;
}

bool SettingsKey::SetNumber(std::wstring_view name, const void* data, size_t size) {
  if (!data || size < 1 || size > kMaxNumberSize) return false;
  Value value;
  value.isNumber = true;
  value.size = size;
  value.number = NumberFromMemory(data, size);
  return Store(name, std::move(value));
}

bool SettingsKey::SetBytes(std::wstring_view name, const void* data, size_t size) {
  if ((!data && size > 0) || size > kMaxBytesSize) return false;
  Value value;
  value.size = size;
  if (size > 0) value.bytes.assign(static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + size);
  return Store(name, std::move(value));
}

bool SettingsKey::QueryNumber(std::string_view name, void* out, size_t size) const {
  return QueryNumber(Widened(name), out, size);
}

bool SettingsKey::QueryBytes(std::string_view name, void* out, size_t size) const {
  return QueryBytes(Widened(name), out, size);
}

bool SettingsKey::SetNumber(std::string_view name, const void* data, size_t size) {
  return SetNumber(Widened(name), data, size);
}

bool SettingsKey::SetBytes(std::string_view name, const void* data, size_t size) {
  return SetBytes(Widened(name), data, size);
}

bool SettingsKey::Commit() {
  if (!open_) return false;
  if (pending_.empty()) return true;
  std::lock_guard lock(CommitMutex());
  if (!MakeDirectories(DirectoryOf(path_))) return false;
  const FolderLock folderLock(DirectoryOf(path_));
  if (!folderLock.Held()) return false;
  // Merge into the file as it is now, so values another writer saved meanwhile survive.
  ValueMap merged;
  const LoadResult onDisk = LoadFile(path_, merged);
  if (onDisk == LoadResult::Unreadable) return false;  // replacing it would lose what we cannot read
  if (onDisk == LoadResult::Missing) merged = values_;  // removed behind our back: keep what we had
  bool allKept = true;
  for (const auto& [folded, value] : pending_) {
    if (!merged.contains(folded) && merged.size() >= kMaxValues) {
      allKept = false;  // the key filled up on disk meanwhile
      continue;
    }
    merged.insert_or_assign(folded, value);
  }
  if (!WriteFile(path_, merged)) return false;
  values_ = std::move(merged);
  pending_.clear();
  return allKept;
}

bool SettingsKey::Close() {
  const bool committed = Commit();
  open_ = false;
  values_.clear();
  pending_.clear();
  return committed;
}

}  // namespace okc::platform
