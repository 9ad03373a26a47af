#pragma once
// A minidump of the process at an exception, for the developer's debugger: MiniDumpWriteDump of
// dbghelp.dll (from the system folder, bound at run time) with the exception's thread, record
// and context.
#include <windows.h>

#include <string>

namespace kx {

struct KXMiniDumpResult {
  bool written = false;
  std::string error; // why no dump was written; empty on success
};

// Writes a dump of process (GetCurrentProcess() for the own one) into path, replacing an old
// file. threadId, record and context describe the exception (the crashed thread's id, the
// recorded exception record and its full CONTEXT); without record or context the dump has no
// exception stream. Modest content: threads, stacks, modules, thread times, memory the stacks
// point into. Refused while the process is blocked in the loader (dbghelp cannot be loaded
// then). A failed dump leaves no file. Never throws.
KXMiniDumpResult WriteMiniDump(HANDLE process, DWORD threadId, const EXCEPTION_RECORD *record,
                               const CONTEXT *context, const std::u16string &path);

// <temporary folder><exe name without extension>.dmp; empty without a temporary folder.
// tempDirectory: KXTempDirectory().
std::u16string MiniDumpPath(const std::wstring &tempDirectory);

} // namespace kx
