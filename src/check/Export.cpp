// handback-check.dll's one export, over Windows itself.
#include <windows.h>

#include <cstdlib>

#include "Check.h"

// No exception leaves the check, and there is nowhere to print: the default
// terminate handler would only add its demangler to the DLL.
namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx

extern "C" int WINAPI HandBackCheck(const wchar_t* exe, const wchar_t* setupDir,
                                    wchar_t* fullExe, wchar_t* fullSetupDir,
                                    wchar_t* reason, unsigned chars) {
  static_assert(sizeof(wchar_t) == sizeof(winservices::Wchar));
  using winservices::Wchar;
  return check::HandBackCheckWith(
      winservices::WindowsCheckApi(), reinterpret_cast<const Wchar*>(exe),
      reinterpret_cast<const Wchar*>(setupDir),
      reinterpret_cast<Wchar*>(fullExe), reinterpret_cast<Wchar*>(fullSetupDir),
      reinterpret_cast<Wchar*>(reason), chars);
}
