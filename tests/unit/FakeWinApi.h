// A recording stand-in for Windows: every call lands in Calls, with its
// arguments, in order; every answer can be set by the test.
#pragma once

#include <algorithm>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "WinApi.h"

namespace fake {

using namespace winservices;

class FakeWinApi : public WinApi {
 public:
  // What the platform answers.
  std::string WindowsDir = "C:\\WINDOWS";
  std::optional<Uint>
      WindowsDirLength;  // reported instead of the text's length
  std::string ModulePath = "C:\\TOOLS\\HANDBACK.EXE";
  std::map<std::string, std::string> Profile;  // "Section/Key" -> value
  Bool WriteResult = 1;
  bool FileFound = true;
  Dword FoundAttributes = 0x20;  // FILE_ATTRIBUTE_ARCHIVE
  Bool DosTimeResult = 1;
  intptr_t ShellExecuteResult = 42;
  Bool ExitWindowsResult = 1;
  Bool OpenTokenResult = 1;
  bool CodePage932 = false;  // otherwise single-byte, with no lead bytes

  std::vector<std::string> Calls;

  static std::string Key(const std::string& section, const std::string& key) {
    return section + "/" + key;
  }

  Uint GetWindowsDirectoryA(char* buffer, Uint size) override {
    Record("GetWindowsDirectoryA(" + std::to_string(size) + ")");
    const auto length = std::min<std::size_t>(WindowsDir.size(), size);
    std::memcpy(buffer, WindowsDir.data(), length);
    if (length < size) buffer[length] = '\0';
    return WindowsDirLength.value_or(static_cast<Uint>(WindowsDir.size()));
  }
  Dword GetModuleFileNameA(Handle module, char* buffer, Dword size) override {
    Record("GetModuleFileNameA(" + Pointer(module) + ", " +
           std::to_string(size) + ")");
    const auto length = std::min<std::size_t>(ModulePath.size(), size);
    std::memcpy(buffer, ModulePath.data(), length);
    if (length < size) buffer[length] = '\0';
    return static_cast<Dword>(length);
  }
  Dword CharUpperBuffA(char* text, Dword length) override {
    Record("CharUpperBuffA(\"" + std::string(text, length) + "\", " +
           std::to_string(length) + ")");
    std::transform(text, text + length, text, [](char c) {
      return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
    });
    return length;
  }
  Bool IsDBCSLeadByte(uint8_t byte) override {
    Record("IsDBCSLeadByte(" + std::to_string(byte) + ")");
    return CodePage932 &&
           ((byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC));
  }
  Dword GetPrivateProfileStringA(const char* section, const char* key,
                                 const char* fallback, char* buffer, Dword size,
                                 const char* fileName) override {
    Record("GetPrivateProfileStringA(\"" + std::string(section) + "\", \"" +
           key + "\", \"" + fallback + "\", " + std::to_string(size) + ", \"" +
           fileName + "\")");
    const auto entry = Profile.find(Key(section, key));
    const std::string value = entry == Profile.end() ? fallback : entry->second;
    // Like Windows: cut to what fits with the terminating zero.
    const auto length = std::min<std::size_t>(value.size(), size - 1);
    std::memcpy(buffer, value.data(), length);
    buffer[length] = '\0';
    return static_cast<Dword>(length);
  }
  Bool WritePrivateProfileStringA(const char* section, const char* key,
                                  const char* value,
                                  const char* fileName) override {
    Record("WritePrivateProfileStringA(\"" + std::string(section) + "\", \"" +
           key + "\", \"" + value + "\", \"" + fileName + "\")");
    if (WriteResult != 0) Profile[Key(section, key)] = value;
    return WriteResult;
  }
  Handle FindFirstFileA(const char* path, FindData* found) override {
    Record("FindFirstFileA(\"" + std::string(path) + "\")");
    if (!FileFound) return InvalidHandle();
    *found = FindData{};
    found->FileAttributes = FoundAttributes;
    found->LastWriteTime = WriteTime;
    return SearchHandle;
  }
  Bool FindClose(Handle find) override {
    Record("FindClose(" + Pointer(find) + ")");
    return 1;
  }
  Bool FileTimeToLocalFileTime(const FileTime* fileTime,
                               FileTime* localTime) override {
    Record("FileTimeToLocalFileTime(" + Time(fileTime) + ")");
    *localTime = LocalTime;
    return 1;
  }
  Bool FileTimeToDosDateTime(const FileTime* fileTime, Word* date,
                             Word* time) override {
    Record("FileTimeToDosDateTime(" + Time(fileTime) + ")");
    *date = 0x5421;
    *time = 0x6000;
    return DosTimeResult;
  }
  intptr_t ShellExecuteA(Handle window, const char* verb, const char* file,
                         const char* parameters, const char* directory,
                         int show) override {
    Record("ShellExecuteA(" + Pointer(window) + ", \"" + verb + "\", \"" +
           file + "\", \"" + parameters + "\", \"" + directory + "\", " +
           std::to_string(show) + ")");
    return ShellExecuteResult;
  }
  Bool WaitMessage() override {
    Record("WaitMessage()");
    return 1;
  }
  int MessageBoxA(Handle window, const char* text, const char* caption,
                  Uint type) override {
    NoticeText = text;
    Record("MessageBoxA(" + Pointer(window) + ", <notice>, \"" + caption +
           "\", " + std::to_string(type) + ")");
    return 1;
  }
  Handle GetCurrentProcess() override {
    Record("GetCurrentProcess()");
    return CurrentProcess;
  }
  Bool OpenProcessToken(Handle process, Dword access, Handle* token) override {
    Record("OpenProcessToken(" + Pointer(process) + ", " +
           std::to_string(access) + ")");
    if (OpenTokenResult != 0) *token = Token;
    return OpenTokenResult;
  }
  Bool LookupPrivilegeValueA(const char* system, const char* name,
                             Luid* luid) override {
    Record("LookupPrivilegeValueA(" + std::string(system ? system : "null") +
           ", \"" + name + "\")");
    *luid = {19, 0};
    return 1;
  }
  Bool AdjustTokenPrivileges(Handle token, Bool disableAll,
                             TokenPrivileges* newState, Dword bufferLength,
                             TokenPrivileges* previousState,
                             Dword* returnLength) override {
    const TokenPrivileges& p = *newState;
    Record("AdjustTokenPrivileges(" + Pointer(token) + ", " +
           std::to_string(disableAll) + ", {" +
           std::to_string(p.PrivilegeCount) + ", " +
           std::to_string(p.PrivilegeLuid.LowPart) + ", " +
           std::to_string(p.Attributes) + "}, " + std::to_string(bufferLength) +
           (previousState || returnLength ? ", previous" : "") + ")");
    return 1;
  }
  Bool CloseHandle(Handle object) override {
    Record("CloseHandle(" + Pointer(object) + ")");
    return 1;
  }
  Bool ExitWindowsEx(Uint flags, Dword reason) override {
    Record("ExitWindowsEx(" + std::to_string(flags) + ", " +
           std::to_string(reason) + ")");
    return ExitWindowsResult;
  }

  // The search and the token answer with these, so that tests can follow
  // them.
  Handle const SearchHandle = reinterpret_cast<Handle>(intptr_t{0x5eac});
  Handle const CurrentProcess = reinterpret_cast<Handle>(intptr_t{-1});
  Handle const Token = reinterpret_cast<Handle>(intptr_t{0x70c});
  const FileTime WriteTime{0x11111111, 0x01d00000};
  const FileTime LocalTime{0x22222222, 0x01d00000};
  std::string NoticeText;

 private:
  void Record(std::string call) { Calls.push_back(std::move(call)); }
  std::string Pointer(Handle handle) const {
    if (handle == nullptr) return "null";
    if (handle == SearchHandle) return "search";
    if (handle == CurrentProcess) return "process";
    return handle == Token ? "token" : "other";
  }
  static std::string Time(const FileTime* time) {
    return std::to_string(time->LowDateTime) + ":" +
           std::to_string(time->HighDateTime);
  }
};

}  // namespace fake
