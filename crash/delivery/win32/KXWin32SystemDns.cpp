#include "crash/delivery/win32/KXWin32SystemDns.h"

#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>

#include "crash/delivery/KXMailExchanger.h"

namespace kx {

namespace {

using GetNetworkParamsFn = DWORD(WINAPI *)(PFIXED_INFO, PULONG);

GetNetworkParamsFn NetworkParamsFunction() {
  static GetNetworkParamsFn function = [] {
    HMODULE library = LoadLibraryA("iphlpapi.dll");
    return library ? reinterpret_cast<GetNetworkParamsFn>(
                         reinterpret_cast<void *>(GetProcAddress(library, "GetNetworkParams")))
                   : nullptr;
  }();
  return function;
}

// The value as a string; "" when the key or value is missing or not text.
std::string RegistryText(HKEY key, const char *name) {
  char value[1024];
  DWORD type = 0, size = sizeof value - 1;
  if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE *>(value), &size) != ERROR_SUCCESS ||
      (type != REG_SZ && type != REG_EXPAND_SZ))
    return {};
  value[size] = '\0';
  return value;
}

std::vector<std::string> RegistryDnsServers(const char *keyPath) {
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
    return {};
  std::string value = RegistryText(key, "DhcpNameServer");
  if (value.empty())
    value = RegistryText(key, "NameServer");
  RegCloseKey(key);
  return SplitNameServerList(value);
}

} // namespace

std::vector<std::string> NetworkParamsDnsServers() {
  GetNetworkParamsFn getNetworkParams = NetworkParamsFunction();
  if (!getNetworkParams)
    return {};
  // The list may grow between the size query and the read: a few tries.
  std::vector<unsigned char> buffer(sizeof(FIXED_INFO));
  for (int attempt = 0; attempt < 4; ++attempt) {
    ULONG size = ULONG(buffer.size());
    DWORD result = getNetworkParams(reinterpret_cast<PFIXED_INFO>(buffer.data()), &size);
    if (result == ERROR_BUFFER_OVERFLOW && size > buffer.size()) {
      buffer.assign(size, 0);
      continue;
    }
    if (result != ERROR_SUCCESS)
      return {};
    auto *info = reinterpret_cast<const FIXED_INFO *>(buffer.data());
    std::string current = info->CurrentDnsServer ? info->CurrentDnsServer->IpAddress.String : "";
    std::vector<std::string> list;
    int count = 0;
    for (const IP_ADDR_STRING *item = &info->DnsServerList; item && count < 64; item = item->Next, ++count)
      list.emplace_back(item->IpAddress.String);
    return OrderDnsServers(current, list);
  }
  return {};
}

std::vector<std::string> SystemDnsServers() {
  OSVERSIONINFOA version{};
  version.dwOSVersionInfoSize = sizeof version;
  if (GetVersionExA(&version)) {
    if (version.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS && version.dwMajorVersion == 4 &&
        version.dwMinorVersion == 0)
      return RegistryDnsServers("System\\CurrentControlSet\\Services\\VxD\\MSTCP");
    if (version.dwPlatformId == VER_PLATFORM_WIN32_NT && version.dwMajorVersion <= 4)
      return RegistryDnsServers("System\\CurrentControlSet\\Services\\Tcpip\\Parameters");
  }
  return NetworkParamsDnsServers();
}

} // namespace kx
