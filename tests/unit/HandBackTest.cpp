#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "FakeWinApi.h"
#include "HandBack.h"

namespace {

using namespace handback;
using Calls = std::vector<std::string>;

const std::string ReadShell =
    "GetPrivateProfileStringA(\"Boot\", \"Shell\", \"\", 1024, "
    "\"C:\\WINDOWS\\SYSTEM.INI\")";
const std::string WriteShell =
    "WritePrivateProfileStringA(\"Boot\", \"Shell\", \"EXPLORER.EXE\", "
    "\"C:\\WINDOWS\\SYSTEM.INI\")";
const std::string ReadSetupDir =
    "GetPrivateProfileStringA(\"Boot\", \"DorvanixSetupDir \", \"\", 1024, "
    "\"C:\\WINDOWS\\SYSTEM.INI\")";

// Runs the whole sequence with the Shell entry holding `shell` (none when
// empty) and the program running as `module`.
struct Scenario {
  fake::FakeWinApi Api;
  ProgramState State;

  Scenario(const std::string& shell, const std::string& module) {
    if (!shell.empty()) Api.Profile["Boot/Shell"] = shell;
    Api.Profile["Boot/DorvanixSetupDir "] = "C:\\SETUPDIR";
    Api.ModulePath = module;
  }
  Scenario& Go() {
    RunHandBack(Api, State);
    return *this;
  }
};

TEST(HandBackTest, MatchRestoresExplorerThenReadsTheSetupDirectory) {
  Scenario run("c:\\windows\\handback.exe", "D:\\TOOLS\\HANDBACK.EXE");
  run.Go();
  EXPECT_TRUE(run.State.HandingBack);
  EXPECT_EQ(run.Api.Profile["Boot/Shell"], "EXPLORER.EXE");
  const Calls expected = {
      "GetWindowsDirectoryA(255)",
      ReadShell,
      "CharUpperBuffA(\"handback.exe\", 12)",
      "GetModuleFileNameA(null, 261)",
      "CharUpperBuffA(\"HANDBACK.EXE\", 12)",
      WriteShell,
      ReadSetupDir,
  };
  ASSERT_GE(run.Api.Calls.size(), expected.size());
  EXPECT_EQ(Calls(run.Api.Calls.begin(), run.Api.Calls.begin() + 7), expected);
}

TEST(HandBackTest, OnlyTheFileNamesDecideTheMatch) {
  struct {
    std::string Shell, Module;
    bool Match;
  } const cases[] = {
      {"c:\\windows\\handback.exe", "D:\\TOOLS\\HANDBACK.EXE", true},
      {"HANDBACK.EXE", "C:\\HANDBACK.EXE", true},
      {"C:HANDBACK.EXE", "D:\\TOOLS\\HANDBACK.EXE", true},
      {"HANDBACK.EXE /x", "C:\\HANDBACK.EXE", false},
      {"\"C:\\HANDBACK.EXE\"", "C:\\HANDBACK.EXE", false},
      {"C:/TOOLS/HANDBACK.EXE", "C:\\TOOLS\\HANDBACK.EXE", false},
      {"EXPLORER.EXE", "C:\\TOOLS\\HANDBACK.EXE", false},
      {"", "C:\\TOOLS\\HANDBACK.EXE", false},  // no Shell entry
  };
  for (const auto& c : cases) {
    Scenario run(c.Shell, c.Module);
    run.Go();
    EXPECT_EQ(run.State.HandingBack, c.Match) << c.Shell;
    EXPECT_EQ(run.Api.Profile["Boot/Shell"], c.Match ? "EXPLORER.EXE" : c.Shell)
        << c.Shell;
  }
}

TEST(HandBackTest, NoMatchWritesNothingAndReadsNothingMore) {
  Scenario run("EXPLORER.EXE", "C:\\TOOLS\\HANDBACK.EXE");
  run.Go();
  EXPECT_EQ(run.Api.Calls, (Calls{
                               "GetWindowsDirectoryA(255)",
                               ReadShell,
                               "CharUpperBuffA(\"EXPLORER.EXE\", 12)",
                               "GetModuleFileNameA(null, 261)",
                               "CharUpperBuffA(\"HANDBACK.EXE\", 12)",
                           }));
  EXPECT_FALSE(run.State.HandingBack);
  EXPECT_TRUE(run.State.SetupPath.empty());
}

// The session gets Explorer only where neither setup nor a restart comes.
TEST(HandBackTest, ExplorerWhereTheShellIsNotGivenBackOrNoRestartComes) {
  const Calls explorer = {
      "GetWindowsDirectoryA(255)",
      "ShellExecuteA(null, \"open\", \"C:\\WINDOWS\\EXPLORER.EXE\", \"\", "
      "\"\", 1)"};
  struct {
    const char* What;
    std::string Shell;
    winservices::Bool Written;
    bool SetupFound;
    winservices::Bool Restarted;
    bool Explorer;
  } const cases[] = {
      {"write refused", "HANDBACK.EXE", 0, true, 1, true},
      {"restart refused", "HANDBACK.EXE", 1, false, 0, true},
      {"setup started", "HANDBACK.EXE", 1, true, 0, false},
      {"restart asked", "HANDBACK.EXE", 1, false, 1, false},
      {"another shell", "OTHER.EXE", 0, false, 0, false},
  };
  for (const auto& c : cases) {
    Scenario run(c.Shell, "C:\\TOOLS\\HANDBACK.EXE");
    run.Api.WriteResult = c.Written;
    run.Api.FileFound = c.SetupFound;
    run.Api.ExitWindowsResult = c.Restarted;
    run.Go();
    const Calls last(run.Api.Calls.end() - 2, run.Api.Calls.end());
    EXPECT_EQ(last == explorer, c.Explorer) << c.What;
  }
}

TEST(HandBackTest, FailedWriteStartsExplorerAndChangesNothing) {
  Scenario run("C:\\TOOLS\\HANDBACK.EXE", "C:\\TOOLS\\HANDBACK.EXE");
  run.Api.WriteResult = 0;
  run.Go();
  // Nothing but Explorer after it.
  EXPECT_EQ(Calls(run.Api.Calls.end() - 3, run.Api.Calls.end() - 2),
            Calls{WriteShell});
  EXPECT_TRUE(run.State.HandingBack);
  EXPECT_FALSE(run.State.LaunchFailed);
  EXPECT_TRUE(run.State.SetupPath.empty());
  EXPECT_EQ(run.Api.Profile["Boot/Shell"], "C:\\TOOLS\\HANDBACK.EXE");
}

TEST(HandBackTest, ProfileBesideTheProgramWhenWindowsDirectoryIsUnknown) {
  Scenario run("HANDBACK.EXE", "D:\\TOOLS\\HANDBACK.EXE");
  run.Api.WindowsDir = "";
  run.Api.WindowsDirLength = 0;
  run.Go();
  EXPECT_THAT(
      run.Api.Calls,
      testing::Contains("WritePrivateProfileStringA(\"Boot\", \"Shell\", "
                        "\"EXPLORER.EXE\", \"D:\\TOOLS\\SYSTEM.INI\")"));
}

TEST(HandBackTest, SetupDirectoryIsHandedToTheLaunchStage) {
  Scenario run("HANDBACK.EXE", "C:\\HANDBACK.EXE");
  run.Api.FileFound = false;
  run.Go();
  EXPECT_EQ(run.State.SetupPath, "C:\\SETUPDIR\\SETUP.EXE");
}

// Windows sees a text only up to its first zero. A reported count that takes
// in a zero must not leave the program holding more than Windows will see, or
// it would use another profile, or search for, start and name something other
// than SETUP.EXE.
TEST(HandBackTest, TextsFromWindowsEndAtTheirFirstZero) {
  Scenario run("HANDBACK.EXE",
               std::string("D:\\TOOLS\\HANDBACK.EXE\0\\X.EXE", 28));
  run.Api.WindowsDir = "";
  run.Api.WindowsDirLength = 0;
  run.Api.Profile["Boot/DorvanixSetupDir "] =
      std::string("C:\\OTHER.EXE\0", 13);
  run.Api.FileFound = false;
  run.Go();
  EXPECT_THAT(
      run.Api.Calls,
      testing::Contains("WritePrivateProfileStringA(\"Boot\", \"Shell\", "
                        "\"EXPLORER.EXE\", \"D:\\TOOLS\\SYSTEM.INI\")"));
  EXPECT_EQ(run.State.SetupPath, "C:\\OTHER.EXE\\SETUP.EXE");
}

}  // namespace
