#include "Logger.h"

#include <stdexcept>

void OpenArchive() {
  throw std::runtime_error("the archive is missing");
}

void ClearRecord(int *record) {
  *record = 0;
}

DWORD WINAPI ArchiveThread(void *) {
  OpenArchive();
  return 0;
}
