// Tidewell.exe: the tool with the system's HID devices.
#include "app/win32/Startup.h"

#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) { return RunTidewell(); }
