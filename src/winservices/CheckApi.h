// The check's only way to Windows: one operation per Win32 call it makes,
// shaped as Windows takes it. Declared without <windows.h> so that the check
// and its tests build anywhere; CheckApiWindows.cpp forwards each to Windows.
// Wide text is char16_t, Windows' WCHAR, whatever size wchar_t has here.
#pragma once

#include <cstdint>

#include "WinApi.h"

namespace winservices {

using Wchar = char16_t;

constexpr Dword InvalidFileAttributes = 0xFFFFFFFF;
constexpr Dword FileAttributeReparsePoint = 0x400;
constexpr Uint DriveFixed = 3;   // DRIVE_FIXED
constexpr int SeFileObject = 1;  // SE_FILE_OBJECT
constexpr Dword OwnerSecurityInformation = 1;
constexpr Dword DaclSecurityInformation = 4;
constexpr int TokenUser = 1;            // TOKEN_INFORMATION_CLASS
constexpr Dword ErrorNoMoreFiles = 18;  // ERROR_NO_MORE_FILES

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
};

// The one real implementation, over Windows itself.
CheckApi& WindowsCheckApi();

}  // namespace winservices
