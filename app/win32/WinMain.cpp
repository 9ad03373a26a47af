// Program start-up: the units' initialisation in order, the application object, the main
// window and the message loop.
#include "../../runtime/win32/Application.h"
#include "MainUnit.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  TApplication application;
  Application = &application;

  MainUnitInitialization();

  Application->Initialize();
  Application->SetMainFormOnTaskBar(true);
  TForm1 form;
  Form1 = &form;
  Application->Run();
  Form1 = nullptr;
  return 0;
}
