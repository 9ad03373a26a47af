#include "app/win32/Startup.h"

#include "app/win32/MainUnit.h"
#include "runtime/win32/Application.h"
#include "runtime/win32/RuntimeHooks.h"

int RunTidewell() {
  // The crash reporter runs already: Kestrelix::Kestrelix starts it before wWinMain and stops it
  // after.
  try {
    TApplication application;
    Application = &application;

    // The station tool's unit comes after all others: it creates the HID controller, whose
    // first enumeration waits for the message loop.
    MainUnitInitialization();

    Application->Initialize();
    Application->SetMainFormOnTaskBar(true);
    TForm1 form;
    Form1 = &form;
    Application->Run();
    Form1 = nullptr;
    Application = nullptr;
  } catch (...) {
    // The outermost handler of the program's main code.
    Application = nullptr;
    if (RuntimeHooks().topLevelException)
      RuntimeHooks().topLevelException();
  }
  // The controller and a checked-out device live until the process ends.
  return 0;
}
