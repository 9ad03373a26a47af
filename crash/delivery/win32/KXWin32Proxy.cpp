#include "crash/delivery/win32/KXWin32Proxy.h"

#include <windows.h>

#include <vector>

namespace kx {

namespace {

// INTERNET_PROXY_INFO as the A function fills it.
struct KXProxyInfoA {
  DWORD accessType;
  const char *proxy;
  const char *proxyBypass;
};

constexpr DWORD kInternetOptionProxy = 38;   // INTERNET_OPTION_PROXY
constexpr DWORD kInternetOpenTypeProxy = 3; // INTERNET_OPEN_TYPE_PROXY

using InternetQueryOptionAFn = BOOL(WINAPI *)(void *, DWORD, void *, DWORD *);

InternetQueryOptionAFn QueryOptionFunction() {
  static InternetQueryOptionAFn function = [] {
    HMODULE library = LoadLibraryA("wininet.dll");
    return library ? reinterpret_cast<InternetQueryOptionAFn>(
                         reinterpret_cast<void *>(GetProcAddress(library, "InternetQueryOptionA")))
                   : nullptr;
  }();
  return function;
}

} // namespace

std::string SystemHttpProxyList() {
  InternetQueryOptionAFn query = QueryOptionFunction();
  if (!query)
    return {};
  DWORD size = 0;
  query(nullptr, kInternetOptionProxy, nullptr, &size);
  if (size < sizeof(KXProxyInfoA) || size > (1u << 20))
    size = 4096;
  std::vector<unsigned char> buffer(size + 1, 0);
  if (!query(nullptr, kInternetOptionProxy, buffer.data(), &size))
    return {};
  auto *info = reinterpret_cast<const KXProxyInfoA *>(buffer.data());
  if (info->accessType != kInternetOpenTypeProxy || !info->proxy)
    return {};
  return info->proxy;
}

} // namespace kx
