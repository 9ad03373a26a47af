#pragma once
// The connection step that the upload and the mail share.
#include <cstdint>
#include <memory>
#include <string>

#include "crash/delivery/KXNetwork.h"
#include "crash/delivery/KXSendProgress.h"

namespace kx {

// Resolves the server's name (a dotted address, else a host lookup), marks an area done, connects
// (no time-out of its own) and marks an area done. Null on failure.
std::unique_ptr<IKXStreamSocket> ConnectToServer(IKXNetwork &network, const std::string &server, uint16_t port,
                                                 KXSendProgress &progress);

} // namespace kx
