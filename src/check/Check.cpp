// The check, one step after another; the first that fails gives the answer.
#include "Check.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace check {

namespace {

using winservices::Handle;
using winservices::Uint;

constexpr std::size_t MaxGivenChars = 32767;  // Windows' longest path
constexpr Dword DeviceChars = 1024;
constexpr Dword TokenQuery = 8;  // TOKEN_QUERY
// TOKEN_USER (a SID's pointer and attributes) and the SID, which takes at
// most 68 bytes.
constexpr std::size_t TokenUserBytes = 256;
constexpr std::size_t FileNameChars = 260;
constexpr std::size_t MaxEntries = 65536;

// A file, or a directory above one, and the rights that count there.
struct PathObject {
  Text Path;
  bool Strict;
};

// Released by scope: a descriptor from GetNamedSecurityInfoW, a search, the
// token.
struct LocalMemory {
  CheckApi& Api;
  void* Memory;
  ~LocalMemory() {
    if (Memory != nullptr) Api.LocalFree(Memory);
  }
};
struct FindHandle {
  CheckApi& Api;
  Handle Find;
  ~FindHandle() { Api.FindClose(Find); }
};
struct TokenHandle {
  CheckApi& Api;
  Handle Token;
  ~TokenHandle() { Api.CloseHandle(Token); }
};

// A step that fails says why and returns false.
bool Fail(CheckState& state, Text why) {
  state.Reason = std::move(why);
  return false;
}

// Characters up to the terminating zero, looking at no more than `max`.
std::size_t BoundedLength(const Wchar* text, std::size_t max) {
  std::size_t length = 0;
  while (length < max && text[length] != 0) ++length;
  return length;
}

bool IsSeparator(Wchar c) { return c == u'\\' || c == u'/'; }
bool IsLetter(Wchar c) {
  return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z');
}
Wchar UpperAscii(Wchar c) {
  return c >= u'a' && c <= u'z' ? static_cast<Wchar>(c - u'a' + u'A') : c;
}

Text ErrorText(CheckApi& api) {
  return u"(error " + Decimal(api.GetLastError()) + u")";
}

// As the program joins them: no doubled backslash.
Text JoinPath(const Text& directory, const Text& name) {
  return directory.back() == u'\\' ? directory + name
                                   : directory + u'\\' + name;
}

// How a reason names a path: quoted where it ends in a blank or a dot, which
// a Win32 path would drop, so that the reader sees which entry it is.
Text Shown(const Text& path) {
  return path.back() == u' ' || path.back() == u'.' ? u'"' + path + u'"' : path;
}

// The directory holding what a full path names, or "" for a root.
Text Parent(const Text& path) {
  if (path.size() <= 3) return u"";
  const std::size_t last = path.rfind(u'\\', path.size() - 2);
  return last <= 2 ? path.substr(0, 3) : path.substr(0, last);
}

// A full path as Windows makes them: X:\ and names, each apart from the
// next by one backslash, none . or .., and no character a name may not hold
// (a colon would name a stream, * and ? more than one file). A directory may
// end in a backslash; a file may not.
bool IsPlain(const Text& full, bool directory, CheckState& state) {
  if (full.size() < 3 || !IsLetter(full[0]) || full[1] != u':' ||
      full[2] != u'\\')
    return Fail(state, full + u" is not a full path");
  for (std::size_t i = 3; i < full.size(); ++i)
    if (full[i] < 0x20 || Text(u"<>:\"/|?*").find(full[i]) != Text::npos)
      return Fail(state, full + u" holds a character no file name may hold");
  if (!directory && full.back() == u'\\')
    return Fail(state, full + u" names no file");
  for (std::size_t start = 3; start < full.size();) {
    const std::size_t end = std::min(full.find(u'\\', start), full.size());
    const Text name = full.substr(start, end - start);
    if ((name.empty() && end < full.size()) || name == u"." || name == u"..")
      return Fail(state, full + u" is not a full path");
    start = end + 1;
  }
  return true;
}

// Step 1: each path absolute as given (a drive, its colon and a separator),
// then made full as Windows will open it.
bool MakeFull(CheckApi& api, const Wchar* given, const char16_t* what,
              bool directory, Text& full, CheckState& state) {
  if (given == nullptr || given[0] == 0)
    return Fail(state, Text(u"no path was given for ") + what);
  const std::size_t length = BoundedLength(given, MaxGivenChars + 1);
  if (length > MaxGivenChars)
    return Fail(state, Text(u"the path given for ") + what + u" is too long");
  const Text text(given, length);
  if (length >= 2 && IsSeparator(text[0]) && IsSeparator(text[1])) {
    if (length >= 4 && (text[2] == u'?' || text[2] == u'.') &&
        IsSeparator(text[3]))
      return Fail(state, text + u" is a device path");
    return Fail(state, text + u" is not on a local drive");
  }
  if (length < 3 || !IsLetter(text[0]) || text[1] != u':' ||
      !IsSeparator(text[2]))
    return Fail(state, text + u" is not a full path");
  Wchar buffer[PathChars];
  const Dword got =
      api.GetFullPathNameW(text.c_str(), PathChars, buffer, nullptr);
  if (got == 0)
    return Fail(state, text + u" cannot be made full " + ErrorText(api));
  if (got >= PathChars) return Fail(state, text + u" is too long");
  Text made(buffer, BoundedLength(buffer, got));
  if (!IsPlain(made, directory, state)) return false;
  full = std::move(made);
  return true;
}

// Step 2: a drive of this computer's own, there at every logon.
bool OnLocalFixedDrive(CheckApi& api, const Text& path, CheckState& state) {
  const Text drive = path.substr(0, 2);
  const Uint type = api.GetDriveTypeW((drive + u'\\').c_str());
  if (type != winservices::DriveFixed)
    return Fail(state, drive + u" is not a local fixed drive (type " +
                           Decimal(type) + u")");
  Wchar device[DeviceChars];
  const Dword got = api.QueryDosDeviceW(drive.c_str(), device, DeviceChars);
  if (got == 0 || got > DeviceChars)
    return Fail(state, drive +
                           u" is not a local fixed drive: its device cannot "
                           u"be read " +
                           ErrorText(api));
  // A subst drive stands for a directory, which others may change.
  const Text target(device, BoundedLength(device, got));
  if (target.compare(0, 4, u"\\??\\") == 0)
    return Fail(
        state, drive + u" is not a local fixed drive: it stands for " + target);
  return true;
}

// Each file, and every directory above it up to the root: the files and
// both files' own directories get the strict rule. Names that differ only in
// case are kept apart, as a directory may be case-sensitive (under Wine,
// every one is); where they name one object, it is judged twice.
std::vector<PathObject> PathObjects(const CheckState& state) {
  const Text exeDirectory = Parent(state.Exe);
  const Text setupDirectory = Parent(state.SetupExe);
  std::vector<PathObject> objects;
  for (const Text* file : {&state.Exe, &state.SetupExe}) {
    for (Text path = *file; !path.empty(); path = Parent(path)) {
      const bool strict =
          path == *file || path == exeDirectory || path == setupDirectory;
      const auto seen =
          std::find_if(objects.begin(), objects.end(),
                       [&path](const PathObject& o) { return o.Path == path; });
      if (seen == objects.end())
        objects.push_back({path, strict});
      else
        seen->Strict = seen->Strict || strict;
    }
  }
  return objects;
}

// Step 3: a link can be pointed elsewhere by whoever owns it, which is not
// seen under every Windows; its target's security says nothing. `path` is
// opened, `shown` named in the reason.
bool NotALink(CheckApi& api, const Text& path, const Text& shown,
              CheckState& state) {
  const Dword attributes = api.GetFileAttributesW(path.c_str());
  if (attributes == winservices::InvalidFileAttributes)
    return Fail(state, shown + u" cannot be read " + ErrorText(api));
  if ((attributes & winservices::FileAttributeReparsePoint) != 0)
    return Fail(state, shown + u" is a link");
  return true;
}

// The SID of the account this runs as, "" where it cannot be read.
Text InstallingUser(CheckApi& api) {
  Handle token = nullptr;
  if (api.OpenProcessToken(api.GetCurrentProcess(), TokenQuery, &token) == 0)
    return u"";
  const TokenHandle held{api, token};
  alignas(8) uint8_t info[TokenUserBytes];
  Dword returned = 0;
  if (api.GetTokenInformation(token, winservices::TokenUser, info, sizeof info,
                              &returned) == 0)
    return u"";
  // TOKEN_USER starts with the SID's pointer, which points into `info`.
  const std::size_t size = std::min<std::size_t>(returned, sizeof info);
  const void* sid = nullptr;
  if (size < sizeof sid) return u"";
  std::memcpy(&sid, info, sizeof sid);
  const auto from = reinterpret_cast<uintptr_t>(info);
  const auto at = reinterpret_cast<uintptr_t>(sid);
  if (at < from || at - from >= size) return u"";
  const Text text = SidText(info + (at - from), size - (at - from));
  return text == u"?" ? u"" : text;
}

// Before Windows Vista (XP, Server 2003), whose major version is 5.
bool BeforeVista(CheckApi& api) { return (api.GetVersion() & 0xFF) < 6; }

// Why others may change the object at `path`, where `rights` count; "".
Text ObjectOpen(CheckApi& api, const Text& path, Dword rights,
                const Trustees& trust) {
  void *owner = nullptr, *dacl = nullptr, *descriptor = nullptr;
  const Dword error =
      api.GetNamedSecurityInfoW(path.c_str(), winservices::SeFileObject,
                                winservices::OwnerSecurityInformation |
                                    winservices::DaclSecurityInformation,
                                &owner, nullptr, &dacl, nullptr, &descriptor);
  if (error != 0)
    return u"its security cannot be read (error " + Decimal(error) + u")";
  const LocalMemory held{api, descriptor};
  if (descriptor == nullptr) return u"its descriptor cannot be read";
  const Dword size = api.GetSecurityDescriptorLength(descriptor);
  return DescriptorOpen(static_cast<const uint8_t*>(descriptor), size, owner,
                        dacl, rights, trust);
}

// Step 4: only trusted principals may change the object.
bool Closed(CheckApi& api, const Text& path, const Text& shown, Dword rights,
            CheckState& state) {
  const Text why = ObjectOpen(api, path, rights, state.Trust);
  return why.empty() || Fail(state, shown + u" is open to others: " + why);
}

// The names in a directory but . and .., found before any is judged.
bool ListDirectory(CheckApi& api, const Text& directory,
                   std::vector<Text>& names, CheckState& state) {
  winservices::FindDataW found;
  const Handle find =
      api.FindFirstFileW(JoinPath(directory, u"*").c_str(), &found);
  if (find == winservices::InvalidHandle())
    return Fail(state, directory + u" cannot be listed " + ErrorText(api));
  const FindHandle held{api, find};
  do {
    const Text name(found.FileName,
                    BoundedLength(found.FileName, FileNameChars));
    if (name.empty() || names.size() == MaxEntries)
      return Fail(state, directory + u" cannot be listed");
    if (name != u"." && name != u"..") names.push_back(name);
  } while (api.FindNextFileW(find, &found) != 0);
  const Dword error = api.GetLastError();
  if (error != winservices::ErrorNoMoreFiles)
    return Fail(state, directory + u" cannot be listed (error " +
                           Decimal(error) + u")");
  return true;
}

// Step 5: what lies beside a program is as good as the program. SETUP.EXE
// loads DLLs from its own directory first. Each entry is opened by its
// \\?\ path, which Win32 takes as written: a plain one drops a name's
// trailing blanks and dots, and so names its twin without them.
bool BesideClosed(CheckApi& api, const Text& directory, CheckState& state) {
  std::vector<Text> names;
  if (!ListDirectory(api, directory, names, state)) return false;
  for (const Text& name : names) {
    const Text path = JoinPath(directory, name);
    const Text exact = u"\\\\?\\" + path;
    if (!NotALink(api, exact, Shown(path), state) ||
        !Closed(api, exact, Shown(path), StrictRights, state))
      return false;
  }
  return true;
}

// The program an unquoted command line would try for the text before a
// space: the name as it is where it has an extension, else with ".exe".
Text ProgramTried(const Text& before) {
  const std::size_t dot = before.rfind(u'.');
  const bool extension = dot != Text::npos && dot > before.rfind(u'\\');
  return extension ? before : before + u".exe";
}

// Step 6: the shell is written unquoted, and Windows starts it as a command
// line: for `C:\A B\HANDBACK.EXE` it tries a program `C:\A.exe` first, looked
// up in `C:\`. Where others may add a file to such a directory, or such a
// program is there already, only RunOnce, whose value is quoted, is safe.
bool NoUnquotedSpaceOpen(CheckApi& api, CheckState& state) {
  Text judged;
  for (std::size_t space = state.Exe.find(u' '); space != Text::npos;
       space = state.Exe.find(u' ', space + 1)) {
    const Text before = state.Exe.substr(0, space);
    const std::size_t last = before.rfind(u'\\');
    const Text directory =
        last <= 2 ? before.substr(0, 3) : before.substr(0, last);
    const Text tried = ProgramTried(before);
    if (api.GetFileAttributesW(tried.c_str()) !=
        winservices::InvalidFileAttributes)
      return Fail(state, tried +
                             u" is there, so an unquoted shell would "
                             u"start it instead");
    if (directory == judged) continue;
    judged = directory;
    const Text why = ObjectOpen(api, directory, AddFileRights, state.Trust);
    if (!why.empty())
      return Fail(state, directory + u" is open to others: " + why +
                             u", so an unquoted shell could start a program "
                             u"named " +
                             before + u" instead");
  }
  return true;
}

// Writes as much of `text` as fits `chars`, always terminated.
void Put(Wchar* buffer, const Wchar* text, std::size_t length, unsigned chars) {
  if (buffer == nullptr || chars == 0) return;
  const std::size_t count = std::min<std::size_t>(length, chars - 1);
  std::copy(text, text + count, buffer);
  buffer[count] = 0;
}
void Put(Wchar* buffer, const Text& text, unsigned chars) {
  Put(buffer, text.data(), text.size(), chars);
}

}  // namespace

