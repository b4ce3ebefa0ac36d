#include <memory>

#include "HandBack.h"

namespace handback {

namespace {

using namespace winservices;

// Carriage returns alone break the lines of a message box.
constexpr char Notice1[] =
    "Unable to locate the Dorvanix 4 Windows Setup program.";
constexpr char Notice2[] =
    "After Windows restarts, try running Dorvanix's SETUP.EXE";
constexpr char Notice3[] = "program again.";
constexpr char Notice4[] = "Press ENTER to restart Windows.";

std::string NoticeText(const std::string& path) {
  return "\"" + path + "\"" + "\r\r" + Notice1 + "\r" + Notice2 + "\r" +
         Notice3 + "\r\r" + Notice4;
}

// A plain file whose time stamp makes sense; a directory is not setup.
bool FileIsPresent(WinApi& api, const std::string& path) {
  FindData found{};
  const Handle search = api.FindFirstFileA(path.c_str(), &found);
  if (search == InvalidHandle()) return false;
  api.FindClose(search);  // the search has answered
  if (found.FileAttributes & FileAttributeDirectory) return false;
  FileTime local{};
  api.FileTimeToLocalFileTime(&found.LastWriteTime, &local);
  Word date = 0, time = 0;
  return api.FileTimeToDosDateTime(&local, &date, &time) != 0;
}

bool Launched(WinApi& api, const std::string& path) {
  return api.ShellExecuteA(nullptr, "open", path.c_str(), "", "",
                           SwShowNormal) > 32;
}

// Windows NT restarts only for a caller whose shutdown privilege is enabled.
// Windows 9x has no tokens: there these calls fail, and change nothing.
void EnableShutdownPrivilege(WinApi& api) {
  Handle token = nullptr;
  if (api.OpenProcessToken(api.GetCurrentProcess(),
                           TokenAdjustPrivileges | TokenQuery, &token) == 0)
    return;
  const auto close = [&api](Handle handle) { api.CloseHandle(handle); };
  const std::unique_ptr<void, decltype(close)> owned(token, close);
  TokenPrivileges privileges{1, {}, SePrivilegeEnabled};
  api.LookupPrivilegeValueA(nullptr, "SeShutdownPrivilege",
                            &privileges.PrivilegeLuid);
  api.AdjustTokenPrivileges(token, 0, &privileges, 0, nullptr, nullptr);
}

}  // namespace

void RunLaunchStage(WinApi& api, ProgramState& state) {
  if (!state.HandingBack) return;

  if (state.SetupPath.empty()) {
    state.LaunchFailed = true;  // nothing recorded, so no path to show
  } else {
    state.SetupPath = JoinPath(api, state.SetupPath, "SETUP.EXE");
    state.LaunchFailed =
        !FileIsPresent(api, state.SetupPath) || !Launched(api, state.SetupPath);
  }

  if (!state.LaunchFailed) {
    state.Settled = true;
    api.WaitMessage();  // setup runs; end after one message
    return;
  }
  if (!state.SetupPath.empty())
    api.MessageBoxA(nullptr, NoticeText(state.SetupPath).c_str(), "Setup Error",
                    MbOkIconHand);
  // Explorer is the shell again, so Windows comes back up normally.
  EnableShutdownPrivilege(api);
  state.Settled = api.ExitWindowsEx(EwxReboot, 0) != 0;
}

}  // namespace handback
