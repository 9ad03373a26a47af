#pragma once
// The one entry of every catching point: completes what was caught, hands it to the
// exception-handling thread and waits until it has been handled.
#include <string>

#include "crash/capture/exception/KXException.h"

namespace kx {

struct KXCatchArgs {
  TExceptType exceptType = TExceptType::etNormal;
  KXExceptObject exceptObject;          // empty: the thread's current exception
  std::uintptr_t exceptAddr = 0;        // 0: the current exception's address
  std::string *bugReportOut = nullptr;  // receives the report in server mode
  KXModule package = 0;
  void *relatedObject = nullptr;
  TExceptSource source = TExceptSource::esManual;
  const KXRegisterContext *context = nullptr;
  std::uintptr_t ebp = 0, esp = 0;      // 0: the current ones
  bool canContinue = true;
  uint32_t threadId = 0;                // 0: the calling thread (another one only for a stack overflow)
};

// Returns when the exception has been handled or ignored; swallows anything raised inside.
void CatchException(const KXCatchArgs &args);

// Completes a missing object or address from the thread's current exception and takes the
// registers recorded for that very exception.
void CompleteCaughtParameters(KXExceptObject &object, std::uintptr_t &address, KXRegisterContext &context,
                              bool &hasContext);

// Whether a pointer designates a live C++ object of a known class: its type information lies in a
// loaded image and the object's memory can be read.
bool IsValidExceptObject(const KXExceptObject &object);

} // namespace kx
