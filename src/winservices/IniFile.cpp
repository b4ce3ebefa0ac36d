#include "IniFile.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace winservices {

namespace {
constexpr Dword EntryBufferSize = 1024;
}

TIniFile::TIniFile(WinApi& api, std::string fileName)
    : FileName(std::move(fileName)), Api(api) {}

std::string TIniFile::ReadEntry(const std::string& section,
                                const std::string& key,
                                const std::string& fallback) const {
  char buffer[EntryBufferSize];
  const Dword length = Api.GetPrivateProfileStringA(
      section.c_str(), key.c_str(), fallback.c_str(), buffer, EntryBufferSize,
      FileName.c_str());
  // The service never reports more than it could store with its terminating
  // zero; the bound keeps a misreport from reading past the buffer. A zero
  // inside the count ends the value: Windows would see no more of it when the
  // program passes it back.
  return std::string(buffer,
                     strnlen(buffer, std::min(length, EntryBufferSize - 1)));
}

void TIniFile::WriteEntry(const std::string& section, const std::string& key,
                          const std::string& value) const {
  if (Api.WritePrivateProfileStringA(section.c_str(), key.c_str(),
                                     value.c_str(), FileName.c_str()) == 0)
    throw Exception("Unable to write to " + FileName);
}

}  // namespace winservices
