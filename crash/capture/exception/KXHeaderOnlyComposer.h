#pragma once
// A report composition that lists only what the exception object itself knows (time, class,
// message, address, thread) and is complete at once. The process uses it until the full bug
// report composition (stack traces, registers, module lists) is plugged into the host.
#include "crash/capture/exception/KXExceptionHost.h"

namespace kx {

class KXHeaderOnlyComposer : public IKXReportComposer {
public:
  void BuildLists(TIKXException &exception, bool startCompletion) override;
  void CompleteHere(TIKXException &exception) override;
  std::string Compose(TIKXException &exception) override;
};

} // namespace kx
