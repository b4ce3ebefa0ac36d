// The check against a Windows whose every answer comes from the fuzz input:
// paths, drives, attributes, directory listings, security descriptors (read
// byte by byte by the check's own parser), the token and the version. Whatever
// Windows answers, the check must not crash, read a byte a call did not write,
// leave a descriptor, search or token unreleased, write past or leave
// unterminated a buffer, or answer other than none where Windows showed a
// danger.
//
// Input layout: read from the front, in the order the check asks, one or more
// bytes per answer; a zero byte, or none left, is the usual answer of a
// working Windows, so that the empty input is a clean install under
// C:\Program Files, answered hand-back. A text is a length byte and a byte
// per character (0x80 and up become CJK letters; 0xFF and two more bytes any
// UTF-16 unit). The seeds in check-corpus/ show it; HANDBACK_FUZZ_TRACE=1
// prints the calls of a run.
#include <sanitizer/asan_interface.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "Check.h"

namespace {

using namespace winservices;
using Text = std::u16string;

[[noreturn]] void Fail(const std::string& why) {
  std::fprintf(stderr, "check_fuzz: %s\n", why.c_str());
  std::abort();
}

std::string Printable(const Text& text) {
  std::string out;
  for (const char16_t c : text) {
    char hex[12];
    std::snprintf(hex, sizeof hex, "\\u%04X", static_cast<unsigned>(c));
    out += c >= 0x20 && c < 0x7F ? std::string(1, static_cast<char>(c)) : hex;
  }
  return out;
}

class Input {
 public:
  Input(const uint8_t* data, std::size_t size) : Data(data), Size(size) {}
  uint8_t Byte() { return At < Size ? Data[At++] : 0; }
  uint16_t Word() { return static_cast<uint16_t>(Byte() | Byte() << 8); }
  uint32_t Dword() { return Word() | static_cast<uint32_t>(Word()) << 16; }
  Text String() {
    Text text;
    for (unsigned length = Byte(); length > 0; --length) {
      const uint8_t byte = Byte();
      text += byte < 0x80   ? char16_t{byte}
              : byte < 0xFF ? static_cast<char16_t>(0x8800 + byte)
                            : static_cast<char16_t>(Word());
    }
    return text;
  }
  std::vector<uint8_t> Blob() {
    std::vector<uint8_t> bytes(std::min<std::size_t>(Word(), 1024));
    for (uint8_t& byte : bytes) byte = Byte();
    return bytes;
  }

 private:
  const uint8_t* Data;
  std::size_t Size;
  std::size_t At = 0;
};

// What a call did not write is off limits: a filler that is no terminator,
// and ASan poison, lifted when the frame that owns the buffer returns.
void OffLimits(void* begin, std::size_t size) {
  std::memset(begin, 0xBE, size);
  ASAN_POISON_MEMORY_REGION(begin, size);
}

// O:BA D:(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x1200a9;;;BU), self-relative.
const std::vector<uint8_t> SafeDescriptor = {
    1, 0, 4, 0x80, 20, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 36, 0, 0, 0,
    // owner S-1-5-32-544
    1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 2, 0, 0,
    // ACL: revision 2, size 76, 3 entries
    2, 0, 76, 0, 3, 0, 0, 0,
    // SYSTEM full access
    0, 0, 20, 0, 0xFF, 1, 0x1F, 0, 1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0,
    // Administrators full access
    0, 0, 24, 0, 0xFF, 1, 0x1F, 0, 1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 2,
    0, 0,
    // Users read and execute
    0, 0, 24, 0, 0xA9, 0, 0x12, 0, 1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x21, 2,
    0, 0};
const std::vector<uint8_t> UserSid = {1, 5, 0, 0, 0,    0, 0, 5, 21, 0,
                                      0, 0, 1, 0, 0,    0, 2, 0, 0,  0,
                                      3, 0, 0, 0, 0xE9, 3, 0, 0};

const Handle Token = reinterpret_cast<Handle>(intptr_t{0x70c});

// As Windows makes a drive path full, nearly: separators, . and ..
Text MadeFull(const Text& name) {
  std::vector<Text> parts;
  Text part;
  for (std::size_t i = 3; i <= name.size(); ++i) {
    if (i < name.size() && name[i] != u'\\' && name[i] != u'/') {
      part += name[i];
    } else {
      if (part == u"..") {
        if (!parts.empty()) parts.pop_back();
      } else if (!part.empty() && part != u".") {
        parts.push_back(part);
      }
      part.clear();
    }
  }
  Text full = name.substr(0, 2) + u"\\";
  for (std::size_t i = 0; i < parts.size(); ++i)
    full += (i > 0 ? u"\\" : u"") + parts[i];
  return full;
}

class FuzzedWindows : public CheckApi {
 public:
  explicit FuzzedWindows(Input& in) : In(in) {}

