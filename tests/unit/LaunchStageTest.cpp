#include <gtest/gtest.h>

#include "FakeWinApi.h"
#include "HandBack.h"

namespace {

using namespace handback;
using Calls = std::vector<std::string>;

const std::string Find = "FindFirstFileA(\"C:\\SETUPDIR\\SETUP.EXE\")";
const std::string Close = "FindClose(search)";
const std::string ToLocal = "FileTimeToLocalFileTime(286331153:30408704)";
const std::string ToDos = "FileTimeToDosDateTime(572662306:30408704)";
const std::string Open =
    "ShellExecuteA(null, \"open\", \"C:\\SETUPDIR\\SETUP.EXE\", \"\", \"\", 1)";
const std::string Notice = "MessageBoxA(null, <notice>, \"Setup Error\", 16)";
// A restart is asked for with the shutdown privilege enabled just before.
const Calls Privilege = {"GetCurrentProcess()", "OpenProcessToken(process, 40)",
                         "LookupPrivilegeValueA(null, \"SeShutdownPrivilege\")",
                         "AdjustTokenPrivileges(token, 0, {1, 19, 2}, 0)",
                         "CloseHandle(token)"};
const std::string Restart = "ExitWindowsEx(2, 0)";

Calls ThenRestart(Calls before) {
  before.insert(before.end(), Privilege.begin(), Privilege.end());
  before.push_back(Restart);
  return before;
}

struct Stage {
  fake::FakeWinApi Api;
  ProgramState State;

  explicit Stage(const std::string& setupDir) {
    State.HandingBack = true;
    State.SetupPath = setupDir;
  }
  Calls Run() {
    RunLaunchStage(Api, State);
    return Api.Calls;
  }
};

TEST(LaunchStageTest, LaunchedWaitsForOneMessageAndEnds) {
  Stage stage("C:\\SETUPDIR");
  stage.Api.ShellExecuteResult = 33;
  EXPECT_EQ(stage.Run(),
            (Calls{Find, Close, ToLocal, ToDos, Open, "WaitMessage()"}));
  EXPECT_FALSE(stage.State.LaunchFailed);
  EXPECT_EQ(stage.State.SetupPath, "C:\\SETUPDIR\\SETUP.EXE");
}

TEST(LaunchStageTest, TrailingBackslashIsNotDoubled) {
  Stage stage("C:\\SETUPDIR\\");
  EXPECT_EQ(stage.Run().front(), Find);
}

TEST(LaunchStageTest, NoSetupDirectoryRestartsWithoutANotice) {
  Stage stage("");
  EXPECT_EQ(stage.Run(), ThenRestart({}));
  EXPECT_TRUE(stage.State.LaunchFailed);
  EXPECT_TRUE(stage.State.Settled);
}

TEST(LaunchStageTest, RestartWhereThePrivilegeCannotBeHad) {
  struct {
    winservices::Bool TokenOpened, Restarted;
    Calls Expected;
  } const cases[] = {
      // Windows 9x: no token, and the restart is asked for all the same.
      {0, 1, {"GetCurrentProcess()", "OpenProcessToken(process, 40)", Restart}},
      {1, 0, ThenRestart({})},  // refused: the run must not count on it
  };
  for (const auto& c : cases) {
    Stage stage("");
    stage.Api.OpenTokenResult = c.TokenOpened;
    stage.Api.ExitWindowsResult = c.Restarted;
    EXPECT_EQ(stage.Run(), c.Expected);
    EXPECT_EQ(stage.State.Settled, c.Restarted != 0);
  }
}

TEST(LaunchStageTest, NotHandingBackDoesNothing) {
  Stage stage("C:\\SETUPDIR");
  stage.State.HandingBack = false;
  EXPECT_TRUE(stage.Run().empty());
  EXPECT_EQ(stage.State.SetupPath, "C:\\SETUPDIR");
  EXPECT_FALSE(stage.State.LaunchFailed);
}

TEST(LaunchStageTest, SetupThatIsNotThereGivesTheNoticeThenTheRestart) {
  struct {
    const char* What;
    bool Found;
    winservices::Dword Attributes;
    winservices::Bool DosTime;
    Calls Expected;
  } const cases[] = {
      {"missing", false, 0x20, 1, ThenRestart({Find, Notice})},
      {"a directory", true, 0x10, 1, ThenRestart({Find, Close, Notice})},
      {"a read-only directory", true, 0x11, 1,
       ThenRestart({Find, Close, Notice})},
      {"undatable", true, 0x20, 0,
       ThenRestart({Find, Close, ToLocal, ToDos, Notice})},
  };
  for (const auto& c : cases) {
    Stage stage("C:\\SETUPDIR");
    stage.Api.FileFound = c.Found;
    stage.Api.FoundAttributes = c.Attributes;
    stage.Api.DosTimeResult = c.DosTime;
    EXPECT_EQ(stage.Run(), c.Expected) << c.What;
    EXPECT_TRUE(stage.State.LaunchFailed) << c.What;
  }
}

TEST(LaunchStageTest, LaunchResultAbove32IsSuccessComparedSigned) {
  struct {
    intptr_t Result;
    bool Launched;
  } const cases[] = {
      {33, true}, {42, true}, {INTPTR_MAX, true}, {32, false},
      {2, false}, {0, false}, {-1, false},        {INTPTR_MIN, false},
  };
  for (const auto& c : cases) {
    Stage stage("C:\\SETUPDIR");
    stage.Api.ShellExecuteResult = c.Result;
    const Calls calls = stage.Run();
    const Calls after(calls.begin() + 5, calls.end());
    const Calls expected =
        c.Launched ? Calls{"WaitMessage()"} : ThenRestart({Notice});
    EXPECT_EQ(after, expected) << c.Result;
    EXPECT_EQ(stage.State.LaunchFailed, !c.Launched) << c.Result;
    EXPECT_TRUE(stage.State.Settled) << c.Result;
  }
}

TEST(LaunchStageTest, NoticeTextByteForByte) {
  Stage stage("C:\\SETUPDIR");
  stage.Api.FileFound = false;
  stage.Run();
  EXPECT_EQ(stage.Api.NoticeText,
            "\"C:\\SETUPDIR\\SETUP.EXE\"\r\r"
            "Unable to locate the Dorvanix 4 Windows Setup program.\r"
            "After Windows restarts, try running Dorvanix's SETUP.EXE\r"
            "program again.\r\r"
            "Press ENTER to restart Windows.");
  EXPECT_EQ(stage.Api.NoticeText.find('\n'), std::string::npos);
}

}  // namespace
