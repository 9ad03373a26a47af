#pragma once
// The HTTP proxy of the system's internet settings.
#include <string>

namespace kx {

// The proxy list of InternetQueryOptionA(INTERNET_OPTION_PROXY) from wininet.dll (bound at run
// time) when the settings use a proxy; "" for none or when wininet.dll is missing.
std::string SystemHttpProxyList();

} // namespace kx
