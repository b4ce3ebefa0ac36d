// The whole run against a Windows whose every answer comes from the fuzz
// input. Whatever Windows answers, the run must not crash, read a byte that a
// call did not write, leave the order of calls it allows, or let an error out.
//
// Input layout (FuzzedDataProvider): four texts from the front, each ended by
// a backslash and one other character (a doubled backslash is a backslash):
// the Windows directory, the module path, the Shell entry and the setup
// directory. Then one byte per choice from the back, in the order of Decode();
// a zero byte, or no byte left, is the usual answer of a working Windows. The
// seeds in corpus/ show it; HANDBACK_FUZZ_TRACE=1 prints the calls of a run.
#include <fuzzer/FuzzedDataProvider.h>
#include <sanitizer/asan_interface.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "HandBack.h"
#include "WinApi.h"

namespace {

using namespace winservices;

[[noreturn]] void Fail(const std::string& why) {
  std::fprintf(stderr, "handback_fuzz: %s\n", why.c_str());
  std::abort();
}

// One of `usual` (a zero byte picks the first), or past them any value.
template <typename T>
T Pick(FuzzedDataProvider& in, std::initializer_list<T> usual) {
  const auto choice = in.ConsumeIntegralInRange<std::size_t>(0, usual.size());
  return choice < usual.size() ? usual.begin()[choice]
                               : in.ConsumeIntegral<T>();
}

// How a call fills a caller's buffer of `size` bytes: Text at the start, a
// count it reports, and a terminating zero after the text unless told not to.
struct TextAnswer {
  enum Count { Honest, Zero, SizeLess1, Size, SizeMore1, Huge, HighBit, Any };
  std::string Text;
  Count Reported = Honest;
  Dword AnyCount = 0;
  bool Unterminated = false;
  char Pad = 0;  // fills from the text's end up to a larger reported count

  Dword ReportedFor(Dword size) const {
    switch (Reported) {
      case Honest:
        return static_cast<Dword>(Text.size());
      case Zero:
        return 0;
      case SizeLess1:
        return size - 1;
      case Size:
        return size;
      case SizeMore1:
        return size + 1;
      case Huge:
        return 0xFFFFFFFF;  // "-1"
      case HighBit:
        return 0x80000000;
      case Any:
        break;
    }
    return AnyCount;
  }

