#include "platform/FirmwareFolder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <mutex>

namespace okc::platform {

namespace {

std::mutex g_folderMutex;
std::string g_folder;  // empty: the default folders

std::string DataHome() {
  // The XDG rules ignore a relative XDG_DATA_HOME.
  if (const char* data = std::getenv("XDG_DATA_HOME"); data && data[0] == '/') return data;
  if (const char* home = std::getenv("HOME"); home && home[0] == '/') return std::string(home) + "/.local/share";
  return {};
}

}  // namespace

void SetFirmwareFolder(std::string path) {
  std::lock_guard lock(g_folderMutex);
  g_folder = std::move(path);
}

std::vector<std::string> FirmwareFolders() {
  {
    std::lock_guard lock(g_folderMutex);
    if (!g_folder.empty()) return {g_folder};
  }
  std::vector<std::string> folders;
  if (const std::string data = DataHome(); !data.empty()) folders.push_back(data + "/okccamera/firmware");
  folders.push_back("/usr/share/okccamera/firmware");
  folders.push_back("/lib/firmware/okccamera");
  return folders;
}

std::string FindFirmwareFile(const std::string& name) {
  if (name.empty()) return {};
  for (const std::string& folder : FirmwareFolders()) {
    const std::string path = folder + "/" + name;
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) return path;
  }
  return {};
}

std::string FirmwareFoldersText() {
  const std::vector<std::string> folders = FirmwareFolders();
  std::string text;
  for (size_t i = 0; i < folders.size(); ++i) {
    if (i > 0) text += i + 1 == folders.size() ? " and " : ", ";
    text += folders[i];
  }
  return text;
}

FileReadResult ReadFirmwareFile(const std::string& path, size_t maxBytes, std::vector<uint8_t>* bytes) {
  // O_NONBLOCK: opening a FIFO must not wait for a writer; it is refused below anyway.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return FileReadResult::Missing;
  struct stat st {};
  FileReadResult result = FileReadResult::Ok;
  if (::fstat(fd, &st) != 0) {
    result = FileReadResult::Unreadable;
  } else if (!S_ISREG(st.st_mode)) {
    result = FileReadResult::NotRegular;
  } else if (st.st_size == 0) {
    result = FileReadResult::Empty;
  } else if (static_cast<uint64_t>(st.st_size) > maxBytes) {
    result = FileReadResult::TooLarge;
  } else {
    std::vector<uint8_t> data(static_cast<size_t>(st.st_size));
    size_t done = 0;
    while (done < data.size()) {
      const ssize_t n = ::read(fd, data.data() + done, data.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      done += static_cast<size_t>(n);
    }
    if (done != data.size()) {
      result = FileReadResult::Unreadable;
    } else if (bytes) {
      *bytes = std::move(data);
    }
  }
  ::close(fd);
  return result;
}

const char* DescribeFileRead(FileReadResult result) {
  switch (result) {
    case FileReadResult::Ok: return "was read";
    case FileReadResult::Missing: return "cannot be opened";
    case FileReadResult::NotRegular: return "is not a regular file";
    case FileReadResult::Empty: return "is empty";
    case FileReadResult::TooLarge: return "is too large for a firmware image";
    case FileReadResult::Unreadable: return "cannot be read";
  }
  return "cannot be read";
}

}  // namespace okc::platform
