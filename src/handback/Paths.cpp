#include <algorithm>
#include <cstring>
#include <string_view>

#include "HandBack.h"

namespace handback {

namespace {
constexpr winservices::Uint WindowsDirectoryBufferSize = 256;
constexpr winservices::Uint WindowsDirectorySizePassed = 255;
constexpr winservices::Dword ModuleBufferSize = 261;
constexpr std::size_t MaxFileNameLength = 255;

constexpr std::string_view Backslash = "\\";
constexpr std::string_view BackslashOrColon = "\\:";

// Where the text after the path's last delimiter starts; 0 if it has none.
// In a double-byte code page the second byte of a character may be 0x5C, a
// backslash in ASCII, so a delimiter counts only where a character starts.
// Bytes below 0x80 are never lead bytes in any code page.
std::size_t AfterLastDelimiter(WinApi& api, const std::string& path,
                               std::string_view delimiters) {
  std::size_t after = 0;
  for (std::size_t i = 0; i < path.size(); ++i) {
    const auto byte = static_cast<unsigned char>(path[i]);
    if (byte >= 0x80 && api.IsDBCSLeadByte(byte))
      ++i;  // its trail byte
    else if (delimiters.find(path[i]) != std::string_view::npos)
      after = i + 1;
  }
  return after;
}

}  // namespace

std::string WindowsDirectory(WinApi& api) {
  char buffer[WindowsDirectoryBufferSize];
  const auto length =
      api.GetWindowsDirectoryA(buffer, WindowsDirectorySizePassed);
  // A length of 255 or more means the directory did not fit, and the buffer
  // need not hold a terminated text: treat it like a failed lookup.
  if (length == 0 || length >= WindowsDirectorySizePassed)
    return DirectoryPart(api, ModuleFileName(api));
  return std::string(buffer, strnlen(buffer, length));
}

std::string ModuleFileName(WinApi& api) {
  char buffer[ModuleBufferSize];
  const auto length = api.GetModuleFileNameA(nullptr, buffer, ModuleBufferSize);
  // A zero inside the count ends the path, as it would for Windows.
  return std::string(buffer,
                     strnlen(buffer, std::min(length, ModuleBufferSize)));
}

std::string JoinPath(WinApi& api, const std::string& directory,
                     const std::string& name) {
  if (directory.empty()) return name;
  if (AfterLastDelimiter(api, directory, Backslash) == directory.size())
    return directory + name;  // it ends in a backslash
  return directory + '\\' + name;
}

std::string FileNamePart(WinApi& api, const std::string& path) {
  return path.substr(AfterLastDelimiter(api, path, BackslashOrColon),
                     MaxFileNameLength);
}

std::string DirectoryPart(WinApi& api, const std::string& path) {
  return path.substr(0, AfterLastDelimiter(api, path, BackslashOrColon));
}

std::string UpperCaseAnsi(WinApi& api, const std::string& text) {
  std::string copy = text;
  api.CharUpperBuffA(copy.data(), static_cast<winservices::Dword>(copy.size()));
  return copy;
}

}  // namespace handback
