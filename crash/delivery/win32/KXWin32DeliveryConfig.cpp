#include "crash/delivery/win32/KXWin32DeliveryConfig.h"

#include <mutex>

namespace kx {

namespace {

std::mutex &ConfigLock() {
  static std::mutex lock;
  return lock;
}

KXWin32DeliveryConfig &CurrentConfig() {
  static KXWin32DeliveryConfig config;
  return config;
}

} // namespace

KXWin32DeliveryConfig DeliveryConfig() {
  std::lock_guard<std::mutex> guard(ConfigLock());
  return CurrentConfig();
}

void SetDeliveryConfig(KXWin32DeliveryConfig config) {
  std::lock_guard<std::mutex> guard(ConfigLock());
  CurrentConfig() = std::move(config);
}

} // namespace kx
