// Restarts itself once. The first instance records ten exception times and restarts; the second
// takes them over and writes the old instance's exit code (which it can only know when it waited
// for its end) and the times to the file named by the first argument.
#include <windows.h>

#include <cstdio>

#include "crash/capture/exception/KXExceptionTimes.h"
#include "crash/capture/exception/win32/KXRestart.h"

int main(int argc, char **argv) {
  if (argc < 2)
    return 3;
  kx::TExceptionTimes times{};
  DWORD oldProcessId = 0;
  if (kx::TakeOverRestart(times, &oldProcessId)) {
    DWORD oldExitCode = 0;
    if (HANDLE old = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, oldProcessId)) {
      GetExitCodeProcess(old, &oldExitCode);
      CloseHandle(old);
    }
    std::FILE *out = std::fopen(argv[1], "w");
    if (!out)
      return 4;
    std::fprintf(out, "%lu\n", static_cast<unsigned long>(oldExitCode));
    for (int64_t t : times)
      std::fprintf(out, "%lld\n", static_cast<long long>(t));
    std::fclose(out);
    return 0;
  }
  for (int i = 0; i < 10; ++i)
    times[size_t(i)] = 13400000000LL - i;
  kx::RestartProcess(times);
}
