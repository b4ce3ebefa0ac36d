// Each operation forwards unchanged to the wide Win32 function of its name.
#include <windows.h>
// after <windows.h>, which they need
#include <aclapi.h>

#include <cstddef>

#include "CheckApi.h"

namespace winservices {
namespace {

static_assert(sizeof(Wchar) == sizeof(WCHAR));
static_assert(sizeof(FindDataW) == sizeof(WIN32_FIND_DATAW));
static_assert(offsetof(FindDataW, FileName) ==
              offsetof(WIN32_FIND_DATAW, cFileName));
static_assert(FILE_ATTRIBUTE_REPARSE_POINT == FileAttributeReparsePoint);
static_assert(SE_FILE_OBJECT == SeFileObject);
static_assert(TokenUser == ::TokenUser);
static_assert(KeyQueryValue == KEY_QUERY_VALUE);
static_assert(KeyWow6464Key == KEY_WOW64_64KEY);
static_assert(RegDword == REG_DWORD);
static_assert(WcNoBestFitChars == WC_NO_BEST_FIT_CHARS);
static_assert(StdOutputHandle == STD_OUTPUT_HANDLE);
static_assert(StdErrorHandle == STD_ERROR_HANDLE);

LPCWSTR Win(const Wchar* text) { return reinterpret_cast<LPCWSTR>(text); }
LPWSTR Win(Wchar* text) { return reinterpret_cast<LPWSTR>(text); }

class RealCheckApi final : public CheckApi {
 public:
  Dword GetFullPathNameW(const Wchar* fileName, Dword size, Wchar* buffer,
                         Wchar** filePart) override {
    return ::GetFullPathNameW(Win(fileName), size, Win(buffer),
                              reinterpret_cast<LPWSTR*>(filePart));
  }
  Uint GetDriveTypeW(const Wchar* rootPath) override {
    return ::GetDriveTypeW(Win(rootPath));
  }
  Dword QueryDosDeviceW(const Wchar* deviceName, Wchar* targetPath,
                        Dword max) override {
    return ::QueryDosDeviceW(Win(deviceName), Win(targetPath), max);
  }
  Dword GetFileAttributesW(const Wchar* fileName) override {
    return ::GetFileAttributesW(Win(fileName));
  }
  Dword GetLastError() override { return ::GetLastError(); }
  Handle FindFirstFileW(const Wchar* fileName, FindDataW* found) override {
    return ::FindFirstFileW(Win(fileName),
                            reinterpret_cast<WIN32_FIND_DATAW*>(found));
  }
  Bool FindNextFileW(Handle find, FindDataW* found) override {
    return ::FindNextFileW(find, reinterpret_cast<WIN32_FIND_DATAW*>(found));
  }
  Bool FindClose(Handle find) override { return ::FindClose(find); }
  Dword GetNamedSecurityInfoW(const Wchar* objectName, int objectType,
                              Dword securityInfo, void** owner, void** group,
                              void** dacl, void** sacl,
                              void** descriptor) override {
    return ::GetNamedSecurityInfoW(
        Win(objectName), static_cast<SE_OBJECT_TYPE>(objectType), securityInfo,
        reinterpret_cast<PSID*>(owner), reinterpret_cast<PSID*>(group),
        reinterpret_cast<PACL*>(dacl), reinterpret_cast<PACL*>(sacl),
        reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor));
  }
  Dword GetSecurityDescriptorLength(void* descriptor) override {
    return ::GetSecurityDescriptorLength(descriptor);
  }
  void* LocalFree(void* memory) override { return ::LocalFree(memory); }
  Handle GetCurrentProcess() override { return ::GetCurrentProcess(); }
  Bool OpenProcessToken(Handle process, Dword access, Handle* token) override {
    return ::OpenProcessToken(process, access, token);
  }
  Bool GetTokenInformation(Handle token, int infoClass, void* info,
                           Dword length, Dword* returnLength) override {
    return ::GetTokenInformation(
        token, static_cast<TOKEN_INFORMATION_CLASS>(infoClass), info, length,
        reinterpret_cast<DWORD*>(returnLength));
  }
  Bool CloseHandle(Handle object) override { return ::CloseHandle(object); }
  Dword GetVersion() override { return ::GetVersion(); }
  Long RegOpenKeyExW(Handle key, const Wchar* subKey, Dword options,
                     Dword access, Handle* result) override {
    return ::RegOpenKeyExW(static_cast<HKEY>(key), Win(subKey), options, access,
                           reinterpret_cast<PHKEY>(result));
  }
  Long RegQueryValueExW(Handle key, const Wchar* valueName, Dword* reserved,
                        Dword* type, uint8_t* data, Dword* dataSize) override {
    return ::RegQueryValueExW(static_cast<HKEY>(key), Win(valueName),
                              reinterpret_cast<LPDWORD>(reserved),
                              reinterpret_cast<LPDWORD>(type), data,
                              reinterpret_cast<LPDWORD>(dataSize));
  }
  Long RegCloseKey(Handle key) override {
    return ::RegCloseKey(static_cast<HKEY>(key));
  }
  int WideCharToMultiByte(Uint codePage, Dword flags, const Wchar* wide,
                          int wideChars, char* multi, int multiBytes,
                          const char* defaultChar, Bool* usedDefault) override {
    return ::WideCharToMultiByte(codePage, flags, Win(wide), wideChars, multi,
                                 multiBytes, defaultChar, usedDefault);
  }
  int MultiByteToWideChar(Uint codePage, Dword flags, const char* multi,
                          int multiBytes, Wchar* wide, int wideChars) override {
    return ::MultiByteToWideChar(codePage, flags, multi, multiBytes, Win(wide),
                                 wideChars);
  }
  Handle GetStdHandle(Dword which) override { return ::GetStdHandle(which); }
  Bool GetConsoleMode(Handle console, Dword* mode) override {
    return ::GetConsoleMode(console, reinterpret_cast<LPDWORD>(mode));
  }
  Bool WriteConsoleW(Handle console, const void* buffer, Dword chars,
                     Dword* written, void* reserved) override {
    return ::WriteConsoleW(console, buffer, chars,
                           reinterpret_cast<LPDWORD>(written), reserved);
  }
  Bool WriteFile(Handle file, const void* buffer, Dword bytes, Dword* written,
                 void* overlapped) override {
    return ::WriteFile(file, buffer, bytes, reinterpret_cast<LPDWORD>(written),
                       static_cast<LPOVERLAPPED>(overlapped));
  }
};

RealCheckApi TheWindowsCheckApi;

}  // namespace

CheckApi& WindowsCheckApi() { return TheWindowsCheckApi; }

}  // namespace winservices
