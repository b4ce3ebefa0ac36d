// The way the include files take for two paths, decided as they decide it
// after the check: what handback-check.exe prints and exits with.
#pragma once

#include "Check.h"

namespace check {

// handback-check.exe's exit status for each way, and for a command line it
// does not take.
constexpr int ExitHandBack = 0, ExitRunOnce = 1, ExitNone = 2, ExitUsage = 64;

// The paths as the include files arm them: full, "" where the check could not
// make them so.
struct Decision {
  Way Answer = None;
  Text Why;
  Text Exe, SetupExe;
};

// The check's answer; where it allows the hand-back, whether the hand-back
// can complete: before Vista, or with UAC off, where the program can read
// back both paths.
Decision Decide(CheckApi& api, const Wchar* exe, const Wchar* setupDir);

// Whether HANDBACK.EXE, an ANSI program, reads `path` back as it is.
bool Readable(CheckApi& api, const Text& path);

// What the program prints: both paths, then the line the include files log.
Text Report(const Decision& decision);

// Writes `text` to the standard handle `which`; false where it could not.
bool Print(CheckApi& api, Dword which, const Text& text);

// handback-check.exe, from its arguments to its exit status.
int Main(CheckApi& api, int argc, const Wchar* const* argv);

}  // namespace check