void RunCheck(CheckApi& api, const Wchar* exe, const Wchar* setupDir,
              CheckState& state) {
  state = CheckState{};
  if (!MakeFull(api, exe, u"HANDBACK.EXE", false, state.Exe, state) ||
      !MakeFull(api, setupDir, u"the setup directory", true, state.SetupDir,
                state))
    return;
  state.SetupExe = JoinPath(state.SetupDir, u"SETUP.EXE");
  if (!OnLocalFixedDrive(api, state.Exe, state)) return;
  if (UpperAscii(state.Exe[0]) != UpperAscii(state.SetupDir[0]) &&
      !OnLocalFixedDrive(api, state.SetupDir, state))
    return;
  const std::vector<PathObject> objects = PathObjects(state);
  for (const PathObject& object : objects)
    if (!NotALink(api, object.Path, object.Path, state)) return;
  state.Trust = {InstallingUser(api), BeforeVista(api)};
  for (const PathObject& object : objects)
    if (!Closed(api, object.Path, object.Path,
                object.Strict ? StrictRights : LooseRights, state))
      return;
  const Text exeDirectory = Parent(state.Exe);
  const Text setupDirectory = Parent(state.SetupExe);
  if (!BesideClosed(api, exeDirectory, state)) return;
  if (setupDirectory != exeDirectory &&
      !BesideClosed(api, setupDirectory, state))
    return;
  state.Answer = RunOnce;
  if (!NoUnquotedSpaceOpen(api, state)) return;
  state.Answer = HandBack;
}

