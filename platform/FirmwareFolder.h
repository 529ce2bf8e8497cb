// Where the library finds firmware image files, and how it reads one safely.
//
// The library carries no firmware of its own. Images are files in a firmware
// folder: the one a host set (SetFirmwareFolder, okcSetFirmwareFolder), else the
// first of $XDG_DATA_HOME/okccamera/firmware (default ~/.local/share/...),
// /usr/share/okccamera/firmware and /lib/firmware/okccamera that holds the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace okc::platform {

// Searches only `path` from now on; empty goes back to the default folders.
void SetFirmwareFolder(std::string path);
// The folders searched, in order.
std::vector<std::string> FirmwareFolders();
// The first folder's `name` that exists; empty when no folder has it.
std::string FindFirmwareFile(const std::string& name);
// "a, b and c": the folders searched, for messages.
std::string FirmwareFoldersText();

enum class FileReadResult {
  Ok,
  Missing,     // cannot be opened
  NotRegular,  // a directory, FIFO, device...
  Empty,
  TooLarge,    // more than maxBytes
  Unreadable,  // a read failed or came up short
};

// Reads a whole regular file of at most maxBytes. Never blocks on a FIFO.
FileReadResult ReadFirmwareFile(const std::string& path, size_t maxBytes, std::vector<uint8_t>* bytes);
// A short phrase for a result: "is not a regular file", ...
const char* DescribeFileRead(FileReadResult result);

}  // namespace okc::platform
