// An example SETUP.EXE for HANDBACK.EXE to start after the restart: copy it,
// and put your product's setup into RunProductSetup. Started by the hand-back,
// it runs in a session without Explorer: it wakes HANDBACK.EXE, and at its end
// restarts Windows or starts Explorer, or the user has no desktop.
#include <windows.h>
// after <windows.h>, which they need
#include <shellapi.h>
#include <tlhelp32.h>

// THE PRODUCT'S SETUP: replace this. It runs before any desktop exists.
// Return true where Windows must restart (then Explorer is not started),
// false to give the user a desktop now.
static bool RunProductSetup() {
  return false;  // not restarting Windows
}

// The entry of a running process; an empty one if there is none.
static PROCESSENTRY32 ProcessEntry(DWORD id) {
  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof entry;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  BOOL found = Process32First(snapshot, &entry);
  while (found && entry.th32ProcessID != id)
    found = Process32Next(snapshot, &entry);
  CloseHandle(snapshot);
  return found ? entry : PROCESSENTRY32{};
}

static void PostToThreadsOf(DWORD process) {
  THREADENTRY32 thread{};
  thread.dwSize = sizeof thread;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  for (BOOL more = Thread32First(snapshot, &thread); more;
       more = Thread32Next(snapshot, &thread))
    if (thread.th32OwnerProcessID == process)
      PostThreadMessage(thread.th32ThreadID, WM_NULL, 0, 0);
  CloseHandle(snapshot);
}

// HANDBACK.EXE waits for one message once it has started this program. Until
// its thread has a message queue the post fails, so post until it has ended
// (10 s at most).
static void WakeHandBack(DWORD process) {
  HANDLE handBack = OpenProcess(SYNCHRONIZE, FALSE, process);
  if (handBack == nullptr) return;  // ended already
  for (int tries = 0; tries < 200; ++tries) {
    PostToThreadsOf(process);
    if (WaitForSingleObject(handBack, 50) != WAIT_TIMEOUT) break;
  }
  CloseHandle(handBack);
}

// Windows NT restarts only for a caller whose shutdown privilege is enabled.
static bool RestartWindows() {
  HANDLE token;
  if (OpenProcessToken(GetCurrentProcess(),
                       TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) {
    TOKEN_PRIVILEGES privileges{1, {{{}, SE_PRIVILEGE_ENABLED}}};
    LookupPrivilegeValue(nullptr, SE_SHUTDOWN_NAME,
                         &privileges.Privileges[0].Luid);
    AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
    CloseHandle(token);
  }
  return ExitWindowsEx(EWX_REBOOT, 0) != 0;
}

static void StartExplorer() {
  TCHAR path[MAX_PATH + 16];
  const UINT length = GetWindowsDirectory(path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return;
  lstrcat(path, TEXT("\\EXPLORER.EXE"));
  ShellExecute(nullptr, TEXT("open"), path, nullptr, nullptr, SW_SHOWNORMAL);
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  const PROCESSENTRY32 parent =
      ProcessEntry(ProcessEntry(GetCurrentProcessId()).th32ParentProcessID);
  // Only the file name counts, should a path come with it.
  const TCHAR* name = parent.szExeFile;
  for (const TCHAR* at = name; *at; at = CharNext(at))
    if (*at == TEXT('\\')) name = at + 1;
  // The name your installer gave HANDBACK.EXE.
  const bool byHandBack = lstrcmpi(name, TEXT("HANDBACK.EXE")) == 0;
  if (byHandBack) WakeHandBack(parent.th32ProcessID);

  // Yours to decide: restart Windows, or give the user a desktop now.
  const bool restarting = RunProductSetup();
  if (restarting && RestartWindows()) return 0;  // Explorer comes back with it
  // Explorer is the shell again, but nothing else will start it now.
  if (byHandBack) StartExplorer();
  return 0;
}
