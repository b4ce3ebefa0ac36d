// The hand-back: for one start of Windows this program is the shell; it gives
// the shell back to Explorer and starts the product's setup program again.
#pragma once

#include <string>

#include "WinApi.h"

namespace handback {

using winservices::WinApi;

// Shared by the sequence and the launch stage for the whole run.
struct ProgramState {
  bool HandingBack = false;   // the Shell entry named this program
  bool LaunchFailed = false;  // setup could not be found or started
  bool Settled = false;       // setup runs, or Windows restarts
  std::string SetupPath;      // setup directory, later the full setup path
};

// Path and file-name rules. The first two look a path up; the others ask the
// platform only about the ANSI code page: where a character starts, and its
// upper case.
std::string WindowsDirectory(WinApi& api);
std::string ModuleFileName(WinApi& api);
std::string JoinPath(WinApi& api, const std::string& directory,
                     const std::string& name);
std::string FileNamePart(WinApi& api, const std::string& path);
std::string DirectoryPart(WinApi& api, const std::string& path);
std::string UpperCaseAnsi(WinApi& api, const std::string& text);

// The whole run: restores the shell and runs the launch stage; where neither
// setup nor a restart then comes, starts Explorer. Never raises.
void RunHandBack(WinApi& api, ProgramState& state);

// Starts setup, or shows why not and asks Windows to restart.
void RunLaunchStage(WinApi& api, ProgramState& state);

}  // namespace handback
