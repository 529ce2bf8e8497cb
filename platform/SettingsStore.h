// The per-user settings store: the Linux stand-in for the current user's registry.
//
// Each key (for example L"SOFTWARE\\OKCTAVC") is one small text file in the store
// folder, $XDG_CONFIG_HOME/okccamera/ (else $HOME/.config/okccamera/). A key holds
// named values of two kinds, as the registry does: numbers of 1 to 8 bytes
// (REG_DWORD-like, little-endian) and byte strings of up to kMaxBytesSize bytes
// (REG_BINARY-like). Each value keeps its stored size; a query succeeds only for
// the same kind and the same size. Key and value names compare ASCII case-insensitively.
//
// File format, one "<kind> <size> <data> <name>" line per value: kind "number" (data: the unsigned decimal
// value) or "bytes" (data: 2*size hex digits, "-" if empty); name %-escaped; '#' lines and bad lines are ignored.
//
// Changes are kept in memory until Commit() or Close() (or destruction), which
// merges them into the file as it is on disk then, writes a temporary file in the
// same folder, syncs it and renames it over the old one: an interrupted save
// leaves the previous store in force, and stray temporary files are never read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace okc::platform {

// Uses `path` as the store folder for the whole process; empty goes back to the default.
void SetSettingsDirectory(std::string path);
// The store folder in force; empty when no home folder can be found.
std::string SettingsDirectory();
// The file that holds `key` in the current store folder; empty when the key name is unusable
// (empty or too long for a file name).
std::string SettingsFilePath(std::wstring_view key);

class SettingsKey {
 public:
  static constexpr size_t kMaxNumberSize = 8;
  static constexpr size_t kMaxBytesSize = 4096;
  static constexpr size_t kMaxNameLength = 255;
  static constexpr size_t kMaxValues = 1024;

  // Opens an existing key; nullopt when it has no file or the file cannot be read.
  static std::optional<SettingsKey> Open(std::wstring_view key);
  // Opens the key, creating the store folder (mode 0700) and an empty key file when missing;
  // nullopt when neither is possible.
  static std::optional<SettingsKey> Create(std::wstring_view key);

  SettingsKey(SettingsKey&& other) noexcept;
  SettingsKey& operator=(SettingsKey&& other) noexcept;
  SettingsKey(const SettingsKey&) = delete;
  SettingsKey& operator=(const SettingsKey&) = delete;
  // Commits pending changes (best effort), as closing does.
  ~SettingsKey();

  // Fill `out` with `size` bytes (native byte order for numbers) and return true only when
  // `name` exists with this kind and exactly this stored size; otherwise `out` is untouched.
  bool QueryNumber(std::wstring_view name, void* out, size_t size) const;
  bool QueryBytes(std::wstring_view name, void* out, size_t size) const;

  // Store a value (replacing one of either kind with the same name). False, and nothing
  // changed, for an empty or over-long name, a size outside the kind's range, a null
  // pointer with a non-zero size, a full key, or a closed key.
  bool SetNumber(std::wstring_view name, const void* data, size_t size);
  bool SetBytes(std::wstring_view name, const void* data, size_t size);

  // The same with narrow names, taken byte for byte (meant for ASCII names such as "Gain").
  bool QueryNumber(std::string_view name, void* out, size_t size) const;
  bool QueryBytes(std::string_view name, void* out, size_t size) const;
  bool SetNumber(std::string_view name, const void* data, size_t size);
  bool SetBytes(std::string_view name, const void* data, size_t size);

  // Writes pending changes to the file; true when there was nothing to write or the write
  // succeeded. On failure the changes stay pending and the previous file stays in force.
  bool Commit();
  // Commit, then release the key; later calls on it fail.
  bool Close();

  size_t ValueCount() const { return values_.size(); }
  const std::string& FilePath() const { return path_; }

 private:
  struct Value {
    std::wstring name;  // as last written
    bool isNumber = false;
    uint64_t number = 0;
    size_t size = 0;
    std::vector<uint8_t> bytes;  // kind "bytes" only
  };
  // Values by ASCII-lower-cased name.
  using ValueMap = std::map<std::wstring, Value>;

  explicit SettingsKey(std::string path) : path_(std::move(path)) {}
  bool Store(std::wstring_view name, Value value);

  enum class LoadResult { Loaded, Missing, Unreadable };
  static LoadResult LoadFile(const std::string& path, ValueMap& values);
  static bool WriteFile(const std::string& path, const ValueMap& values);

  std::string path_;
  ValueMap values_;
  ValueMap pending_;  // changed since the last commit
  bool open_ = true;
};

}  // namespace okc::platform
