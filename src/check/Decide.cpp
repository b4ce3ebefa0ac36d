// The include files' steps after the check, one after another, each reaching
// Windows through the seam.
#include "Decide.h"

#include <string>

namespace check {

namespace {

using winservices::Handle;

const Wchar PoliciesKey[] =
    u"Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System";
// The program reads its own path into 261 bytes, and Windows' ANSI functions
// that find and start SETUP.EXE take paths of fewer than 260.
constexpr int AnsiPathBytes = 260;

// Released by scope.
struct RegistryKey {
  CheckApi& Api;
  Handle Key;
  ~RegistryKey() { Api.RegCloseKey(Key); }
};

// Before Windows Vista (XP, Server 2003), whose major version is 5.
bool BeforeVista(CheckApi& api) { return (api.GetVersion() & 0xFF) < 6; }

// EnableLUA is 0 in Windows' own view of the registry, which Winlogon reads:
// a 32-bit process sees it only through KEY_WOW64_64KEY, which 32-bit
// Windows ignores. Missing, or of another type, it is on.
bool UacOff(CheckApi& api) {
  Handle key = nullptr;
  if (api.RegOpenKeyExW(winservices::LocalMachine(), PoliciesKey, 0,
                        winservices::KeyQueryValue | winservices::KeyWow6464Key,
                        &key) != 0)
    return false;
  const RegistryKey held{api, key};
  Dword type = 0, value = 1, size = sizeof value;
  if (api.RegQueryValueExW(key, u"EnableLUA", nullptr, &type,
                           reinterpret_cast<uint8_t*>(&value), &size) != 0)
    return false;
  return type == winservices::RegDword && size == sizeof value && value == 0;
}

const char16_t* WayName(Way way) {
  return way == HandBack ? u"hand-back" : way == RunOnce ? u"RunOnce" : u"none";
}

}  // namespace

bool Readable(CheckApi& api, const Text& path) {
  // Without best fit: a letter made plain is a loss too. A code page that
  // takes no flags (UTF-8) has no best fit either.
  Dword flags = winservices::WcNoBestFitChars;
  int bytes = api.WideCharToMultiByte(winservices::CpAcp, flags, path.c_str(),
                                      -1, nullptr, 0, nullptr, nullptr);
  if (bytes == 0) {
    flags = 0;
    bytes = api.WideCharToMultiByte(winservices::CpAcp, flags, path.c_str(), -1,
                                    nullptr, 0, nullptr, nullptr);
  }
  // Counted with the terminating zero; a double-byte character takes two.
  if (bytes <= 0 || bytes > AnsiPathBytes) return false;
  char ansi[AnsiPathBytes];
  if (api.WideCharToMultiByte(winservices::CpAcp, flags, path.c_str(), -1, ansi,
                              bytes, nullptr, nullptr) != bytes)
    return false;
  Wchar back[AnsiPathBytes];
  const int chars = api.MultiByteToWideChar(winservices::CpAcp, 0, ansi, -1,
                                            back, AnsiPathBytes);
  return chars > 0 && Text(back, chars - 1) == path;
}

Decision Decide(CheckApi& api, const Wchar* exe, const Wchar* setupDir) {
  // Asked as the include files ask the DLL, with buffers of 1024 characters.
  Wchar fullExe[PathChars], fullSetupDir[PathChars], reason[PathChars];
  const int answer = HandBackCheckWith(api, exe, setupDir, fullExe,
                                       fullSetupDir, reason, PathChars);
  Decision decision;
  decision.Exe = fullExe;
  decision.Why = reason;
  // As the program joins them: no doubled backslash.
  const Text directory = fullSetupDir;
  if (!directory.empty())
    decision.SetupExe =
        directory + (directory.back() == u'\\' ? u"" : u"\\") + u"SETUP.EXE";
  if (answer != HandBack) {
    decision.Answer = answer == RunOnce ? RunOnce : None;
    return decision;
  }
  // With UAC on, Windows starts an administrator's shell with the filtered
  // token, which cannot give Winlogon's value back.
  if (BeforeVista(api)) {
    decision.Why = u"Windows before Vista";
  } else if (UacOff(api)) {
    decision.Why = u"UAC is off";
  } else {
    decision.Answer = RunOnce;
    decision.Why = u"UAC is on";
    return decision;
  }
  // Nor can the program give the shell back or find SETUP.EXE if it cannot
  // read both paths.
  decision.Answer = HandBack;
  for (const Text* path : {&decision.Exe, &decision.SetupExe}) {
    if (!Readable(api, *path)) {
      decision.Answer = RunOnce;
      decision.Why = u"the program could not read back " + *path;
      break;
    }
  }
  return decision;
}

Text Report(const Decision& decision) {
  Text text;
  if (!decision.Exe.empty()) text += u"HANDBACK.EXE: " + decision.Exe + u"\r\n";
  if (!decision.SetupExe.empty())
    text += u"SETUP.EXE: " + decision.SetupExe + u"\r\n";
  return text + u"HandBackWay: " + WayName(decision.Answer) + u": " +
         decision.Why + u"\r\n";
}

bool Print(CheckApi& api, Dword which, const Text& text) {
  const Handle out = api.GetStdHandle(which);
  if (out == nullptr || out == winservices::InvalidHandle()) return false;
  const auto chars = static_cast<int>(text.size());
  Dword mode = 0, written = 0;
  // A console shows every character given as it is.
  if (api.GetConsoleMode(out, &mode) != 0)
    return api.WriteConsoleW(out, text.data(), chars, &written, nullptr) != 0;
  // A file or a pipe gets UTF-8, whatever code page the console has.
  const int bytes = api.WideCharToMultiByte(
      winservices::CpUtf8, 0, text.data(), chars, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return false;
  std::string utf8(bytes, '\0');
  if (api.WideCharToMultiByte(winservices::CpUtf8, 0, text.data(), chars,
                              utf8.data(), bytes, nullptr, nullptr) != bytes)
    return false;
  return api.WriteFile(out, utf8.data(), bytes, &written, nullptr) != 0;
}

int Main(CheckApi& api, int argc, const Wchar* const* argv) {
  try {
    if (argc != 3) {
      Print(api, winservices::StdErrorHandle,
            u"usage: handback-check \"<HANDBACK.EXE as installed>\" "
            u"\"<the directory holding SETUP.EXE>\"\r\n"
            u"exit status: 0 hand-back, 1 RunOnce, 2 none\r\n");
      return ExitUsage;
    }
    const Decision decision = Decide(api, argv[1], argv[2]);
    Print(api, winservices::StdOutputHandle, Report(decision));
    return decision.Answer == HandBack  ? ExitHandBack
           : decision.Answer == RunOnce ? ExitRunOnce
                                        : ExitNone;
  } catch (...) {
    // Out of memory: as the include files take a check that cannot run.
    return ExitNone;
  }
}

}  // namespace check