  // Exactly the bytes the call writes. A reported count covers bytes that
  // were written: one beyond the buffer means the buffer was filled.
  std::string Written(Dword size) const {
    std::string bytes = Text.substr(0, size);
    const std::size_t counted = std::min(ReportedFor(size), size);
    if (bytes.size() < counted) bytes.resize(counted, Pad);
    if (!Unterminated && bytes.size() < size) bytes += '\0';
    return bytes;
  }
};

struct Answers {
  TextAnswer WindowsDir, Module, Shell, SetupDir;
  bool CodePage = false;  // upper-cases 0xE0-0xFE too, as Windows-1252 does
  Bool WriteResult = 1;
  intptr_t FindHandle = 0;
  Dword Attributes = 0;
  FileTime LastWrite{}, Local{};
  Bool LocalResult = 1, DosResult = 1;
  Word DosDate = 0, DosTime = 0;
  intptr_t LaunchResult = 0;
  int32_t Ignored = 0;      // the calls whose result the program does not use
  bool DoubleByte = false;  // the lead bytes of code page 932
  Bool TokenResult = 1, RestartResult = 1;
};

Answers Decode(FuzzedDataProvider& in) {
  Answers a;
  for (TextAnswer* text : {&a.WindowsDir, &a.Module, &a.Shell, &a.SetupDir})
    text->Text = in.ConsumeRandomLengthString();
  // From the back, the choices that shape the outcome first.
  a.WriteResult = Pick<Bool>(in, {1, 0, -1, 2});
  a.FindHandle = Pick<intptr_t>(in, {0x5eac, -1, 0});
  a.Attributes = Pick<Dword>(in, {0x20, 0x10, 0x80, 0x11});
  a.DosResult = Pick<Bool>(in, {1, 0, -1});
  // The last is 32 when cut to 32 bits: the result is compared in full.
  a.LaunchResult = Pick<intptr_t>(
      in, {42, 32, 33, 0, 2, -1, INTPTR_MIN, INTPTR_MAX, 0x100000020});
  a.LocalResult = Pick<Bool>(in, {1, 0});
  for (TextAnswer* text : {&a.WindowsDir, &a.Module, &a.Shell, &a.SetupDir}) {
    text->Reported = static_cast<TextAnswer::Count>(
        in.ConsumeIntegralInRange<int>(TextAnswer::Honest, TextAnswer::Any));
    if (text->Reported == TextAnswer::Any)
      text->AnyCount = in.ConsumeIntegral<Dword>();
    text->Unterminated = in.ConsumeBool();
    text->Pad = in.ConsumeIntegral<char>();
  }
  a.CodePage = in.ConsumeBool();
  a.LastWrite = {in.ConsumeIntegral<Dword>(), in.ConsumeIntegral<Dword>()};
  a.Local = {in.ConsumeIntegral<Dword>(), in.ConsumeIntegral<Dword>()};
  a.DosDate = in.ConsumeIntegral<Word>();
  a.DosTime = in.ConsumeIntegral<Word>();
  a.Ignored = in.ConsumeIntegral<int32_t>();
  a.DoubleByte = in.ConsumeBool();
  a.TokenResult = Pick<Bool>(in, {1, 0});
  a.RestartResult = Pick<Bool>(in, {1, 0});
  return a;
}

bool LeadByte(unsigned char byte, bool doubleByte) {
  return doubleByte && ((byte >= 0x81 && byte <= 0x9F) || byte >= 0xE0);
}

const intptr_t Token = 0x70c;

char Upper(char c, bool codePage) {
  const auto u = static_cast<unsigned char>(c);
  if ((u >= 'a' && u <= 'z') ||
      (codePage && u >= 0xE0 && u <= 0xFE && u != 0xF7))
    return static_cast<char>(u - 0x20);
  return c;
}

// A call as the platform saw it: texts as read up to their zero.
struct Call {
  std::string Name;
  std::vector<std::string> Args;
  intptr_t Result = 0;  // what the platform answered; not compared

  bool operator==(const Call& other) const {
    return Name == other.Name && Args == other.Args;
  }
};

std::string Number(intptr_t value) { return std::to_string(value); }
std::string Pointer(const void* pointer) {
  return Number(reinterpret_cast<intptr_t>(pointer));
}
std::string Time(const FileTime& time) {
  return Number(time.HighDateTime) + ":" + Number(time.LowDateTime);
}

// What a call did not write is off limits to the program: a non-zero filler,
// so that a read running on finds no terminator, and ASan poison, so that the
// read itself is reported. Poison on the stack is lifted when the frame that
// owns the buffer returns.
void OffLimits(void* begin, std::size_t size) {
  std::memset(begin, 0xBE, size);
  ASAN_POISON_MEMORY_REGION(begin, size);
}

class FuzzedWindows : public WinApi {
 public:
  explicit FuzzedWindows(const Answers& answers) : A(answers) {}

  std::vector<Call> Calls;

