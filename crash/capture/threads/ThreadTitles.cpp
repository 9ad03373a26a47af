#include "crash/capture/threads/ThreadTitles.h"

#include <atomic>

namespace kx {

namespace {
std::atomic<int> gProcessTraces{0};
} // namespace

std::string ThreadIdHex(uint32_t threadId) {
  static const char digits[] = "0123456789abcdef";
  std::string hex;
  do {
    hex.insert(hex.begin(), digits[threadId & 15]);
    threadId >>= 4;
  } while (threadId != 0);
  return hex;
}

bool IsHiddenThreadName(const std::string &name) {
  return name == "-" || name == kAntiFreezeThreadName || name == kHandleExceptionThreadName ||
         name == kTraceProcessThreadName;
}

void BeginProcessTrace() { ++gProcessTraces; }

void EndProcessTrace() {
  int running = gProcessTraces.load();
  while (running > 0 && !gProcessTraces.compare_exchange_weak(running, running - 1)) {
  }
}

bool ProcessTraceRunning() { return gProcessTraces.load() > 0; }

std::string FormatThreadTitle(uint32_t threadId, const std::string &name, const std::string &className,
                              bool always) {
  if (!always && IsHiddenThreadName(name) && (name == "-" || !ProcessTraceRunning()))
    return {};
  if (!name.empty() && name != "-")
    return name + " ($" + ThreadIdHex(threadId) + ")";
  std::string title = PlainThreadTitle(threadId);
  if (!className.empty())
    title += " (" + className + ")";
  return title;
}

std::string PlainThreadTitle(uint32_t threadId) { return "thread $" + ThreadIdHex(threadId); }

} // namespace kx
