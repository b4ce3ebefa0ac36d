// An installer's use of the check, timed by bench/run.sh: load
// handback-check.dll from this program's directory and call it on the
// product run.sh lays out under Program Files; exit status 0 only where it
// answers hand-back, so that a check cut short fails the benchmark. Built
// without CALL_CHECK it does nothing: the floor to measure it against.
#include <windows.h>

using Check = int(WINAPI*)(const wchar_t*, const wchar_t*, wchar_t*, wchar_t*,
                           wchar_t*, unsigned);

int main() {
#ifdef CALL_CHECK
  HMODULE dll = LoadLibraryW(L"handback-check.dll");
  if (dll == nullptr) return 2;
  const auto check = reinterpret_cast<Check>(
      reinterpret_cast<void*>(GetProcAddress(dll, "HandBackCheck")));
  if (check == nullptr) return 3;
  wchar_t exe[1024], setupDir[1024], reason[1024];
  const int way = check(L"C:\\Program Files\\Dorvanix 4\\HANDBACK.EXE",
                        L"C:\\Program Files\\Dorvanix 4\\Setup", exe, setupDir,
                        reason, 1024);
  FreeLibrary(dll);
  return way == 2 ? 0 : 1;
#else
  // The same imports, never called.
  void* volatile imports[] = {reinterpret_cast<void*>(&LoadLibraryW),
                              reinterpret_cast<void*>(&GetProcAddress),
                              reinterpret_cast<void*>(&FreeLibrary)};
  (void)imports;
  return 0;
#endif
}