  Uint GetWindowsDirectoryA(char* buffer, Uint size) override {
    Record("GetWindowsDirectoryA", {Number(size)});
    return Fill(A.WindowsDir, buffer, size);
  }
  Dword GetModuleFileNameA(Handle module, char* buffer, Dword size) override {
    Record("GetModuleFileNameA", {Pointer(module), Number(size)});
    return Fill(A.Module, buffer, size);
  }
  Dword CharUpperBuffA(char* text, Dword length) override {
    Record("CharUpperBuffA", {std::string(text, length), Number(length)});
    std::transform(text, text + length, text,
                   [this](char c) { return Upper(c, A.CodePage); });
    return static_cast<Dword>(A.Ignored);
  }
  // Only reads the code page, for many a byte: not one of the run's calls.
  Bool IsDBCSLeadByte(uint8_t byte) override {
    return LeadByte(byte, A.DoubleByte);
  }
  Dword GetPrivateProfileStringA(const char* section, const char* key,
                                 const char* fallback, char* buffer, Dword size,
                                 const char* fileName) override {
    Record("GetPrivateProfileStringA",
           {Text(section), Text(key), Text(fallback), Number(size),
            Text(fileName)});
    return Fill(std::strcmp(key, "Shell") == 0 ? A.Shell : A.SetupDir, buffer,
                size);
  }
  Bool WritePrivateProfileStringA(const char* section, const char* key,
                                  const char* value,
                                  const char* fileName) override {
    Record("WritePrivateProfileStringA",
           {Text(section), Text(key), Text(value), Text(fileName)},
           A.WriteResult);
    return A.WriteResult;
  }
  Handle FindFirstFileA(const char* path, FindData* found) override {
    Record("FindFirstFileA", {Text(path)}, A.FindHandle);
    const auto search = reinterpret_cast<Handle>(A.FindHandle);
    if (search == InvalidHandle()) {
      OffLimits(found, sizeof *found);
    } else {
      std::memset(found, 0xA5, sizeof *found);
      found->FileAttributes = A.Attributes;
      found->LastWriteTime = A.LastWrite;
    }
    return search;
  }
  Bool FindClose(Handle find) override {
    Record("FindClose", {Pointer(find)});
    return A.Ignored;
  }
  Bool FileTimeToLocalFileTime(const FileTime* fileTime,
                               FileTime* localTime) override {
    Record("FileTimeToLocalFileTime", {Time(*fileTime)});
    *localTime = A.Local;  // whether or not it reports success
    return A.LocalResult;
  }
  Bool FileTimeToDosDateTime(const FileTime* fileTime, Word* date,
                             Word* time) override {
    Record("FileTimeToDosDateTime", {Time(*fileTime)});
    if (A.DosResult != 0) {
      *date = A.DosDate;
      *time = A.DosTime;
    } else {
      OffLimits(date, sizeof *date);
      OffLimits(time, sizeof *time);
    }
    return A.DosResult;
  }
  intptr_t ShellExecuteA(Handle window, const char* verb, const char* file,
                         const char* parameters, const char* directory,
                         int show) override {
    Record("ShellExecuteA",
           {Pointer(window), Text(verb), Text(file), Text(parameters),
            Text(directory), Number(show)},
           A.LaunchResult);
    return A.LaunchResult;
  }
  Bool WaitMessage() override {
    Record("WaitMessage", {});
    return A.Ignored;
  }
  int MessageBoxA(Handle window, const char* text, const char* caption,
                  Uint type) override {
    Record("MessageBoxA",
           {Pointer(window), Text(text), Text(caption), Number(type)});
    return A.Ignored;
  }
  Handle GetCurrentProcess() override {
    Record("GetCurrentProcess", {});
    return InvalidHandle();  // what Windows gives: a pseudo handle
  }
  Bool OpenProcessToken(Handle process, Dword access, Handle* token) override {
    Record("OpenProcessToken", {Pointer(process), Number(access)},
           A.TokenResult);
    if (A.TokenResult != 0)
      *token = reinterpret_cast<Handle>(Token);
    else
      OffLimits(token, sizeof *token);
    return A.TokenResult;
  }
  Bool LookupPrivilegeValueA(const char* system, const char* name,
                             Luid* luid) override {
    Record("LookupPrivilegeValueA",
           {system == nullptr ? "null" : Text(system), Text(name)});
    *luid = {19, 0};
    return A.Ignored;
  }
  Bool AdjustTokenPrivileges(Handle token, Bool disableAll,
                             TokenPrivileges* newState, Dword bufferLength,
                             TokenPrivileges* previousState,
                             Dword* returnLength) override {
    Record(
        "AdjustTokenPrivileges",
        {Pointer(token), Number(disableAll), Number(newState->PrivilegeCount),
         Number(newState->PrivilegeLuid.LowPart),
         Number(newState->PrivilegeLuid.HighPart), Number(newState->Attributes),
         Number(bufferLength), Pointer(previousState), Pointer(returnLength)});
    return A.Ignored;
  }
  Bool CloseHandle(Handle object) override {
    Record("CloseHandle", {Pointer(object)});
    return A.Ignored;
  }
  Bool ExitWindowsEx(Uint flags, Dword reason) override {
    Record("ExitWindowsEx", {Number(flags), Number(reason)}, A.RestartResult);
    return A.RestartResult;
  }

