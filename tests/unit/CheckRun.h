// Runs HandBackCheck's logic against the fake as an installer calls it, with
// buffers of `chars` characters, and gives what it wrote, as UTF-8.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Check.h"
#include "FakeCheckApi.h"

namespace fake {

struct Answer {
  int Way;
  std::string Exe, SetupDir, Reason;
};

inline std::string Written(const std::vector<char16_t>& buffer) {
  const auto end = std::find(buffer.begin(), buffer.end(), u'\0');
  EXPECT_NE(end, buffer.end()) << "an unterminated buffer";
  return Utf8(std::u16string(buffer.begin(), end));
}

inline Answer Check(FakeCheckApi& api, const std::string& exe,
                    const std::string& setupDir, unsigned chars = 1024) {
  // One more than given, so that a write past `chars` is seen.
  std::vector<char16_t> fullExe(chars + 1, u'#'), fullSetup(chars + 1, u'#'),
      reason(chars + 1, u'#');
  const std::u16string exeText = Utf16(exe), setupText = Utf16(setupDir);
  const int way = check::HandBackCheckWith(
      api, exeText.c_str(), setupText.c_str(), fullExe.data(), fullSetup.data(),
      reason.data(), chars);
  EXPECT_EQ(api.Unreleased(), "") << exe;
  for (const auto* buffer : {&fullExe, &fullSetup, &reason})
    EXPECT_EQ(buffer->back(), u'#') << "written past the buffer";
  return {way, Written(fullExe), Written(fullSetup), Written(reason)};
}

}  // namespace fake
