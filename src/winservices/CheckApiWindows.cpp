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
};

RealCheckApi TheWindowsCheckApi;

}  // namespace

CheckApi& WindowsCheckApi() { return TheWindowsCheckApi; }

}  // namespace winservices
