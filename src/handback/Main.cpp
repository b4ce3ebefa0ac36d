// Started by Windows as the shell for one start. Reads no command line or
// environment, and always ends with exit status 0.
#include <cstdlib>

#include "HandBack.h"

// No exception leaves the run, and a GUI program has no console to print on:
// the default terminate handler would only add its demangler to the image.
namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx

int main() {
  handback::ProgramState state;
  handback::RunHandBack(winservices::WindowsApi(), state);
  return 0;
}
