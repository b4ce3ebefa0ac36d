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
  std::string SetupPath;      // setup directory, later the full setup path
};

// Path and file-name rules. Only the first two ask the platform.
std::string WindowsDirectory(WinApi& api);
std::string ModuleFileName(WinApi& api);
std::string JoinPath(const std::string& directory, const std::string& name);
std::string FileNamePart(const std::string& path);
std::string DirectoryPart(const std::string& path);
std::string UpperCaseAnsi(WinApi& api, const std::string& text);

// The whole run: restores the shell and runs the launch stage. Never raises.
void RunHandBack(WinApi& api, ProgramState& state);

// Starts setup, or shows why not and asks Windows to restart.
void RunLaunchStage(WinApi& api, ProgramState& state);

}  // namespace handback
