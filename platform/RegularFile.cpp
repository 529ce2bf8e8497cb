#include "platform/RegularFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/MessageBox.h"

namespace okc::platform {

const char* FileTypeName(mode_t mode) {
  switch (mode & S_IFMT) {
    case S_IFREG: return "regular file";
    case S_IFDIR: return "folder";
    case S_IFIFO: return "FIFO";
    case S_IFCHR: return "character device";
    case S_IFBLK: return "block device";
    case S_IFSOCK: return "socket";
    case S_IFLNK: return "symbolic link";
    default: return "special file";
  }
}

RegularFileResult OpenRegularFile(const char* path, FileAccess access, const char* what) {
  RegularFileResult result;
  const char* name = what ? what : "file";
  if (!path || !path[0]) {
    result.error = ENOENT;
    result.message = std::string("no ") + name + " path given";
    return result;
  }
  // No O_TRUNC here: a device must not see even a truncation before it is refused.
  const int flags = O_NONBLOCK | O_NOCTTY | O_CLOEXEC | (access == FileAccess::Read ? O_RDONLY : O_WRONLY | O_CREAT);
  int fd = open(path, flags, 0644);
  if (fd < 0 && errno == EISDIR) {
    // Opening a folder for writing fails with EISDIR; report it as the folder it is.
    result.notRegular = true;
    result.message = std::string(name) + " '" + path + "' is a folder, not a regular file";
    result.error = EISDIR;
    return result;
  }
  if (fd < 0) {
    result.error = errno;
    // A FIFO without a reader refuses a non-blocking open for writing with ENXIO.
    struct stat info{};
    if (stat(path, &info) == 0 && !S_ISREG(info.st_mode)) {
      result.notRegular = true;
      result.message = std::string(name) + " '" + path + "' is a " + FileTypeName(info.st_mode) + ", not a regular file";
    } else {
      result.message = std::string("cannot open ") + name + " '" + path + "': " + std::strerror(result.error);
    }
    return result;
  }
  struct stat info{};
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    result.error = errno;
    result.notRegular = true;
    result.message = std::string(name) + " '" + path + "' is a " + FileTypeName(info.st_mode) + ", not a regular file";
    close(fd);
    return result;
  }
  // A regular file: back to ordinary blocking I/O, and empty it for writing.
  const int statusFlags = fcntl(fd, F_GETFL);
  if (statusFlags < 0 || fcntl(fd, F_SETFL, statusFlags & ~O_NONBLOCK) != 0 ||
      (access == FileAccess::Write && ftruncate(fd, 0) != 0)) {
    result.error = errno;
    result.message = std::string("cannot open ") + name + " '" + path + "': " + std::strerror(result.error);
    close(fd);
    return result;
  }
  result.fd = fd;
  return result;
}

std::FILE* OpenRegularStream(const char* path, FileAccess access, const char* what) {
  RegularFileResult opened = OpenRegularFile(path, access, what);
  if (opened.fd < 0) {
    if (opened.notRegular) ShowMessageBox(opened.message.c_str(), "okccamera");
    errno = opened.error;
    return nullptr;
  }
  std::FILE* stream = fdopen(opened.fd, access == FileAccess::Read ? "rb" : "wb");
  if (!stream) close(opened.fd);
  return stream;
}

}  // namespace okc::platform
