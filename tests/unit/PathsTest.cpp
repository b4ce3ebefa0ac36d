#include <gtest/gtest.h>

#include "FakeWinApi.h"
#include "HandBack.h"

namespace {

using namespace handback;

struct PathCase {
  std::string In;
  std::string Out;
};

TEST(PathsTest, FileNamePart) {
  fake::FakeWinApi api;
  const std::string longName(300, 'N');
  const PathCase cases[] = {
      {"C:\\TOOLS\\HANDBACK.EXE", "HANDBACK.EXE"},
      {"HANDBACK.EXE", "HANDBACK.EXE"},
      {"C:HANDBACK.EXE", "HANDBACK.EXE"},
      {"C:/TOOLS/HANDBACK.EXE", "/TOOLS/HANDBACK.EXE"},
      {"HANDBACK.EXE /x", "HANDBACK.EXE /x"},
      {"C:\\TOOLS\\", ""},
      {"", ""},
      {"C:\\" + longName, longName.substr(0, 255)},
      {longName, longName.substr(0, 255)},
  };
  for (const auto& c : cases) EXPECT_EQ(FileNamePart(api, c.In), c.Out) << c.In;
}

TEST(PathsTest, DirectoryPart) {
  fake::FakeWinApi api;
  const PathCase cases[] = {
      {"D:\\TOOLS\\HANDBACK.EXE", "D:\\TOOLS\\"},
      {"C:HANDBACK.EXE", "C:"},
      {"C:\\A\\B:C", "C:\\A\\B:"},
      {"C:/TOOLS/HANDBACK.EXE", "C:"},
      {"HANDBACK.EXE", ""},
      {"", ""},
  };
  for (const auto& c : cases)
    EXPECT_EQ(DirectoryPart(api, c.In), c.Out) << c.In;
}

TEST(PathsTest, JoinPath) {
  fake::FakeWinApi api;
  struct {
    std::string Directory, Name, Out;
  } const cases[] = {
      {"", "X", "X"},
      {"C:\\A\\", "X", "C:\\A\\X"},
      {"C:\\A", "X", "C:\\A\\X"},
      {"C:", "X", "C:\\X"},
      {"C:\\A/", "X", "C:\\A/\\X"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(JoinPath(api, c.Directory, c.Name), c.Out) << c.Directory;
  EXPECT_TRUE(api.Calls.empty());  // ASCII asks nothing of the code page
}

// In code page 932, 表 is 0x95 0x5C: its trail byte is not a backslash. In a
// single-byte code page, 0x5C is one.
TEST(PathsTest, DoubleByteCharactersAreNeverCutInTwo) {
  const std::string hyo = "\x95\x5C", dir = "C:\\D" + hyo;
  using Rule = std::string (*)(WinApi&, const std::string&);
  const Rule join = [](WinApi& api, const std::string& directory) {
    return JoinPath(api, directory, "SETUP.EXE");
  };
  struct {
    Rule Apply;
    std::string In, DoubleByte, SingleByte;
  } const cases[] = {
      {join, dir, dir + "\\SETUP.EXE", dir + "SETUP.EXE"},
      {join, dir + "\\", dir + "\\SETUP.EXE", dir + "\\SETUP.EXE"},
      {join, "C:\\D\x95", "C:\\D\x95\\SETUP.EXE", "C:\\D\x95\\SETUP.EXE"},
      {FileNamePart, dir + "HANDBACK.EXE", "D" + hyo + "HANDBACK.EXE",
       "HANDBACK.EXE"},
      {FileNamePart, dir + "\\HANDBACK.EXE", "HANDBACK.EXE", "HANDBACK.EXE"},
      {DirectoryPart, dir + "HANDBACK.EXE", "C:\\", dir},
      {DirectoryPart, dir + "\\HANDBACK.EXE", dir + "\\", dir + "\\"},
  };
  for (const auto& c : cases) {
    fake::FakeWinApi cp932, singleByte;
    cp932.CodePage932 = true;
    EXPECT_EQ(c.Apply(cp932, c.In), c.DoubleByte) << c.In;
    EXPECT_EQ(c.Apply(singleByte, c.In), c.SingleByte) << c.In;
  }
}

TEST(PathsTest, WindowsDirectoryAsThePlatformGivesIt) {
  fake::FakeWinApi api;
  EXPECT_EQ(WindowsDirectory(api), "C:\\WINDOWS");
  EXPECT_EQ(api.Calls, std::vector<std::string>{"GetWindowsDirectoryA(255)"});
}

TEST(PathsTest, WindowsDirectoryFallsBackToTheProgramsOwnDirectory) {
  struct {
    std::string Dir;
    winservices::Uint Reported;
  } const failures[] = {
      {"", 0},                       // the lookup failed
      {std::string(255, 'W'), 256},  // did not fit: no terminated text
      {std::string(255, 'W'), 255},
      {"C:\\WINDOWS", 0xFFFFFFFF},
  };
  for (const auto& f : failures) {
    fake::FakeWinApi api;
    api.WindowsDir = f.Dir;
    api.WindowsDirLength = f.Reported;
    api.ModulePath = "D:\\TOOLS\\HANDBACK.EXE";
    EXPECT_EQ(WindowsDirectory(api), "D:\\TOOLS\\") << f.Reported;
    EXPECT_EQ(api.Calls,
              (std::vector<std::string>{"GetWindowsDirectoryA(255)",
                                        "GetModuleFileNameA(null, 261)"}));
  }
}

TEST(PathsTest, WindowsDirectoryOfTheLongestLengthThatFits) {
  fake::FakeWinApi api;
  api.WindowsDir = "C:\\" + std::string(251, 'W');
  EXPECT_EQ(WindowsDirectory(api), api.WindowsDir);
}

TEST(PathsTest, WindowsDirectoryNeverReadsPastTheReportedLength) {
  fake::FakeWinApi api;
  api.WindowsDir = "C:\\WINDOWSXXXX";
  api.WindowsDirLength = 10;  // the text claims more than the length does
  EXPECT_EQ(WindowsDirectory(api), "C:\\WINDOWS");
}

TEST(PathsTest, ModuleFileNameIsTheReportedCount) {
  fake::FakeWinApi api;
  api.ModulePath = "D:\\TOOLS\\HANDBACK.EXE";
  EXPECT_EQ(ModuleFileName(api), "D:\\TOOLS\\HANDBACK.EXE");
  api.ModulePath = "";
  EXPECT_EQ(ModuleFileName(api), "");
  api.ModulePath = std::string("D:\\A.EXE\0\\B", 11);  // counted zero
  EXPECT_EQ(ModuleFileName(api), "D:\\A.EXE");
}

TEST(PathsTest, UpperCaseAnsiUpperCasesACopyOverItsWholeLength) {
  fake::FakeWinApi api;
  const std::string text = "handback.exe";
  EXPECT_EQ(UpperCaseAnsi(api, text), "HANDBACK.EXE");
  EXPECT_EQ(text, "handback.exe");
  EXPECT_EQ(api.Calls,
            std::vector<std::string>{"CharUpperBuffA(\"handback.exe\", 12)"});
}

}  // namespace
