// Each operation forwards unchanged to the ANSI Win32 function of its name.
#include <windows.h>
// after <windows.h>, which it needs
#include <shellapi.h>

#include <cstddef>

#include "WinApi.h"

namespace winservices {
namespace {

static_assert(sizeof(FileTime) == sizeof(FILETIME));
static_assert(sizeof(FindData) == sizeof(WIN32_FIND_DATAA));
static_assert(offsetof(FindData, LastWriteTime) ==
              offsetof(WIN32_FIND_DATAA, ftLastWriteTime));
static_assert(offsetof(FindData, FileName) ==
              offsetof(WIN32_FIND_DATAA, cFileName));
static_assert(sizeof(Luid) == sizeof(LUID));
static_assert(sizeof(TokenPrivileges) == sizeof(TOKEN_PRIVILEGES));
static_assert(offsetof(TokenPrivileges, Attributes) ==
              offsetof(TOKEN_PRIVILEGES, Privileges[0].Attributes));

const FILETIME* Win(const FileTime* time) {
  return reinterpret_cast<const FILETIME*>(time);
}
FILETIME* Win(FileTime* time) { return reinterpret_cast<FILETIME*>(time); }

class RealWinApi final : public WinApi {
 public:
  Uint GetWindowsDirectoryA(char* buffer, Uint size) override {
    return ::GetWindowsDirectoryA(buffer, size);
  }
  Dword GetModuleFileNameA(Handle module, char* buffer, Dword size) override {
    return ::GetModuleFileNameA(static_cast<HMODULE>(module), buffer, size);
  }
  Dword CharUpperBuffA(char* text, Dword length) override {
    return ::CharUpperBuffA(text, length);
  }
  Bool IsDBCSLeadByte(uint8_t byte) override { return ::IsDBCSLeadByte(byte); }
  Dword GetPrivateProfileStringA(const char* section, const char* key,
                                 const char* fallback, char* buffer, Dword size,
                                 const char* fileName) override {
    return ::GetPrivateProfileStringA(section, key, fallback, buffer, size,
                                      fileName);
  }
  Bool WritePrivateProfileStringA(const char* section, const char* key,
                                  const char* value,
                                  const char* fileName) override {
    return ::WritePrivateProfileStringA(section, key, value, fileName);
  }
  Handle FindFirstFileA(const char* path, FindData* found) override {
    return ::FindFirstFileA(path, reinterpret_cast<WIN32_FIND_DATAA*>(found));
  }
  Bool FindClose(Handle find) override { return ::FindClose(find); }
  Bool FileTimeToLocalFileTime(const FileTime* fileTime,
                               FileTime* localTime) override {
    return ::FileTimeToLocalFileTime(Win(fileTime), Win(localTime));
  }
  Bool FileTimeToDosDateTime(const FileTime* fileTime, Word* date,
                             Word* time) override {
    return ::FileTimeToDosDateTime(Win(fileTime), date, time);
  }
  intptr_t ShellExecuteA(Handle window, const char* verb, const char* file,
                         const char* parameters, const char* directory,
                         int show) override {
    return reinterpret_cast<intptr_t>(::ShellExecuteA(
        static_cast<HWND>(window), verb, file, parameters, directory, show));
  }
  Bool WaitMessage() override { return ::WaitMessage(); }
  int MessageBoxA(Handle window, const char* text, const char* caption,
                  Uint type) override {
    return ::MessageBoxA(static_cast<HWND>(window), text, caption, type);
  }
  Handle GetCurrentProcess() override { return ::GetCurrentProcess(); }
  Bool OpenProcessToken(Handle process, Dword access, Handle* token) override {
    return ::OpenProcessToken(process, access, token);
  }
  Bool LookupPrivilegeValueA(const char* system, const char* name,
                             Luid* luid) override {
    return ::LookupPrivilegeValueA(system, name, reinterpret_cast<LUID*>(luid));
  }
  Bool AdjustTokenPrivileges(Handle token, Bool disableAll,
                             TokenPrivileges* newState, Dword bufferLength,
                             TokenPrivileges* previousState,
                             Dword* returnLength) override {
    return ::AdjustTokenPrivileges(
        token, disableAll, reinterpret_cast<TOKEN_PRIVILEGES*>(newState),
        bufferLength, reinterpret_cast<TOKEN_PRIVILEGES*>(previousState),
        reinterpret_cast<DWORD*>(returnLength));
  }
  Bool CloseHandle(Handle object) override { return ::CloseHandle(object); }
  Bool ExitWindowsEx(Uint flags, Dword reason) override {
    return ::ExitWindowsEx(flags, reason);
  }
};

RealWinApi TheWindowsApi;

}  // namespace

WinApi& WindowsApi() { return TheWindowsApi; }

}  // namespace winservices
