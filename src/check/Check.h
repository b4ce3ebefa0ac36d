// The check an installer runs before it arms the hand-back: whether anyone
// but the trusted may change what the next logon would start, HANDBACK.EXE as
// the shell and SETUP.EXE after it, and so run their own program in the
// session of whoever logs on next.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "CheckApi.h"

namespace check {

using winservices::CheckApi;
using winservices::Dword;
using winservices::Wchar;
using Text = std::u16string;

// As HandBackCheck answers.
enum Way : int {
  None = 0,      // others may change what would start: arm nothing
  RunOnce = 1,   // only a quoted command line is safe
  HandBack = 2,  // the hand-back may be armed
};

// Rights that let a principal change what a path starts. Strict: a file, or
// the directory holding one (write or append data, that is add a file or a
// subdirectory; delete a child, DELETE, WRITE_DAC, WRITE_OWNER,
// GENERIC_WRITE, GENERIC_ALL). Loose: a directory above, where adding is
// harmless and replacing what the path names is not. AddFile: a directory in
// which an unquoted command line looks a program up (FILE_ADD_FILE,
// GENERIC_WRITE, GENERIC_ALL).
constexpr Dword StrictRights = 0x500D0046;
constexpr Dword LooseRights = 0x100D0040;
constexpr Dword AddFileRights = 0x50000002;

// Longest path the check takes, in characters with the terminating zero.
constexpr Dword PathChars = 1024;

// Who is trusted besides the principals every Windows trusts.
struct Trustees {
  Text User;                // the installing user's SID, "" where unknown
  bool PowerUsers = false;  // before Windows Vista
};

struct CheckState {
  Way Answer = None;
  Text Exe;        // HANDBACK.EXE, full
  Text SetupDir;   // the directory holding SETUP.EXE, full
  Text SetupExe;   // SETUP.EXE in it, as the program joins them
  Trustees Trust;  // as this Windows and the token tell
  Text Reason;     // why not HandBack; "" for HandBack
};

// Judges the two paths as given (null for none); fills `state`.
void RunCheck(CheckApi& api, const Wchar* exe, const Wchar* setupDir,
              CheckState& state);

// HandBackCheck over `api`: the answer, with both paths made full and the
// reason in the caller's buffers of `chars` characters each.
int HandBackCheckWith(CheckApi& api, const Wchar* exe, const Wchar* setupDir,
                      Wchar* fullExe, Wchar* fullSetupDir, Wchar* reason,
                      unsigned chars);

// The security rule on a self-relative descriptor of `size` bytes at `start`,
// its owner and DACL where GetNamedSecurityInfoW found them (null for none):
// "" where only trusted principals hold any of `rights`, else why. Reads
// nothing outside the descriptor.
Text DescriptorOpen(const uint8_t* start, std::size_t size, const void* owner,
                    const void* dacl, Dword rights, const Trustees& trust);

// A SID of at most `size` bytes as S-1-..., or "?" where it is none.
Text SidText(const uint8_t* sid, std::size_t size);

// Whether that principal is trusted with what the next logon starts.
bool Trusted(const Text& sid, const Trustees& trust);

// A number in decimal, or as 0x and `digits` hexadecimal digits.
Text Decimal(uint64_t value);
Text Hex(uint64_t value, int digits);

}  // namespace check
