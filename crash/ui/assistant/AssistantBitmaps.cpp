#include "crash/ui/assistant/AssistantBitmaps.h"

#include <mutex>

namespace kx {

namespace {
std::mutex gBitmapsLock;
std::shared_ptr<IKXAssistantBitmaps> gBitmaps;
} // namespace

void SetAssistantBitmaps(std::shared_ptr<IKXAssistantBitmaps> bitmaps) {
  std::lock_guard g(gBitmapsLock);
  gBitmaps = std::move(bitmaps);
}

std::shared_ptr<IKXAssistantBitmaps> AssistantBitmaps() {
  std::lock_guard g(gBitmapsLock);
  return gBitmaps;
}

} // namespace kx
