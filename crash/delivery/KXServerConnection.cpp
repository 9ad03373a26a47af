#include "crash/delivery/KXServerConnection.h"

namespace kx {

std::unique_ptr<IKXStreamSocket> ConnectToServer(IKXNetwork &network, const std::string &server, uint16_t port,
                                                 KXSendProgress &progress) {
  std::optional<KXIPv4> address = network.Resolve(server);
  if (!address)
    return nullptr;
  progress.AreaDone();
  auto stream = network.Connect(*address, port);
  if (!stream)
    return nullptr;
  progress.AreaDone();
  return stream;
}

} // namespace kx
