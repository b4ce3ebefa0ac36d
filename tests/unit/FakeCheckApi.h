// A recording stand-in for what the check asks of Windows: every call lands
// in Calls, with its arguments, in order. The test lays out the files and
// directories (attributes and security descriptors), the drives and the
// installing user. A path finds what Windows opens for it: a \\?\ path
// names it as written, another as Win32 makes it full, without a last name's
// trailing dots and blanks; the object of that name's case first, else one
// whose name differs in ASCII case only (as Wine finds names, whose
// directories are all case-sensitive).
#pragma once

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "CheckApi.h"

namespace fake {

using namespace winservices;
using Bytes = std::vector<uint8_t>;
using Text = std::u16string;

// A number as text.
inline Text Number(uint64_t value) {
  const std::string digits = std::to_string(value);
  return Text(digits.begin(), digits.end());
}

// A SID's bytes from its text, S-1-<authority>(-<sub-authority>)*.
inline Bytes Sid(const Text& principal) {
  const std::string text(principal.begin(), principal.end());  // ASCII
  std::vector<uint64_t> parts;
  std::size_t at = 4;  // after "S-1-"
  while (at <= text.size()) {
    const std::size_t end = std::min(text.find('-', at), text.size());
    parts.push_back(std::stoull(text.substr(at, end - at), nullptr, 0));
    at = end + 1;
  }
  Bytes sid{1, static_cast<uint8_t>(parts.size() - 1)};
  for (int shift = 40; shift >= 0; shift -= 8)
    sid.push_back(static_cast<uint8_t>(parts[0] >> shift));
  for (std::size_t i = 1; i < parts.size(); ++i)
    for (int shift = 0; shift < 32; shift += 8)
      sid.push_back(static_cast<uint8_t>(parts[i] >> shift));
  return sid;
}

// The principals of the rows.
const Text Everyone = u"S-1-1-0", System = u"S-1-5-18",
           Administrators = u"S-1-5-32-544", Users = u"S-1-5-32-545",
           PowerUsers = u"S-1-5-32-547", AuthenticatedUsers = u"S-1-5-11",
           CreatorOwner = u"S-1-3-0", OwnerRights = u"S-1-3-4",
           TrustedInstaller =
               u"S-1-5-80-956008885-3418522649-1831038044-1853292631-"
               u"2271478464",
           AllAppPackages = u"S-1-15-2-1",
           AllRestrictedAppPackages = u"S-1-15-2-2",
           InstallingUser = u"S-1-5-21-1-2-3-1001",
           OtherUser = u"S-1-5-21-1-2-3-1002";

// GetVersion's answers: build, minor and major version.
constexpr Dword WindowsXp = 0x0A280105, WindowsVista = 0x17700006,
                Windows7 = 0x1DB10106;

// Rights and flags as SDDL names them.
constexpr uint32_t FullAccess = 0x1F01FF, ReadExecute = 0x1200A9,
                   Modify = 0x1301BF, GenericAll = 0x10000000,
                   GenericWrite = 0x40000000, GenericReadExecute = 0xA0000000;
constexpr uint8_t ObjectInherit = 1, ContainerInherit = 2, InheritOnly = 8,
                  Inherited = 0x10;

// An access control entry: its type, flags and mask, the bytes between the
// mask and the SID (an object entry's flags), and the SID, or no SID at all.
struct Ace {
  uint8_t Type;
  uint8_t Flags;
  uint32_t Mask;
  Text Principal;
  Bytes Body = {};
};
inline Ace Allow(const Text& who, uint32_t mask, uint8_t flags = 0) {
  return {0, flags, mask, who};
}
inline Ace Deny(const Text& who, uint32_t mask, uint8_t flags = 0) {
  return {1, flags, mask, who};
}

inline Bytes AclBytes(const std::vector<Ace>& entries) {
  Bytes aces;
  for (const Ace& e : entries) {
    Bytes ace{e.Type, e.Flags, 0, 0};
    for (int shift = 0; shift < 32; shift += 8)
      ace.push_back(static_cast<uint8_t>(e.Mask >> shift));
    ace.insert(ace.end(), e.Body.begin(), e.Body.end());
    if (!e.Principal.empty()) {
      const Bytes sid = Sid(e.Principal);
      ace.insert(ace.end(), sid.begin(), sid.end());
    }
    ace[2] = static_cast<uint8_t>(ace.size());
    ace[3] = static_cast<uint8_t>(ace.size() >> 8);
    aces.insert(aces.end(), ace.begin(), ace.end());
  }
  const std::size_t size = 8 + aces.size();
  Bytes acl{2,
            0,
            static_cast<uint8_t>(size),
            static_cast<uint8_t>(size >> 8),
            static_cast<uint8_t>(entries.size()),
            static_cast<uint8_t>(entries.size() >> 8),
            0,
            0};
  acl.insert(acl.end(), aces.begin(), aces.end());
  return acl;
}

// A self-relative descriptor as GetNamedSecurityInfoW hands it out, and
// where in it the owner and the DACL start (none: a null pointer).
struct Descriptor {
  Bytes Data;
  std::optional<std::size_t> Owner, Dacl;
};

// The descriptor of that owner and DACL (raw bytes of the DACL allowed, for
// the ones no builder makes); none where either is missing.
inline Descriptor Sd(const std::optional<Text>& owner,
                     const std::optional<Bytes>& dacl) {
  Descriptor d;
  d.Data = Bytes(20, 0);  // revision, control and four offsets
  d.Data[0] = 1;
  if (owner) {
    d.Owner = d.Data.size();
    const Bytes sid = Sid(*owner);
    d.Data.insert(d.Data.end(), sid.begin(), sid.end());
  }
  if (dacl) {
    d.Dacl = d.Data.size();
    d.Data.insert(d.Data.end(), dacl->begin(), dacl->end());
  }
  return d;
}
inline Descriptor Sd(const std::optional<Text>& owner,
                     const std::vector<Ace>& dacl) {
  return Sd(owner, AclBytes(dacl));
}

// Windows' own descriptors (Windows 10). The system drive's root: its
// owner TrustedInstaller, Authenticated Users may add a directory (0x4) and,
// inherit-only, modify what is made in it.
inline Descriptor WindowsRoot() {
  return Sd(
      TrustedInstaller,
      {Allow(AuthenticatedUsers, 0xE0010000,
             ObjectInherit | ContainerInherit | InheritOnly),
       Allow(AuthenticatedUsers, 0x4),
       Allow(System, FullAccess, ObjectInherit | ContainerInherit),
       Allow(Administrators, FullAccess, ObjectInherit | ContainerInherit),
       Allow(Users, ReadExecute, ObjectInherit | ContainerInherit)});
}
// Program Files and the Windows directory (the same descriptor).
inline Descriptor SystemDirectory() {
  const uint8_t below = ObjectInherit | ContainerInherit | InheritOnly;
  return Sd(
      TrustedInstaller,
      {Allow(TrustedInstaller, FullAccess),
       Allow(TrustedInstaller, GenericAll, ContainerInherit | InheritOnly),
       Allow(System, Modify), Allow(System, GenericAll, below),
       Allow(Administrators, Modify), Allow(Administrators, GenericAll, below),
       Allow(Users, ReadExecute), Allow(Users, GenericReadExecute, below),
       Allow(CreatorOwner, GenericAll, below),
       Allow(AllAppPackages, ReadExecute),
       Allow(AllAppPackages, GenericReadExecute, below),
       Allow(AllRestrictedAppPackages, ReadExecute),
       Allow(AllRestrictedAppPackages, GenericReadExecute, below)});
}
// What an installer running as an administrator leaves in Program Files.
inline Descriptor Installed() {
  return Sd(Administrators,
            {Allow(TrustedInstaller, FullAccess, Inherited),
             Allow(System, FullAccess, Inherited),
             Allow(Administrators, FullAccess, Inherited),
             Allow(Users, ReadExecute, Inherited),
             Allow(CreatorOwner, GenericAll,
                   ObjectInherit | ContainerInherit | InheritOnly | Inherited),
             Allow(AllAppPackages, ReadExecute, Inherited)});
}
// ProgramData: Users may add files and directories to it.
inline Descriptor ProgramData() {
  return Sd(
      System,
      {Allow(System, FullAccess, ObjectInherit | ContainerInherit),
       Allow(Administrators, FullAccess, ObjectInherit | ContainerInherit),
       Allow(CreatorOwner, GenericAll,
             ObjectInherit | ContainerInherit | InheritOnly),
       Allow(Users, ReadExecute, ObjectInherit | ContainerInherit),
       Allow(Users, 0x116, ContainerInherit)});
}
// What Wine makes of a directory of mode 0755 owned by the installing user.
inline Descriptor WineDefault() {
  return Sd(
      InstallingUser,
      {Allow(System, FullAccess, ObjectInherit | ContainerInherit),
       Allow(InstallingUser, FullAccess, ObjectInherit | ContainerInherit),
       Allow(Everyone, ReadExecute, ObjectInherit | ContainerInherit)});
}
// Only the trusted may change it.
inline Descriptor Safe() {
  return Sd(Administrators,
            {Allow(System, FullAccess), Allow(Administrators, FullAccess),
             Allow(Users, ReadExecute)});
}

// What a path names: its attributes (a directory unless told otherwise) and
// its security, or the error reading it gives.
struct Object {
  Dword Attributes = 0x10;
  Descriptor Security;
  Dword SecurityError = 0;
};

inline char16_t UpperAscii(char16_t c) {
  return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c;
}
struct NoCase {
  bool operator()(const Text& a, const Text& b) const {
    return std::lexicographical_compare(
        a.begin(), a.end(), b.begin(), b.end(),
        [](char16_t x, char16_t y) { return UpperAscii(x) < UpperAscii(y); });
  }
};

inline Text ParentOf(const Text& path) {
  if (path.size() <= 3) return u"";
  const std::size_t last = path.rfind(u'\\', path.size() - 2);
  return last <= 2 ? path.substr(0, 3) : path.substr(0, last);
}

class FakeCheckApi : public CheckApi {
 public:
  // What the platform answers.
  std::map<Text, Object> Objects;
  std::map<Text, Text> FullPaths;            // where not made here
  std::optional<Dword> FullPathLength;       // reported instead of the length
  std::map<char16_t, Uint> DriveTypes;       // DRIVE_FIXED where not given
  std::map<char16_t, Text> Devices;          // a volume where not given
  std::map<Text, Dword, NoCase> ListErrors;  // FindFirstFileW
  Dword EndOfListError = ErrorNoMoreFiles;   // FindNextFileW
  Text User = InstallingUser;
  Bool TokenResult = 1;
  bool TokenSidOutside = false;  // TOKEN_USER points outside its buffer
  Dword Version = Windows7;      // as GetVersion answers
  // EnableLUA under the policies key, missing where it has no bytes.
  Dword LuaType = RegDword;
  Bytes Lua;
  // The ANSI code page: 932 or UTF-8 (65001, which takes no flags), of which
  // only ASCII and 表 are laid out here: any other character becomes ?.
  Uint AnsiCodePage = 932;
  bool Console = false;    // standard output and error are consoles
  std::set<Text> Refused;  // calls that fail, by name
  Text Shown;              // what WriteConsoleW wrote
  std::string Written;     // what WriteFile wrote

