// Opening files that must be regular files: dark frames, settings, firmware images.
//
// A path may name a FIFO, a device or a folder, by mistake or on purpose. Opening a
// FIFO for reading blocks until a writer appears, and reading a device may never end,
// so such paths are refused at once: the file is opened with O_NONBLOCK (which makes
// the open itself return at once for FIFOs and devices), checked with fstat to be a
// regular file, and only then handed out, in blocking mode again.
#pragma once

#include <sys/types.h>

#include <cstdio>
#include <string>

namespace okc::platform {

enum class FileAccess {
  Read,   // O_RDONLY
  Write,  // O_WRONLY, created with mode 0644 (less the umask) when missing, emptied once checked
};

struct RegularFileResult {
  int fd = -1;              // open descriptor (close-on-exec) on success, else -1
  int error = 0;            // errno of a failed open, or 0
  bool notRegular = false;  // the path exists but names no regular file
  std::string message;      // why it failed, for the user; empty on success
};

// Opens `path` as described above; `what` names the file in the message ("dark frame").
// A refused path is never truncated or written to.
RegularFileResult OpenRegularFile(const char* path, FileAccess access, const char* what);

// The same as a stdio stream ("rb" or "wb" style); nullptr on failure, with the message
// shown to the user (standard error) when the path names no regular file.
std::FILE* OpenRegularStream(const char* path, FileAccess access, const char* what);

// "FIFO", "character device", "folder", ... for the type bits of a stat mode.
const char* FileTypeName(mode_t mode);

}  // namespace okc::platform
