// The test program of the Win32 delivery shell. Started with "--record-command-line FILE ..." it
// is the stand-in mail program of the mailto tests instead: it writes its command line into FILE
// and ends.
#include <gtest/gtest.h>
#include <winsock2.h>
#include <windows.h>

#include <cstring>
#include <string>

#include "tests/crash/delivery/win32/DeliveryWin32Fixture.h"

namespace {

int RecordCommandLine(const char *file) {
  std::string text = std::string(GetCommandLineA()) + "\n<end>\n";
  HANDLE h = CreateFileA(file, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE)
    return 1;
  DWORD written = 0;
  WriteFile(h, text.data(), DWORD(text.size()), &written, nullptr);
  CloseHandle(h);
  return 0;
}

} // namespace

int main(int argc, char **argv) {
  if (argc >= 3 && std::strcmp(argv[1], "--record-command-line") == 0)
    return RecordCommandLine(argv[2]);
  WSADATA data; // the tests' own servers need Winsock whatever the sends do
  if (WSAStartup(MAKEWORD(2, 2), &data) != 0)
    return 2;
  kx::SetDeliveryConfig(kx::test::QuietConfig());
  testing::InitGoogleTest(&argc, argv);
  int result = RUN_ALL_TESTS();
  WSACleanup();
  return result;
}
