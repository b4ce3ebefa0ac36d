// Reads and writes single entries of one profile (INI) file through the
// platform's profile service. Holds no file open and caches nothing.
#pragma once

#include <stdexcept>
#include <string>

#include "WinApi.h"

namespace winservices {

// The program's error: one message text.
class Exception : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class TIniFile {
 public:
  TIniFile(WinApi& api, std::string fileName);

  std::string ReadEntry(const std::string& section, const std::string& key,
                        const std::string& fallback) const;
  // Raises Exception("Unable to write to <FileName>") when the service fails.
  void WriteEntry(const std::string& section, const std::string& key,
                  const std::string& value) const;

  const std::string FileName;

 private:
  WinApi& Api;
};

}  // namespace winservices