int HandBackCheckWith(CheckApi& api, const Wchar* exe, const Wchar* setupDir,
                      Wchar* fullExe, Wchar* fullSetupDir, Wchar* reason,
                      unsigned chars) {
  const auto answer = [&](const Text& exeText, const Text& setupText,
                          const Text& why, int way) {
    Put(fullExe, exeText, chars);
    Put(fullSetupDir, setupText, chars);
    Put(reason, why, chars);
    return way;
  };
  try {
    if (chars == 0) return None;  // nowhere to write anything
    if (fullExe == nullptr || fullSetupDir == nullptr || reason == nullptr)
      return answer(u"", u"", u"a buffer for the answer is missing", None);
    CheckState state;
    RunCheck(api, exe, setupDir, state);
    // A path cut short must not be armed.
    if (state.Exe.size() >= chars || state.SetupDir.size() >= chars)
      return answer(u"", u"",
                    u"the full paths do not fit buffers of " + Decimal(chars) +
                        u" characters",
                    None);
    return answer(state.Exe, state.SetupDir, state.Reason, state.Answer);
  } catch (...) {
    // Out of memory: said without taking more.
    static const Wchar why[] = u"the check ran out of memory";
    Put(fullExe, u"", 0, chars);
    Put(fullSetupDir, u"", 0, chars);
    Put(reason, why, sizeof why / sizeof *why - 1, chars);
    return None;
  }
}

}  // namespace check
