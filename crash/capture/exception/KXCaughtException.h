#pragma once
// KXCaughtException: the one record of a caught exception. A catching point fills it
// (crash/capture/catching/win32/KXCatchException.cpp completes what it left empty), the handling
// thread receives it by pointer (win32/KXHandlingThread.h), the handling sequence corrects its
// address and picks the module's settings (KXHandlingSequence.cpp), and the exception object
// stores it (KXExceptionObject.cpp). Its pointers are valid while the catching thread waits for
// the handling; the exception object copies what they point at.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "crash/analysis/stacktrace/ReturnAddress.h"
#include "crash/capture/exception/KXException.h"

namespace kx {

struct KXCaughtException {
  TExceptType exceptType = TExceptType::etNormal;
  KXExceptObject exceptObject;                        // empty at a catching point: the thread's current exception
  std::uintptr_t exceptAddr = 0;                      // 0 at a catching point: the current exception's address
  bool dontComplete = false;
  // The candidates prepared while the raising thread's stack was intact, or null; copied.
  const std::vector<tidewell::stacktrace::PreStackItem> *preparedStack = nullptr;
  KXModule package = 0;
  void *relatedObject = nullptr;
  TExceptSource source = TExceptSource::esManual;
  std::shared_ptr<IKXModuleSettings> moduleSettings; // null: the caller's module
  const KXRegisterContext *context = nullptr;
  std::uintptr_t ebp = 0, esp = 0;                    // 0: the current ones
  uint32_t threadId = 0;                              // 0: the current thread
  bool canContinue = true;
  std::string *bugReportOut = nullptr;                // receives the report in server mode, or null
};

} // namespace kx
