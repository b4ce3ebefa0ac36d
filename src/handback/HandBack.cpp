#include "HandBack.h"

#include "IniFile.h"

namespace handback {

namespace {

// SystemIni lives only for the check and the restore, and is released on
// every way out, a failed write included.
void RestoreShell(WinApi& api, ProgramState& state,
                  const std::string& profilePath) {
  const winservices::TIniFile SystemIni(api, profilePath);
  const std::string shell = SystemIni.ReadEntry("Boot", "Shell", "");
  const std::string registered = UpperCaseAnsi(api, FileNamePart(api, shell));
  const std::string own =
      UpperCaseAnsi(api, FileNamePart(api, ModuleFileName(api)));
  if (registered != own) return;

  // Set before the write, so it stays set if the write fails.
  state.HandingBack = true;
  SystemIni.WriteEntry("Boot", "Shell", "EXPLORER.EXE");
  // The key ends in a blank, as the setup program records it.
  state.SetupPath = SystemIni.ReadEntry("Boot", "DorvanixSetupDir ", "");
}

// Started as setup is. Its result changes nothing: there is nothing left to
// fall back on.
void StartExplorer(WinApi& api) {
  const std::string explorer =
      JoinPath(api, WindowsDirectory(api), "EXPLORER.EXE");
  api.ShellExecuteA(nullptr, "open", explorer.c_str(), "", "",
                    winservices::SwShowNormal);
}

}  // namespace

void RunHandBack(WinApi& api, ProgramState& state) {
  try {
    RestoreShell(api, state,
                 JoinPath(api, WindowsDirectory(api), "SYSTEM.INI"));
    RunLaunchStage(api, state);
  } catch (...) {
    // No desktop exists yet to report anything on.
  }
  // The shell entry could not be given back (a user without the right to
  // write it), or Windows refused to restart: without Explorer this session
  // would have no desktop. The entries stay as they are, so the next start
  // of Windows runs the hand-back again.
  if (state.HandingBack && !state.Settled) {
    try {
      StartExplorer(api);
    } catch (...) {
    }
  }
}

}  // namespace handback
