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
  const std::string registered = UpperCaseAnsi(api, FileNamePart(shell));
  const std::string own = UpperCaseAnsi(api, FileNamePart(ModuleFileName(api)));
  if (registered != own) return;

  // Set before the write, so it stays set if the write fails.
  state.HandingBack = true;
  SystemIni.WriteEntry("Boot", "Shell", "EXPLORER.EXE");
  // The key ends in a blank, as the setup program records it.
  state.SetupPath = SystemIni.ReadEntry("Boot", "DorvanixSetupDir ", "");
}

}  // namespace

void RunHandBack(WinApi& api, ProgramState& state) {
  try {
    RestoreShell(api, state, JoinPath(WindowsDirectory(api), "SYSTEM.INI"));
    RunLaunchStage(api, state);
  } catch (...) {
    // No desktop exists yet to report anything on: the run simply ends.
  }
}

}  // namespace handback
