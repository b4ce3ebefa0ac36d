// The program's only way to Windows: one operation per Win32 call it makes,
// shaped as Windows takes it. Declared without <windows.h> so that the logic
// and its tests build anywhere; WinApiWindows.cpp forwards each to Windows.
#pragma once

#include <cstdint>

namespace winservices {

using Bool = int32_t;    // BOOL
using Uint = uint32_t;   // UINT
using Dword = uint32_t;  // DWORD
using Word = uint16_t;   // WORD
using Handle = void*;    // HANDLE, HWND, HMODULE

inline Handle InvalidHandle() { return reinterpret_cast<Handle>(intptr_t{-1}); }

constexpr Dword FileAttributeDirectory = 0x10;
constexpr int SwShowNormal = 1;
constexpr Uint MbOkIconHand = 0x10;  // MB_OK | MB_ICONHAND
constexpr Uint EwxReboot = 2;
constexpr Dword TokenAdjustPrivileges = 0x20;  // TOKEN_ADJUST_PRIVILEGES
constexpr Dword TokenQuery = 0x8;              // TOKEN_QUERY
constexpr Dword SePrivilegeEnabled = 2;        // SE_PRIVILEGE_ENABLED

// FILETIME, WIN32_FIND_DATAA, LUID and TOKEN_PRIVILEGES (of one privilege),
// laid out as Windows lays them out.
struct FileTime {
  Dword LowDateTime;
  Dword HighDateTime;
};

struct FindData {
  Dword FileAttributes;
  FileTime CreationTime;
  FileTime LastAccessTime;
  FileTime LastWriteTime;
  Dword FileSizeHigh;
  Dword FileSizeLow;
  Dword Reserved0;
  Dword Reserved1;
  char FileName[260];
  char AlternateFileName[14];
};

struct Luid {
  Dword LowPart;
  int32_t HighPart;
};

struct TokenPrivileges {
  Dword PrivilegeCount;
  Luid PrivilegeLuid;
  Dword Attributes;
};

class WinApi {
 public:
  virtual ~WinApi() = default;

  virtual Uint GetWindowsDirectoryA(char* buffer, Uint size) = 0;
  virtual Dword GetModuleFileNameA(Handle module, char* buffer, Dword size) = 0;
  virtual Dword CharUpperBuffA(char* text, Dword length) = 0;
  virtual Bool IsDBCSLeadByte(uint8_t byte) = 0;
  virtual Dword GetPrivateProfileStringA(const char* section, const char* key,
                                         const char* fallback, char* buffer,
                                         Dword size, const char* fileName) = 0;
  virtual Bool WritePrivateProfileStringA(const char* section, const char* key,
                                          const char* value,
                                          const char* fileName) = 0;
  virtual Handle FindFirstFileA(const char* path, FindData* found) = 0;
  virtual Bool FindClose(Handle find) = 0;
  virtual Bool FileTimeToLocalFileTime(const FileTime* fileTime,
                                       FileTime* localTime) = 0;
  virtual Bool FileTimeToDosDateTime(const FileTime* fileTime, Word* date,
                                     Word* time) = 0;
  // HINSTANCE in Windows: pointer-sized, compared as a signed number.
  virtual intptr_t ShellExecuteA(Handle window, const char* verb,
                                 const char* file, const char* parameters,
                                 const char* directory, int show) = 0;
  virtual Bool WaitMessage() = 0;
  virtual int MessageBoxA(Handle window, const char* text, const char* caption,
                          Uint type) = 0;
  virtual Handle GetCurrentProcess() = 0;
  virtual Bool OpenProcessToken(Handle process, Dword access,
                                Handle* token) = 0;
  virtual Bool LookupPrivilegeValueA(const char* system, const char* name,
                                     Luid* luid) = 0;
  virtual Bool AdjustTokenPrivileges(Handle token, Bool disableAll,
                                     TokenPrivileges* newState,
                                     Dword bufferLength,
                                     TokenPrivileges* previousState,
                                     Dword* returnLength) = 0;
  virtual Bool CloseHandle(Handle object) = 0;
  virtual Bool ExitWindowsEx(Uint flags, Dword reason) = 0;
};

// The one real implementation, over Windows itself.
WinApi& WindowsApi();

}  // namespace winservices
