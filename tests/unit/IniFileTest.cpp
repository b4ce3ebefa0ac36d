#include <gtest/gtest.h>

#include "FakeWinApi.h"
#include "IniFile.h"

namespace {

using winservices::Exception;
using winservices::TIniFile;

TEST(IniFileTest, CreatingTouchesNothing) {
  fake::FakeWinApi api;
  { const TIniFile ini(api, "Q:\\NOWHERE\\SYSTEM.INI"); }
  EXPECT_TRUE(api.Calls.empty());
}

TEST(IniFileTest, ReadPassesEveryTextAndTheBufferSize) {
  fake::FakeWinApi api;
  api.Profile["Boot/Shell"] = "C:\\TOOLS\\HANDBACK.EXE";
  const TIniFile ini(api, "C:\\WINDOWS\\SYSTEM.INI");
  EXPECT_EQ(ini.ReadEntry("Boot", "Shell", ""), "C:\\TOOLS\\HANDBACK.EXE");
  EXPECT_EQ(ini.ReadEntry("Boot", "Missing", ""), "");
  EXPECT_EQ(ini.ReadEntry("Boot", "Missing", "dflt"), "dflt");
  api.Profile["Boot/Zero"] = std::string("C:\\A\0B", 6);  // counted zero
  EXPECT_EQ(ini.ReadEntry("Boot", "Zero", ""), "C:\\A");
  EXPECT_EQ(api.Calls.front(),
            "GetPrivateProfileStringA(\"Boot\", \"Shell\", \"\", 1024, "
            "\"C:\\WINDOWS\\SYSTEM.INI\")");
}

TEST(IniFileTest, LongValueIsCutToWhatTheBufferHolds) {
  fake::FakeWinApi api;
  const std::string value(1500, 'v');
  api.Profile["Boot/Long"] = value;
  EXPECT_EQ(TIniFile(api, "S.INI").ReadEntry("Boot", "Long", ""),
            value.substr(0, 1023));
}

// A service that reports more than its buffer holds must not make the read
// run past the buffer.
class OverreportingProfile : public fake::FakeWinApi {
  winservices::Dword GetPrivateProfileStringA(const char*, const char*,
                                              const char*, char* buffer,
                                              winservices::Dword size,
                                              const char*) override {
    std::fill(buffer, buffer + size, 'v');
    return 5000;
  }
};

TEST(IniFileTest, OverreportedLengthStaysInsideTheBuffer) {
  OverreportingProfile api;
  EXPECT_EQ(TIniFile(api, "S.INI").ReadEntry("Boot", "Shell", ""),
            std::string(1023, 'v'));
}

TEST(IniFileTest, WriteSucceedsOnNonZero) {
  fake::FakeWinApi api;
  const TIniFile ini(api, "C:\\WINDOWS\\SYSTEM.INI");
  ini.WriteEntry("Boot", "Shell", "EXPLORER.EXE");
  EXPECT_EQ(api.Profile["Boot/Shell"], "EXPLORER.EXE");
  EXPECT_EQ(api.Calls, std::vector<std::string>{
                           "WritePrivateProfileStringA(\"Boot\", \"Shell\", "
                           "\"EXPLORER.EXE\", \"C:\\WINDOWS\\SYSTEM.INI\")"});
}

TEST(IniFileTest, FailedWriteRaisesWithThePathAsGiven) {
  fake::FakeWinApi api;
  api.WriteResult = 0;
  const TIniFile ini(api, "c:\\windows\\%s 100%.ini");
  try {
    ini.WriteEntry("Boot", "Shell", "EXPLORER.EXE");
    FAIL() << "no exception";
  } catch (const Exception& error) {
    EXPECT_STREQ(error.what(), "Unable to write to c:\\windows\\%s 100%.ini");
  }
  // Nothing in the accessor is spoilt by the failure.
  api.WriteResult = 1;
  EXPECT_NO_THROW(ini.WriteEntry("Boot", "Shell", "EXPLORER.EXE"));
}

}  // namespace