 private:
  const Answers& A;

  void Record(const char* name, std::vector<std::string> args,
              intptr_t result = 0) {
    Calls.push_back({name, std::move(args), result});
  }
  // Reading the text through strlen makes ASan check every byte up to its
  // terminating zero.
  static std::string Text(const char* text) {
    if (text == nullptr) Fail("a text argument is a null pointer");
    return std::string(text, std::strlen(text));
  }
  static Dword Fill(const TextAnswer& answer, char* buffer, Dword size) {
    const std::string written = answer.Written(size);
    std::memcpy(buffer, written.data(), written.size());
    OffLimits(buffer + written.size(), size - written.size());
    return answer.ReportedFor(size);
  }
};

// Whether `path` is `name` or ends in a backslash and `name`.
bool EndsWithName(const std::string& path, const std::string& name) {
  if (path == name) return true;
  return path.size() > name.size() &&
         path.compare(path.size() - name.size(), name.size(), name) == 0 &&
         path[path.size() - name.size() - 1] == '\\';
}

// The rules every run keeps, read off the calls alone: the one broken, or
// empty.
std::string RuleBroken(const std::vector<Call>& calls) {
  bool wrote = false, handingBack = false, launched = false, refused = false;
  bool explorer = false;
  // Matched, but neither setup nor a restart comes: only Explorer is left.
  const auto stranded = [&] { return wrote && (!handingBack || refused); };
  int launches = 0, restarts = 0;
  std::vector<std::string> openSearches;
  std::string triedPath;
  for (const Call& call : calls) {
    const std::string& name = call.Name;
    // Everything after the shell check and the restore.
    const bool launchStage = name != "GetWindowsDirectoryA" &&
                             name != "GetModuleFileNameA" &&
                             name != "CharUpperBuffA" &&
                             name.find("ProfileString") == std::string::npos;
    if (explorer) return name + " after Explorer was started";
    if (name == "ShellExecuteA" && EndsWithName(call.Args[2], "EXPLORER.EXE")) {
      if (!stranded()) return "Explorer started while setup or a restart comes";
      explorer = true;
      continue;
    }
    if (stranded() &&
        (name == "GetWindowsDirectoryA" || name == "GetModuleFileNameA"))
      continue;  // where Explorer is
    if (launchStage && !handingBack)
      return name + " without the Shell entry matched and written back";
    if (restarts > 0 || (launched && name != "WaitMessage"))
      return name + " after the run should have ended";
    if (name.find("ProfileString") != std::string::npos &&
        !EndsWithName(call.Args.back(), "SYSTEM.INI"))
      return "a profile other than SYSTEM.INI";
    if ((name == "FindFirstFileA" || name == "ShellExecuteA") &&
        !EndsWithName(call.Args[name == "ShellExecuteA" ? 2 : 0], "SETUP.EXE"))
      return name + " of something other than SETUP.EXE";
    if (name == "WritePrivateProfileStringA") {
      if (wrote) return "a second profile write";
      wrote = true;
      handingBack = call.Result != 0;
    } else if (name == "GetPrivateProfileStringA" &&
               call.Args[1] == "DorvanixSetupDir " && !wrote) {
      return "the setup directory is read before the Shell entry is written";
    } else if (name == "FindFirstFileA") {
      triedPath = call.Args[0];
      if (call.Result != -1) openSearches.push_back(Number(call.Result));
    } else if (name == "FindClose") {
      const auto open =
          std::find(openSearches.begin(), openSearches.end(), call.Args[0]);
      if (open == openSearches.end()) return "FindClose of no open search";
      openSearches.erase(open);
    } else if (name == "ShellExecuteA") {
      if (++launches > 1) return "a second ShellExecuteA";
      launched = call.Result > 32;
    } else if (name == "WaitMessage") {
      if (!launched) return "WaitMessage without a launch above 32";
    } else if (name == "MessageBoxA") {
      if (triedPath.empty() ||
          call.Args[1].rfind('"' + triedPath + '"', 0) != 0)
        return "a notice that does not name the path tried";
    } else if (name == "ExitWindowsEx") {
      ++restarts;
      refused = call.Result == 0;
    }
  }
  if (!openSearches.empty()) return "a search left open";
  if (explorer != stranded())
    return "no Explorer where neither setup nor a restart comes";
  if (restarts != (handingBack && !launched ? 1 : 0))
    return "a restart request without a failed launch, or none after one";
  return "";
}

// The expected run, worked out from the answers alone.
struct Outcome {
  std::vector<Call> Calls;
  bool Matched = false;
  bool LaunchFailed = false;
};

std::string CString(const std::string& text) {
  return text.substr(0, text.find('\0'));
}
// A character is two bytes where it starts with a lead byte; only a whole
// character can be a delimiter.
std::size_t AfterLastDelimiter(const std::string& path, bool doubleByte,
                               bool colonToo = true) {
  std::size_t after = 0;
  for (std::size_t i = 0; i < path.size(); ++i) {
    if (LeadByte(path[i], doubleByte))
      ++i;
    else if (path[i] == '\\' || (colonToo && path[i] == ':'))
      after = i + 1;
  }
  return after;
}
std::string Joined(const std::string& directory, const std::string& name,
                   bool doubleByte) {
  if (directory.empty()) return name;
  const bool endsInBackslash =
      AfterLastDelimiter(directory, doubleByte, false) == directory.size();
  return directory + (endsInBackslash ? "" : "\\") + name;
}

Outcome Expected(const Answers& a) {
  Outcome out;
  auto call = [&out](const char* name, std::vector<std::string> args) {
    out.Calls.push_back({name, std::move(args)});
  };
  // What the program takes from a text answer: the reported count, bounded
  // by the buffer, up to a zero.
  const auto module = [&a] {
    return CString(a.Module.Written(261).substr(0, a.Module.ReportedFor(261)));
  };
  const auto entry = [](const TextAnswer& answer) {
    const Dword count = std::min<Dword>(answer.ReportedFor(1024), 1023);
    return CString(answer.Written(1024).substr(0, count));
  };

  const bool dbcs = a.DoubleByte;
  const auto windowsDir = [&] {
    call("GetWindowsDirectoryA", {"255"});
    const Dword reported = a.WindowsDir.ReportedFor(255);
    if (reported > 0 && reported < 255)
      return CString(a.WindowsDir.Written(255).substr(0, reported));
    // not there, or did not fit: the program's own directory
    call("GetModuleFileNameA", {"0", "261"});
    return module().substr(0, AfterLastDelimiter(module(), dbcs));
  };
  const auto startExplorer = [&] {
    const std::string explorer =
        CString(Joined(windowsDir(), "EXPLORER.EXE", dbcs));
    call("ShellExecuteA", {"0", "open", explorer, "", "", "1"});
  };
  const std::string profile = CString(Joined(windowsDir(), "SYSTEM.INI", dbcs));

  call("GetPrivateProfileStringA", {"Boot", "Shell", "", "1024", profile});
  const std::string shell = entry(a.Shell);
  const std::string shellName =
      shell.substr(AfterLastDelimiter(shell, dbcs), 255);
  call("CharUpperBuffA", {shellName, Number(shellName.size())});
  call("GetModuleFileNameA", {"0", "261"});
  const std::string ownName =
      module().substr(AfterLastDelimiter(module(), dbcs), 255);
  call("CharUpperBuffA", {ownName, Number(ownName.size())});
  auto upper = [&a](std::string text) {
    for (char& c : text) c = Upper(c, a.CodePage);
    return text;
  };
  out.Matched = upper(shellName) == upper(ownName);
  if (!out.Matched) return out;

  call("WritePrivateProfileStringA",
       {"Boot", "Shell", "EXPLORER.EXE", profile});
  if (a.WriteResult == 0) {
    startExplorer();
    return out;
  }
  call("GetPrivateProfileStringA",
       {"Boot", "DorvanixSetupDir ", "", "1024", profile});
  const std::string setupDir = entry(a.SetupDir);

  std::string setupPath;
  bool launched = false;
  if (!setupDir.empty()) {
    setupPath = Joined(setupDir, "SETUP.EXE", dbcs);
    call("FindFirstFileA", {CString(setupPath)});
    bool present = false;
    if (a.FindHandle != -1) {
      call("FindClose", {Number(a.FindHandle)});
      if ((a.Attributes & 0x10) == 0) {
        call("FileTimeToLocalFileTime", {Time(a.LastWrite)});
        call("FileTimeToDosDateTime", {Time(a.Local)});
        present = a.DosResult != 0;
      }
    }
    if (present) {
      call("ShellExecuteA",
           {"0", "open", CString(setupPath), "", "", Number(1)});
      launched = a.LaunchResult > 32;
    }
  }
  if (launched) {
    call("WaitMessage", {});
    return out;
  }
  out.LaunchFailed = true;
  if (!setupPath.empty()) {
    const std::string notice =
        '"' + setupPath + "\"\r\r" +
        "Unable to locate the Dorvanix 4 Windows Setup program.\r"
        "After Windows restarts, try running Dorvanix's SETUP.EXE\r"
        "program again.\r\r"
        "Press ENTER to restart Windows.";
    call("MessageBoxA", {"0", CString(notice), "Setup Error", "16"});
  }
  call("GetCurrentProcess", {});
  call("OpenProcessToken", {"-1", "40"});
  if (a.TokenResult != 0) {
    call("LookupPrivilegeValueA", {"null", "SeShutdownPrivilege"});
    call("AdjustTokenPrivileges",
         {Number(Token), "0", "1", "19", "0", "2", "0", "0", "0"});
    call("CloseHandle", {Number(Token)});
  }
  call("ExitWindowsEx", {"2", "0"});
  if (a.RestartResult == 0) startExplorer();
  return out;
}

std::string Printable(const std::vector<Call>& calls) {
  std::string out;
  for (const Call& call : calls) {
    out += "  " + call.Name + "(";
    for (std::size_t i = 0; i < call.Args.size(); ++i) {
      if (i > 0) out += ", ";
      for (const char c : call.Args[i]) {
        const auto u = static_cast<unsigned char>(c);
        char hex[8];
        std::snprintf(hex, sizeof hex, "\\x%02X", u);
        out += u >= 0x20 && u < 0x7F ? std::string(1, c) : hex;
      }
    }
    out += ")\n";
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  const Answers answers = Decode(in);
  FuzzedWindows windows(answers);
  handback::ProgramState state;
  try {
    handback::RunHandBack(windows, state);
  } catch (...) {
    Fail("an exception left RunHandBack");
  }

  if (std::getenv("HANDBACK_FUZZ_TRACE") != nullptr)  // to read an input
    std::fprintf(stderr, "%s\n", Printable(windows.Calls).c_str());
  const std::string broken = RuleBroken(windows.Calls);
  if (!broken.empty()) Fail(broken + "\ncalls:\n" + Printable(windows.Calls));
  const Outcome expected = Expected(answers);
  if (windows.Calls != expected.Calls)
    Fail("the calls differ from the expected run\nexpected:\n" +
         Printable(expected.Calls) + "made:\n" + Printable(windows.Calls));
  if (state.HandingBack != expected.Matched ||
      state.LaunchFailed != expected.LaunchFailed)
    Fail("the program state differs from the expected outcome");
  return 0;
}