  std::vector<std::string> Calls;
  // The first danger Windows showed, "" where none: on the paths or beside
  // the programs, where the answer must be none; where a space leads, where
  // it must not be hand-back.
  std::string Danger, Doubt;
  std::map<void*, std::size_t> Descriptors;
  std::set<Handle> Searches;
  bool TokenOpen = false;

  Dword GetFullPathNameW(const Wchar* fileName, Dword size, Wchar* buffer,
                         Wchar** filePart) override {
    Record("GetFullPathNameW(" + Printable(fileName) + ", " +
           std::to_string(size) + ")");
    if (filePart != nullptr) Fail("GetFullPathNameW asked for the file part");
    const uint8_t kind = In.Byte();
    if (kind == 3) {
      OffLimits(buffer, size * sizeof *buffer);
      return 0;
    }
    const Text full = kind == 1 ? In.String() : MadeFull(fileName);
    const auto honest = static_cast<Dword>(full.size());
    const Dword reported = kind == 2 ? In.Dword() : honest;
    if (honest + 1 > size) {
      OffLimits(buffer, size * sizeof *buffer);
      return std::max(reported, honest + 1);
    }
    return Fill(full, buffer, size, reported);
  }
  Uint GetDriveTypeW(const Wchar* rootPath) override {
    Record("GetDriveTypeW(" + Printable(rootPath) + ")");
    const uint8_t type = In.Byte();
    const Uint answer = type == 0 ? DriveFixed : type;
    if (answer != DriveFixed) Saw("a drive that is not fixed");
    return answer;
  }
  Dword QueryDosDeviceW(const Wchar* deviceName, Wchar* targetPath,
                        Dword max) override {
    Record("QueryDosDeviceW(" + Printable(deviceName) + ", " +
           std::to_string(max) + ")");
    const uint8_t kind = In.Byte();
    if (kind == 2) {
      Saw("a device that cannot be read");
      OffLimits(targetPath, max * sizeof *targetPath);
      return 0;
    }
    const Text device = kind == 0   ? Text(u"\\Device\\HarddiskVolume1")
                        : kind == 1 ? Text(u"\\??\\C:\\Subst")
                                    : In.String();
    if (device.compare(0, 4, u"\\??\\") == 0) Saw("a subst drive");
    // A list: the device, an empty text.
    const Text list = device + u'\0';
    if (list.size() + 1 > max) {
      Saw("a device that cannot be read");
      OffLimits(targetPath, max * sizeof *targetPath);
      return 0;
    }
    return Fill(list, targetPath, max, static_cast<Dword>(list.size() + 1));
  }
  Dword GetFileAttributesW(const Wchar* fileName) override {
    Record("GetFileAttributesW(" + Printable(fileName) + ")");
    const Dword choices[] = {0x10, 0x20, 0x410, InvalidFileAttributes};
    const uint8_t kind = In.Byte();
    const Dword attributes = kind < 4 ? choices[kind] : In.Dword();
    // After the listings, a name no listing gave: where a space leads, a
    // program an unquoted shell would start, which must not be there.
    if (Listed && Entries.count(fileName) == 0) {
      if (attributes != InvalidFileAttributes && Doubt.empty())
        Doubt = "a program where an unquoted shell looks";
      return attributes;
    }
    if (attributes == InvalidFileAttributes) Saw("unreadable attributes");
    if ((attributes & FileAttributeReparsePoint) != 0) Saw("a link");
    return attributes;
  }
  Dword GetLastError() override {
    const uint8_t kind = In.Byte();
    LastError = kind == 0 ? ErrorNoMoreFiles : In.Dword();
    Record("GetLastError() = " + std::to_string(LastError));
    return LastError;
  }
  Handle FindFirstFileW(const Wchar* fileName, FindDataW* found) override {
    Record("FindFirstFileW(" + Printable(fileName) + ")");
    const uint8_t kind = In.Byte();
    if (kind == 1) {
      Saw("a directory that cannot be listed");
      OffLimits(found, sizeof *found);
      return InvalidHandle();
    }
    Listing = Text(fileName);
    Listing.pop_back();  // the directory and its backslash, without the *
    Found(kind == 0 ? u"." : In.String(), found);
    const auto search = reinterpret_cast<Handle>(intptr_t{0x5ea0} + NextFind++);
    Searches.insert(search);
    return search;
  }
  Bool FindNextFileW(Handle find, FindDataW* found) override {
    Record("FindNextFileW()");
    if (Searches.count(find) == 0) Fail("FindNextFileW of no open search");
    const uint8_t kind = In.Byte();
    if (kind == 0) {
      Ended = true;
      OffLimits(found, sizeof *found);
      return 0;
    }
    Found(kind == 1 ? u".." : In.String(), found);
    return 1;
  }
  Bool FindClose(Handle find) override {
    Record("FindClose()");
    if (Searches.erase(find) != 1) Fail("FindClose of no open search");
    Listed = true;
    // The search ended as every search should, or the check said no.
    if (!Ended || LastError != ErrorNoMoreFiles) Saw("a listing cut short");
    Ended = false;
    return 1;
  }
  Dword GetNamedSecurityInfoW(const Wchar* objectName, int objectType,
                              Dword securityInfo, void** owner, void** group,
                              void** dacl, void** sacl,
                              void** descriptor) override {
    Record("GetNamedSecurityInfoW(" + Printable(objectName) + ", " +
           std::to_string(objectType) + ", " + std::to_string(securityInfo) +
           ")");
    if (group != nullptr || sacl != nullptr) Fail("a group or SACL asked for");
    const uint8_t kind = In.Byte();
    // Where a space leads: a directory read again after the listings, and
    // not as an entry of one (whose attributes come right before).
    const bool spaceStep =
        Listed && Calls.size() >= 2 &&
        Calls[Calls.size() - 2] !=
            "GetFileAttributesW(" + Printable(objectName) + ")";
    const auto saw = [&](const char* danger) {
      if (spaceStep && Doubt.empty()) Doubt = danger;
      if (!spaceStep) Saw(danger);
    };
    if (kind >= 3) {
      saw("unreadable security");
      return kind;
    }
    if (kind == 2) {
      saw("no descriptor");
      *owner = *dacl = *descriptor = nullptr;
      return 0;
    }
    const std::vector<uint8_t> bytes = kind == 0 ? SafeDescriptor : In.Blob();
    // Exactly its size, so that ASan sees a read past it.
    auto* start = static_cast<uint8_t*>(
        std::malloc(std::max<std::size_t>(bytes.size(), 1)));
    std::copy(bytes.begin(), bytes.end(), start);
    Descriptors[start] = bytes.size();
    *descriptor = start;
    const auto inside = [&](std::size_t usual) -> void* {
      if (kind == 0) return start + usual;
      if (In.Byte() == 0 || bytes.empty()) return nullptr;
      return start + In.Word() % bytes.size();
    };
    *owner = inside(20);
    *dacl = inside(36);
    return 0;
  }
  Dword GetSecurityDescriptorLength(void* descriptor) override {
    Record("GetSecurityDescriptorLength()");
    const auto found = Descriptors.find(descriptor);
    if (found == Descriptors.end()) Fail("the length of no descriptor");
    const uint8_t kind = In.Byte();
    return static_cast<Dword>(kind == 0 ? found->second
                                        : In.Word() % (found->second + 1));
  }
  void* LocalFree(void* memory) override {
    Record("LocalFree()");
    if (Descriptors.erase(memory) != 1) Fail("LocalFree of no descriptor");
    std::free(memory);
    return nullptr;
  }
  Handle GetCurrentProcess() override {
    Record("GetCurrentProcess()");
    return InvalidHandle();
  }
  Bool OpenProcessToken(Handle process, Dword access, Handle* token) override {
    Record("OpenProcessToken(" + std::to_string(access) + ")");
    if (process != InvalidHandle()) Fail("a token of another process");
    if (In.Byte() != 0) {
      OffLimits(token, sizeof *token);
      return 0;
    }
    *token = Token;
    TokenOpen = true;
    return 1;
  }
  Bool GetTokenInformation(Handle token, int infoClass, void* info,
                           Dword length, Dword* returnLength) override {
    Record("GetTokenInformation(" + std::to_string(infoClass) + ", " +
           std::to_string(length) + ")");
    if (token != Token || !TokenOpen) Fail("GetTokenInformation of no token");
    auto* bytes = static_cast<uint8_t*>(info);
    const uint8_t kind = In.Byte();
    if (kind == 1) {
      *returnLength = In.Dword();
      OffLimits(info, length);
      return 0;
    }
    // TOKEN_USER: the SID's pointer and attributes, then the SID.
    const std::size_t header = 2 * sizeof(void*);
    std::vector<uint8_t> written(header, 0);
    const std::vector<uint8_t> sid = kind == 0 ? UserSid : In.Blob();
    written.insert(written.end(), sid.begin(), sid.end());
    written.resize(std::min<std::size_t>(written.size(), length));
    const void* at = bytes + (kind == 0 ? header : In.Word());
    std::memcpy(written.data(), &at, std::min(sizeof at, written.size()));
    std::memcpy(bytes, written.data(), written.size());
    OffLimits(bytes + written.size(), length - written.size());
    *returnLength = static_cast<Dword>(
        kind == 0 ? written.size() : In.Word() % (written.size() + 1));
    return 1;
  }
  Bool CloseHandle(Handle object) override {
    Record("CloseHandle()");
    if (object != Token || !TokenOpen) Fail("CloseHandle of no open token");
    TokenOpen = false;
    return 1;
  }
  Dword GetVersion() override {
    Record("GetVersion()");
    // Windows 10, as a program without a manifest sees it; or any.
    return In.Byte() == 0 ? 0x23F00206 : In.Dword();
  }
  // Only the way after the check asks these.
  Long RegOpenKeyExW(Handle, const Wchar*, Dword, Dword, Handle*) override {
    Fail("the check opened a registry key");
  }
  Long RegQueryValueExW(Handle, const Wchar*, Dword*, Dword*, uint8_t*,
                        Dword*) override {
    Fail("the check read a registry value");
  }
  Long RegCloseKey(Handle) override { Fail("the check closed a key"); }
  int WideCharToMultiByte(Uint, Dword, const Wchar*, int, char*, int,
                          const char*, Bool*) override {
    Fail("the check converted to a code page");
  }
  int MultiByteToWideChar(Uint, Dword, const char*, int, Wchar*, int) override {
    Fail("the check converted from a code page");
  }
  Handle GetStdHandle(Dword) override { Fail("the check printed"); }
  Bool GetConsoleMode(Handle, Dword*) override { Fail("the check printed"); }
  Bool WriteConsoleW(Handle, const void*, Dword, Dword*, void*) override {
    Fail("the check printed");
  }
  Bool WriteFile(Handle, const void*, Dword, Dword*, void*) override {
    Fail("the check printed");
  }

