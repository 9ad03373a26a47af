#pragma once
// The one entry of every catching point: completes what was caught, hands it to the
// exception-handling thread and waits until it has been handled.
#include <string>

#include "crash/capture/exception/KXCaughtException.h"
#include "crash/capture/exception/KXException.h"

namespace kx {

// Returns when the exception has been handled or ignored; swallows anything raised inside.
// What the catching point knows goes in as the one record of the caught exception; what it
// leaves empty (object, address, registers, stack and frame pointer, thread) is completed here.
void CatchException(const KXCaughtException &args);

// Completes a missing object or address from the thread's current exception and takes the
// registers recorded for that very exception.
void CompleteCaughtParameters(KXExceptObject &object, std::uintptr_t &address, KXRegisterContext &context,
                              bool &hasContext);

// Whether a pointer designates a live C++ object of a known class: its type information lies in a
// loaded image and the object's memory can be read.
bool IsValidExceptObject(const KXExceptObject &object);

} // namespace kx
