// The check's only way to Windows, and handback-check.exe's: one operation
// per Win32 call they make, shaped as Windows takes it. Declared without
// <windows.h> so that the check and its tests build anywhere;
// CheckApiWindows.cpp forwards each to Windows. Wide text is char16_t,
// Windows' WCHAR, whatever size wchar_t has here.
#pragma once

#include <cstdint>

#include "WinApi.h"

namespace winservices {

using Wchar = char16_t;
using Long = int32_t;  // LONG, LSTATUS

constexpr Dword InvalidFileAttributes = 0xFFFFFFFF;
constexpr Dword FileAttributeReparsePoint = 0x400;
constexpr Uint DriveFixed = 3;   // DRIVE_FIXED
constexpr int SeFileObject = 1;  // SE_FILE_OBJECT
constexpr Dword OwnerSecurityInformation = 1;
constexpr Dword DaclSecurityInformation = 4;
constexpr int TokenUser = 1;            // TOKEN_INFORMATION_CLASS
constexpr Dword ErrorNoMoreFiles = 18;  // ERROR_NO_MORE_FILES
constexpr Dword KeyQueryValue = 0x1;    // KEY_QUERY_VALUE
constexpr Dword KeyWow6464Key = 0x100;  // KEY_WOW64_64KEY
constexpr Dword RegDword = 4;           // REG_DWORD
constexpr Uint CpAcp = 0;               // CP_ACP
constexpr Uint CpUtf8 = 65001;          // CP_UTF8
constexpr Dword WcNoBestFitChars = 0x400;
constexpr Dword StdOutputHandle = static_cast<Dword>(-11);
constexpr Dword StdErrorHandle = static_cast<Dword>(-12);

// HKEY_LOCAL_MACHINE: 0x80000002, which Windows sign-extends.
inline Handle LocalMachine() {
  return reinterpret_cast<Handle>(intptr_t{-0x7FFFFFFE});
}

// WIN32_FIND_DATAW, laid out as Windows lays it out.
struct FindDataW {
  Dword FileAttributes;
  FileTime CreationTime;
  FileTime LastAccessTime;
  FileTime LastWriteTime;
  Dword FileSizeHigh;
  Dword FileSizeLow;
  Dword Reserved0;
  Dword Reserved1;
  Wchar FileName[260];
  Wchar AlternateFileName[14];
};

class CheckApi {
 public:
  virtual ~CheckApi() = default;

  virtual Dword GetFullPathNameW(const Wchar* fileName, Dword size,
                                 Wchar* buffer, Wchar** filePart) = 0;
  virtual Uint GetDriveTypeW(const Wchar* rootPath) = 0;
  virtual Dword QueryDosDeviceW(const Wchar* deviceName, Wchar* targetPath,
                                Dword max) = 0;
  virtual Dword GetFileAttributesW(const Wchar* fileName) = 0;
  virtual Dword GetLastError() = 0;
  virtual Handle FindFirstFileW(const Wchar* fileName, FindDataW* found) = 0;
  virtual Bool FindNextFileW(Handle find, FindDataW* found) = 0;
  virtual Bool FindClose(Handle find) = 0;
  // PSID, PACL and PSECURITY_DESCRIPTOR are all void* here.
  virtual Dword GetNamedSecurityInfoW(const Wchar* objectName, int objectType,
                                      Dword securityInfo, void** owner,
                                      void** group, void** dacl, void** sacl,
                                      void** descriptor) = 0;
  virtual Dword GetSecurityDescriptorLength(void* descriptor) = 0;
  virtual void* LocalFree(void* memory) = 0;
  virtual Handle GetCurrentProcess() = 0;
  virtual Bool OpenProcessToken(Handle process, Dword access,
                                Handle* token) = 0;
  virtual Bool GetTokenInformation(Handle token, int infoClass, void* info,
                                   Dword length, Dword* returnLength) = 0;
  virtual Bool CloseHandle(Handle object) = 0;
  // The major version in the low byte, the minor in the next, the build
  // above them.
  virtual Dword GetVersion() = 0;
  // HKEY is a Handle here, REGSAM a Dword.
  virtual Long RegOpenKeyExW(Handle key, const Wchar* subKey, Dword options,
                             Dword access, Handle* result) = 0;
  virtual Long RegQueryValueExW(Handle key, const Wchar* valueName,
                                Dword* reserved, Dword* type, uint8_t* data,
                                Dword* dataSize) = 0;
  virtual Long RegCloseKey(Handle key) = 0;
  virtual int WideCharToMultiByte(Uint codePage, Dword flags, const Wchar* wide,
                                  int wideChars, char* multi, int multiBytes,
                                  const char* defaultChar,
                                  Bool* usedDefault) = 0;
  virtual int MultiByteToWideChar(Uint codePage, Dword flags, const char* multi,
                                  int multiBytes, Wchar* wide,
                                  int wideChars) = 0;
  virtual Handle GetStdHandle(Dword which) = 0;
  virtual Bool GetConsoleMode(Handle console, Dword* mode) = 0;
  virtual Bool WriteConsoleW(Handle console, const void* buffer, Dword chars,
                             Dword* written, void* reserved) = 0;
  virtual Bool WriteFile(Handle file, const void* buffer, Dword bytes,
                         Dword* written, void* overlapped) = 0;
};

// The one real implementation, over Windows itself.
CheckApi& WindowsCheckApi();

}  // namespace winservices