 private:
  Input& In;
  Dword LastError = 0;
  bool Ended = false;
  bool Listed = false;
  intptr_t NextFind = 0;
  Text Listing;            // the directory of the last search, as asked
  std::set<Text> Entries;  // the paths its listings gave

  void Record(std::string call) { Calls.push_back(std::move(call)); }
  void Saw(const char* danger) {
    if (Danger.empty()) Danger = danger;
  }
  // Writes `text` and a terminating zero; the rest is off limits.
  static Dword Fill(const Text& text, Wchar* buffer, Dword size,
                    Dword reported) {
    std::copy(text.begin(), text.end(), buffer);
    buffer[text.size()] = 0;
    OffLimits(buffer + text.size() + 1,
              (size - text.size() - 1) * sizeof *buffer);
    return reported;
  }
  // A name as FindFirstFileW gives it, cut to its 260 characters, then
  // unterminated; its exact path (\\?\) is an entry of a listing.
  void Found(const Text& name, FindDataW* found) {
    std::memset(found, 0xA5, sizeof *found);
    const std::size_t length = std::min<std::size_t>(name.size(), 260);
    std::copy(name.begin(), name.begin() + length, found->FileName);
    if (length < 260) found->FileName[length] = 0;
    Entries.insert(u"\\\\?\\" + Listing + Text(name.c_str(), length).c_str());
  }
};

const Text DefaultExe = u"C:\\Program Files\\Dorvanix 4\\HANDBACK.EXE";
const Text DefaultSetupDir = u"C:\\Program Files\\Dorvanix 4\\Setup";

// A path as given: the usual, none at all, or from the input.
const Wchar* Given(Input& in, const Text& usual, Text& held) {
  const uint8_t kind = in.Byte();
  if (kind == 1) return nullptr;
  held = kind == 0 ? usual : in.String();
  return held.c_str();
}

// A written buffer's text, or why it is not one.
Text Written(const std::vector<Wchar>& buffer, unsigned chars) {
  if (buffer[chars] != u'#') Fail("written past the buffer");
  const auto end = std::find(buffer.begin(), buffer.begin() + chars, u'\0');
  if (end == buffer.begin() + chars) Fail("a buffer left unterminated");
  return Text(buffer.begin(), end);
}

// X:\ and names, each apart from the next by one backslash.
bool IsPlain(const Text& path) {
  return path.size() >= 3 && path[1] == u':' && path[2] == u'\\' &&
         path.find(u'/') == Text::npos && path.find(u"\\\\") == Text::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  Input in(data, size);
  Text exeText, setupText;
  const Wchar* exe = Given(in, DefaultExe, exeText);
  const Wchar* setupDir = Given(in, DefaultSetupDir, setupText);
  const uint8_t room = in.Byte();
  const unsigned chars = room == 0 ? 1024 : room == 1 ? 0 : room;
  const uint8_t missing = in.Byte() & 7;  // which buffers are not given
  // One more than given, to see a write past `chars`.
  std::vector<Wchar> fullExe(chars + 1, u'#'), fullSetup(chars + 1, u'#'),
      reason(chars + 1, u'#');
  Wchar* buffers[] = {(missing & 1) ? nullptr : fullExe.data(),
                      (missing & 2) ? nullptr : fullSetup.data(),
                      (missing & 4) ? nullptr : reason.data()};

  FuzzedWindows windows(in);
  const int answer = check::HandBackCheckWith(
      windows, exe, setupDir, buffers[0], buffers[1], buffers[2], chars);

  std::string trace;
  for (const std::string& call : windows.Calls) trace += "  " + call + "\n";
  if (std::getenv("HANDBACK_FUZZ_TRACE") != nullptr)
    std::fprintf(stderr, "%s-> %d %s\n", trace.c_str(), answer,
                 chars > 0 && buffers[2] != nullptr
                     ? Printable(Text(reason.data())).c_str()
                     : "");
  const auto fail = [&trace](const std::string& why) {
    Fail(why + "\ncalls:\n" + trace);
  };
  if (answer < 0 || answer > 2) fail("an answer that is not 0, 1 or 2");
  if (!windows.Descriptors.empty()) fail("a descriptor not freed");
  if (!windows.Searches.empty()) fail("a search not closed");
  if (windows.TokenOpen) fail("the token not closed");
  if ((chars == 0 || missing != 0) && !windows.Calls.empty())
    fail("Windows asked though the answer could not be given");
  if (answer != 0 && !windows.Danger.empty())
    fail("answered " + std::to_string(answer) + " though Windows showed " +
         windows.Danger);
  if (answer == 2 && !windows.Doubt.empty())
    fail("answered hand-back though Windows showed " + windows.Doubt);
  if (chars == 0) return 0;
  Text written[3];
  for (int i = 0; i < 3; ++i)
    if (buffers[i] != nullptr)
      written[i] = Written(i == 0   ? fullExe
                           : i == 1 ? fullSetup
                                    : reason,
                           chars);
  if (answer != 0 && (!IsPlain(written[0]) || !IsPlain(written[1])))
    fail("armed a path that is not full: " + Printable(written[0]) + " | " +
         Printable(written[1]));
  if ((answer == 2) != written[2].empty() && chars > 1 && buffers[2] != nullptr)
    fail("a reason with hand-back, or none without: " + Printable(written[2]));
  return 0;
}
