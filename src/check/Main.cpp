// handback-check.exe: the way the include files would take for two paths,
// asked of the Windows it runs on.
#include <cstdlib>

#include "Decide.h"

// No exception leaves check::Main: the default terminate handler would only
// add its demangler to the image.
namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx

extern "C" int wmain(int argc, wchar_t** argv) {
  static_assert(sizeof(wchar_t) == sizeof(winservices::Wchar));
  return check::Main(winservices::WindowsCheckApi(), argc,
                     reinterpret_cast<const winservices::Wchar* const*>(argv));
}
