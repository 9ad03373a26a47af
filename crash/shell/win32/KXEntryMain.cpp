// main of a program that links Kestrelix::Kestrelix (-Wl,--wrap=main). The C runtime calls this
// with the three arguments it always passes; main may declare fewer, which the calling convention
// allows. A WinMain program gets the runtime's own main, which calls WinMain.
#include "crash/shell/win32/KXProgramScope.h"

extern "C" int __real_main(int argc, char **argv, char **envp);

extern "C" int __wrap_main(int argc, char **argv, char **envp) {
  kx::KXProgramScope reporter;
  return __real_main(argc, argv, envp);
}