  std::vector<Text> Calls;

  // A directory and everything above it, each with this descriptor.
  void Directories(const Text& path, const Descriptor& security) {
    for (Text at = path; !at.empty(); at = ParentOf(at))
      Objects[at] = {0x10, security};
  }
  void File(const Text& path, const Descriptor& security) {
    Objects[path] = {0x20, security};
  }
  // A product in `directory`: HANDBACK.EXE, and SETUP.EXE in Setup.
  void Install(const Text& directory, const Descriptor& above,
               const Descriptor& product) {
    Directories(ParentOf(directory), above);
    Objects[directory] = {0x10, product};
    File(directory + u"\\HANDBACK.EXE", product);
    Objects[directory + u"\\Setup"] = {0x10, product};
    File(directory + u"\\Setup\\SETUP.EXE", product);
  }

  // What was left open or allocated: "" where nothing.
  std::string Unreleased() const {
    std::string left;
    if (!Descriptors.empty()) left += "descriptors ";
    if (!OpenFinds.empty()) left += "searches ";
    if (TokenOpen) left += "token ";
    if (KeyOpen) left += "key";
    return left;
  }

  Dword GetFullPathNameW(const Wchar* fileName, Dword size, Wchar* buffer,
                         Wchar** filePart) override {
    const Text name = fileName;
    Record(u"GetFullPathNameW(" + name + u", " + Number(size) +
           (filePart ? u", part" : u"") + u")");
    const auto given = FullPaths.find(name);
    const Text full = given != FullPaths.end() ? given->second : MadeFull(name);
    if (full.size() + 1 > size) return static_cast<Dword>(full.size() + 1);
    std::copy(full.begin(), full.end(), buffer);
    buffer[full.size()] = 0;
    return FullPathLength.value_or(static_cast<Dword>(full.size()));
  }
  Uint GetDriveTypeW(const Wchar* rootPath) override {
    Record(u"GetDriveTypeW(" + Text(rootPath) + u")");
    const auto type = DriveTypes.find(UpperAscii(rootPath[0]));
    return type == DriveTypes.end() ? DriveFixed : type->second;
  }
  Dword QueryDosDeviceW(const Wchar* deviceName, Wchar* targetPath,
                        Dword max) override {
    Record(u"QueryDosDeviceW(" + Text(deviceName) + u", " + Number(max) + u")");
    const auto device = Devices.find(UpperAscii(deviceName[0]));
    const Text target =
        device == Devices.end() ? u"\\Device\\HarddiskVolume1" : device->second;
    if (target.empty()) return Failed(2);
    // A list of texts: this one, then an empty one.
    if (target.size() + 2 > max) return Failed(122);  // insufficient buffer
    std::copy(target.begin(), target.end(), targetPath);
    targetPath[target.size()] = 0;
    targetPath[target.size() + 1] = 0;
    return static_cast<Dword>(target.size() + 2);
  }
  Dword GetFileAttributesW(const Wchar* fileName) override {
    Record(u"GetFileAttributesW(" + Text(fileName) + u")");
    const auto object = Find(fileName);
    if (object == Objects.end()) {
      Failed(2);
      return InvalidFileAttributes;
    }
    return object->second.Attributes;
  }
  Dword GetLastError() override {
    Record(u"GetLastError()");
    return LastError;
  }
  Handle FindFirstFileW(const Wchar* fileName, FindDataW* found) override {
    const Text pattern = fileName;
    Record(u"FindFirstFileW(" + pattern + u")");
    // Only "directory\*" is asked for.
    const Text directory =
        pattern.substr(0, pattern.size() - (pattern.size() > 4 ? 2 : 1));
    const auto error = ListErrors.find(directory);
    if (error != ListErrors.end()) return FailedSearch(error->second);
    const auto listed = Find(directory);
    if (listed == Objects.end()) return FailedSearch(3);
    std::vector<Text> names;
    if (directory.size() > 3) names = {u".", u".."};
    for (const auto& [path, object] : Objects)
      if (ParentOf(path) == listed->first)
        names.push_back(path.substr(ParentOf(path).size() +
                                    (directory.size() > 3 ? 1 : 0)));
    if (names.empty()) return FailedSearch(2);
    const auto handle = reinterpret_cast<Handle>(intptr_t{0x5ea0} + NextFind++);
    OpenFinds[handle] = {names, 0};
    Fill(OpenFinds[handle], found);
    return handle;
  }
  Bool FindNextFileW(Handle find, FindDataW* found) override {
    Record(u"FindNextFileW(search)");
    auto& search = OpenFinds.at(find);
    if (++search.Next >= search.Names.size()) return Failed(EndOfListError);
    Fill(search, found);
    return 1;
  }
  Bool FindClose(Handle find) override {
    Record(u"FindClose(search)");
    return OpenFinds.erase(find) == 1;
  }
  Dword GetNamedSecurityInfoW(const Wchar* objectName, int objectType,
                              Dword securityInfo, void** owner, void** group,
                              void** dacl, void** sacl,
                              void** descriptor) override {
    Record(u"GetNamedSecurityInfoW(" + Text(objectName) + u", " +
           Number(objectType) + u", " + Number(securityInfo) +
           (group || sacl ? u", group or SACL" : u"") + u")");
    const auto object = Find(objectName);
    if (object == Objects.end()) return 2;
    if (object->second.SecurityError != 0) return object->second.SecurityError;
    const Descriptor& d = object->second.Security;
    // Its own copy, as Windows allocates one, so that ASan sees any read
    // past it.
    auto copy = std::make_unique<uint8_t[]>(d.Data.size());
    std::memcpy(copy.get(), d.Data.data(), d.Data.size());
    uint8_t* start = copy.get();
    *owner = d.Owner ? start + *d.Owner : nullptr;
    *dacl = d.Dacl ? start + *d.Dacl : nullptr;
    *descriptor = start;
    Descriptors[start] = {std::move(copy), d.Data.size()};
    return 0;
  }
  Dword GetSecurityDescriptorLength(void* descriptor) override {
    Record(u"GetSecurityDescriptorLength(descriptor)");
    return static_cast<Dword>(Descriptors.at(descriptor).Size);
  }
  void* LocalFree(void* memory) override {
    Record(u"LocalFree(descriptor)");
    return Descriptors.erase(memory) == 1 ? nullptr : memory;
  }
  Handle GetCurrentProcess() override {
    Record(u"GetCurrentProcess()");
    return InvalidHandle();
  }
  Bool OpenProcessToken(Handle process, Dword access, Handle* token) override {
    Record(u"OpenProcessToken(" +
           Text(process == InvalidHandle() ? u"process" : u"other") + u", " +
           Number(access) + u")");
    if (TokenResult == 0) return 0;
    *token = Token;
    TokenOpen = true;
    return 1;
  }
  Bool GetTokenInformation(Handle token, int infoClass, void* info,
                           Dword length, Dword* returnLength) override {
    Record(u"GetTokenInformation(" +
           Text(token == Token ? u"token" : u"other") + u", " +
           Number(infoClass) + u", " + Number(length) + u")");
    // TOKEN_USER: the SID's pointer and its attributes, then the SID.
    const std::size_t header = 2 * sizeof(void*);
    const Bytes sid = User.empty() ? Bytes{} : Sid(User);
    *returnLength = static_cast<Dword>(header + sid.size());
    if (User.empty() || length < header + sid.size()) return 0;
    auto* bytes = static_cast<uint8_t*>(info);
    const void* at = TokenSidOutside ? bytes + length : bytes + header;
    std::memcpy(bytes, &at, sizeof at);
    std::memset(bytes + sizeof at, 0, header - sizeof at);
    std::memcpy(bytes + header, sid.data(), sid.size());
    return 1;
  }
  Bool CloseHandle(Handle object) override {
    Record(u"CloseHandle(" + Text(object == Token ? u"token" : u"other") +
           u")");
    if (object == Token) TokenOpen = false;
    return 1;
  }
  Dword GetVersion() override {
    Record(u"GetVersion()");
    return Version;
  }
  Long RegOpenKeyExW(Handle key, const Wchar* subKey, Dword options,
                     Dword access, Handle* result) override {
    const Text name = subKey;
    Record(u"RegOpenKeyExW(" +
           Text(key == LocalMachine() ? u"HKLM" : u"other") + u", " + name +
           u", " + Number(options) + u", " + Number(access) + u")");
    if (Refused.count(u"RegOpenKeyExW") != 0) return 5;
    if (name !=
        u"Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System")
      return 2;
    *result = Key;
    KeyOpen = true;
    return 0;
  }
  Long RegQueryValueExW(Handle key, const Wchar* valueName, Dword* reserved,
                        Dword* type, uint8_t* data, Dword* dataSize) override {
    Record(u"RegQueryValueExW(" + Text(key == Key ? u"key" : u"other") + u", " +
           Text(valueName) + u", " + Number(*dataSize) + u")");
    if (Refused.count(u"RegQueryValueExW") != 0) return 5;
    if (Lua.empty() || Text(valueName) != u"EnableLUA" || reserved) return 2;
    *type = LuaType;
    const Dword room = *dataSize;
    *dataSize = static_cast<Dword>(Lua.size());
    if (Lua.size() > room) return 234;  // ERROR_MORE_DATA
    std::copy(Lua.begin(), Lua.end(), data);
    return 0;
  }
  Long RegCloseKey(Handle key) override {
    Record(u"RegCloseKey(" + Text(key == Key ? u"key" : u"other") + u")");
    if (key == Key) KeyOpen = false;
    return 0;
  }
  int WideCharToMultiByte(Uint codePage, Dword flags, const Wchar* wide,
                          int wideChars, char* multi, int multiBytes,
                          const char*, Bool*) override {
    const Text text = wideChars < 0 ? Text(wide) : Text(wide, wideChars);
    Record(u"WideCharToMultiByte(" + Number(codePage) + u", " + Number(flags) +
           u", " + text + u", " + Number(multiBytes) + u")");
    const Uint page = codePage == CpAcp ? AnsiCodePage : codePage;
    if (Refused.count(u"WideCharToMultiByte") != 0 ||
        (flags != 0 && page == CpUtf8))
      return static_cast<int>(Failed(1004));  // ERROR_INVALID_FLAGS
    std::string bytes;
    for (const char16_t c : text)
      bytes += c < 0x80         ? std::string(1, static_cast<char>(c))
               : c != u'表'     ? "?"
               : page == CpUtf8 ? "\xE8\xA1\xA8"
                                : "\x95\\";
    if (wideChars < 0) bytes += '\0';
    if (multiBytes == 0) return static_cast<int>(bytes.size());
    if (bytes.size() > static_cast<std::size_t>(multiBytes))
      return static_cast<int>(Failed(122));
    std::copy(bytes.begin(), bytes.end(), multi);
    return static_cast<int>(bytes.size());
  }
  int MultiByteToWideChar(Uint codePage, Dword flags, const char* multi,
                          int multiBytes, Wchar* wide, int wideChars) override {
    const std::string bytes = multiBytes < 0 ? std::string(multi) + '\0'
                                             : std::string(multi, multiBytes);
    Record(u"MultiByteToWideChar(" + Number(codePage) + u", " + Number(flags) +
           u", " + Number(wideChars) + u")");
    if (Refused.count(u"MultiByteToWideChar") != 0)
      return static_cast<int>(Failed(87));
    Text text;
    for (std::size_t i = 0; i < bytes.size(); ++i)
      text += bytes[i] == '\x95' && AnsiCodePage == 932 && ++i < bytes.size()
                  ? u'表'
                  : static_cast<char16_t>(static_cast<uint8_t>(bytes[i]));
    if (text.size() > static_cast<std::size_t>(wideChars))
      return static_cast<int>(Failed(122));
    std::copy(text.begin(), text.end(), wide);
    return static_cast<int>(text.size());
  }
  Handle GetStdHandle(Dword which) override {
    Record(u"GetStdHandle(" + Name(which) + u")");
    if (Refused.count(u"GetStdHandle") != 0) return InvalidHandle();
    return StdHandle(which);
  }
  Bool GetConsoleMode(Handle console, Dword* mode) override {
    Record(u"GetConsoleMode(" + Name(console) + u")");
    if (!Console) return static_cast<Bool>(Failed(6));
    *mode = 3;
    return 1;
  }
  Bool WriteConsoleW(Handle console, const void* buffer, Dword chars,
                     Dword* written, void*) override {
    Record(u"WriteConsoleW(" + Name(console) + u", " + Number(chars) + u")");
    if (Refused.count(u"WriteConsoleW") != 0) return 0;
    Shown.append(static_cast<const Wchar*>(buffer), chars);
    *written = chars;
    return 1;
  }
  Bool WriteFile(Handle file, const void* buffer, Dword bytes, Dword* written,
                 void*) override {
    Record(u"WriteFile(" + Name(file) + u", " + Number(bytes) + u")");
    if (Refused.count(u"WriteFile") != 0) return 0;
    Written.append(static_cast<const char*>(buffer), bytes);
    *written = bytes;
    return 1;
  }

