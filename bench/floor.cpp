// The start-up floor: a GUI program that makes Windows load what handback.exe
// loads (KERNEL32, USER32, SHELL32, ADVAPI32 and msvcrt) and then does
// nothing.
#include <windows.h>
// after <windows.h>, which it needs
#include <shellapi.h>

int main() {
  // Taken, never called: an import is enough for the loader to map the DLL.
  void* volatile user32 = reinterpret_cast<void*>(&CharUpperBuffA);
  void* volatile shell32 = reinterpret_cast<void*>(&ShellExecuteA);
  void* volatile advapi32 = reinterpret_cast<void*>(&OpenProcessToken);
  (void)user32;
  (void)shell32;
  (void)advapi32;
  return 0;
}
