#include <algorithm>
#include <cstring>

#include "HandBack.h"

namespace handback {

namespace {
constexpr winservices::Uint WindowsDirectoryBufferSize = 256;
constexpr winservices::Uint WindowsDirectorySizePassed = 255;
constexpr winservices::Dword ModuleBufferSize = 261;
constexpr std::size_t MaxFileNameLength = 255;
constexpr char PathDelimiters[] = "\\:";
}  // namespace

std::string WindowsDirectory(WinApi& api) {
  char buffer[WindowsDirectoryBufferSize];
  const auto length =
      api.GetWindowsDirectoryA(buffer, WindowsDirectorySizePassed);
  // A length of 255 or more means the directory did not fit, and the buffer
  // need not hold a terminated text: treat it like a failed lookup.
  if (length == 0 || length >= WindowsDirectorySizePassed)
    return DirectoryPart(ModuleFileName(api));
  return std::string(buffer, strnlen(buffer, length));
}

std::string ModuleFileName(WinApi& api) {
  char buffer[ModuleBufferSize];
  const auto length = api.GetModuleFileNameA(nullptr, buffer, ModuleBufferSize);
  // A zero inside the count ends the path, as it would for Windows.
  return std::string(buffer,
                     strnlen(buffer, std::min(length, ModuleBufferSize)));
}

std::string JoinPath(const std::string& directory, const std::string& name) {
  if (directory.empty()) return name;
  if (directory.back() == '\\') return directory + name;
  return directory + '\\' + name;
}

std::string FileNamePart(const std::string& path) {
  const auto delimiter = path.find_last_of(PathDelimiters);
  const auto start = delimiter == std::string::npos ? 0 : delimiter + 1;
  return path.substr(start, MaxFileNameLength);
}

std::string DirectoryPart(const std::string& path) {
  const auto delimiter = path.find_last_of(PathDelimiters);
  if (delimiter == std::string::npos) return {};
  return path.substr(0, delimiter + 1);
}

std::string UpperCaseAnsi(WinApi& api, const std::string& text) {
  std::string copy = text;
  api.CharUpperBuffA(copy.data(), static_cast<winservices::Dword>(copy.size()));
  return copy;
}

}  // namespace handback
