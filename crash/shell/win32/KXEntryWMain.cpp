// wmain of a program that links Kestrelix::Kestrelix (-Wl,--wrap=wmain), for programs linked with
// -municode; a wWinMain program gets the runtime's own wmain, which calls wWinMain. Kept apart
// from main's wrapper so that each is linked only into the programs whose runtime calls it.
#include "crash/shell/win32/KXProgramScope.h"

extern "C" int __real_wmain(int argc, wchar_t **argv, wchar_t **envp);

extern "C" int __wrap_wmain(int argc, wchar_t **argv, wchar_t **envp) {
  kx::KXProgramScope reporter;
  return __real_wmain(argc, argv, envp);
}
