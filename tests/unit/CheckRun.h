// Runs HandBackCheck's logic against the fake as an installer calls it, with
// buffers of `chars` characters, and gives what it wrote.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Check.h"
#include "FakeCheckApi.h"

namespace fake {

struct Answer {
  int Way;
  Text Exe, SetupDir, Reason;
};

inline Text Written(const std::vector<char16_t>& buffer) {
  const auto end = std::find(buffer.begin(), buffer.end(), u'\0');
  EXPECT_NE(end, buffer.end()) << "an unterminated buffer";
  return Text(buffer.begin(), end);
}

inline Answer Check(FakeCheckApi& api, const Text& exe, const Text& setupDir,
                    unsigned chars = 1024) {
  // One more than given, so that a write past `chars` is seen.
  std::vector<char16_t> fullExe(chars + 1, u'#'), fullSetup(chars + 1, u'#'),
      reason(chars + 1, u'#');
  const int way = check::HandBackCheckWith(api, exe.c_str(), setupDir.c_str(),
                                           fullExe.data(), fullSetup.data(),
                                           reason.data(), chars);
  EXPECT_EQ(api.Unreleased(), "") << testing::PrintToString(exe);
  for (const auto* buffer : {&fullExe, &fullSetup, &reason})
    EXPECT_EQ(buffer->back(), u'#') << "written past the buffer";
  return {way, Written(fullExe), Written(fullSetup), Written(reason)};
}

}  // namespace fake
