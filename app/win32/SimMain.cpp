// TidewellSim.exe: the tool with a simulated Fine Offset station (logger interval 30
// minutes) instead of the system's HID devices. Every report exchanged with the station is
// written to TidewellSim.traffic.log beside the exe.
#include "app/win32/Startup.h"
#include "hid/win32/SimHidPlatform.h"

#include <string>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  // Like the controller, the platform lives until the process ends: the station's read
  // thread still uses it while the process exits.
  TSimHidPlatform &simulation = *new TSimHidPlatform();
  wchar_t exe[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, exe, MAX_PATH);
  std::wstring log(exe);
  log = log.substr(0, log.find_last_of(L"\\/") + 1) + L"TidewellSim.traffic.log";
  simulation.SetTrafficLog(log);
  uint32_t station = simulation.Plug(FineOffsetStation(1), false);
  simulation.SetMemory(station, 0x10, 30);
  SetHidPlatform(&simulation);
  return RunTidewell();
}