 private:
  struct Search {
    std::vector<Text> Names;
    std::size_t Next;
  };
  struct Allocation {
    std::unique_ptr<uint8_t[]> Memory;
    std::size_t Size;
  };
  Handle Token = reinterpret_cast<Handle>(intptr_t{0x70c});
  Dword LastError = 0;
  std::map<Handle, Search> OpenFinds;
  intptr_t NextFind = 0;
  std::map<void*, Allocation> Descriptors;
  bool TokenOpen = false;
  Handle Key = reinterpret_cast<Handle>(intptr_t{0x4e7});
  bool KeyOpen = false;

  void Record(Text call) { Calls.push_back(std::move(call)); }
  // Standard output's and error's handles, and their names.
  static Handle StdHandle(Dword which) {
    return reinterpret_cast<Handle>(intptr_t{0x57d0} +
                                    (which == StdErrorHandle));
  }
  static Text Name(Dword which) {
    return which == StdOutputHandle  ? u"output"
           : which == StdErrorHandle ? u"error"
                                     : u"other";
  }
  static Text Name(Handle handle) {
    return handle == StdHandle(StdOutputHandle)  ? u"output"
           : handle == StdHandle(StdErrorHandle) ? u"error"
                                                 : u"other";
  }
  std::map<Text, Object>::iterator Find(const Text& name) {
    const Text path =
        name.compare(0, 4, u"\\\\?\\") == 0 ? name.substr(4) : MadeFull(name);
    const auto exact = Objects.find(path);
    if (exact != Objects.end()) return exact;
    return std::find_if(Objects.begin(), Objects.end(), [&](const auto& o) {
      return !NoCase()(o.first, path) && !NoCase()(path, o.first);
    });
  }
  // A count of 0, or FALSE, with the error GetLastError then gives.
  Dword Failed(Dword error) {
    LastError = error;
    return 0;
  }
  Handle FailedSearch(Dword error) {
    LastError = error;
    return InvalidHandle();
  }
  static void Fill(const Search& search, FindDataW* found) {
    *found = FindDataW{};
    const Text& name = search.Names[search.Next];
    std::copy(name.begin(), name.end(), found->FileName);
  }
  // As Windows makes a drive's full path: either separator, . and ..
  // resolved, doubled separators and a last name's trailing dots and blanks
  // dropped, a trailing separator kept.
  static Text MadeFull(const Text& name) {
    std::vector<Text> parts;
    Text part;
    for (std::size_t i = 3; i <= name.size(); ++i) {
      if (i < name.size() && name[i] != u'\\' && name[i] != u'/') {
        part += name[i];
        continue;
      }
      if (i == name.size())
        while (!part.empty() && (part.back() == u'.' || part.back() == u' ') &&
               part != u"." && part != u"..")
          part.pop_back();
      if (part == u"..") {
        if (!parts.empty()) parts.pop_back();
      } else if (!part.empty() && part != u".") {
        parts.push_back(part);
      }
      part.clear();
    }
    Text full = name.substr(0, 2) + u"\\";
    for (std::size_t i = 0; i < parts.size(); ++i)
      full += (i > 0 ? u"\\" : u"") + parts[i];
    const char16_t last = name.back();
    if (!parts.empty() && (last == u'\\' || last == u'/')) full += u'\\';
    return full;
  }
};

}  // namespace fake
