#pragma once
// A pretend data logger, with the faults the example asks for.
#include <windows.h>

// Opens the logger's archive; the archive is missing, so it throws std::runtime_error.
void OpenArchive();
// Clears a record through the pointer it is given.
void ClearRecord(int *record);
// A thread procedure that opens the archive.
DWORD WINAPI ArchiveThread(void *);
