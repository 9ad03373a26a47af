#include "Startup.h"

#include "../../runtime/win32/Application.h"
#include "MainUnit.h"

int RunTidewell() {
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
  // The controller and a checked-out device live until the process ends.
  return 0;
}
