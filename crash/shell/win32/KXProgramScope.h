#pragma once
// The reporter's life around a program's entry point. A program that links Kestrelix::Kestrelix
// has its main (or wmain, and through the C runtime's own main WinMain and wWinMain) taken over
// with the linker's --wrap: the wrapper runs the program's static constructors, starts the
// reporter, calls the program's entry and stops the reporter when the entry returns.
//
// An exception that escapes the entry is not caught here: no handler is found for it, so the
// stack stays as it was at the throw and std::terminate reports it (class and message) before the
// process ends.

namespace kx {

class KXProgramScope {
public:
  KXProgramScope();
  ~KXProgramScope();
  KXProgramScope(const KXProgramScope &) = delete;
  KXProgramScope &operator=(const KXProgramScope &) = delete;
};

} // namespace kx
