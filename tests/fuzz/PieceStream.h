#pragma once
// A stream that hands out a server's answer in the pieces a fuzz input chose, never more than the
// reader asks for at once, and then reports the connection closed.
#include <deque>
#include <string>

#include "crash/delivery/KXNetwork.h"

class PieceStream : public kx::IKXStreamSocket {
public:
  std::deque<std::string> pieces;
  bool Send(std::string_view) override { return true; }
  kx::KXReceiveStatus Receive(size_t maxBytes, uint32_t, std::string &data) override {
    if (pieces.empty())
      return kx::KXReceiveStatus::closed;
    std::string piece = pieces.front();
    pieces.pop_front();
    if (piece.size() > maxBytes) {
      pieces.push_front(piece.substr(maxBytes));
      piece.resize(maxBytes);
    }
    data += piece;
    return kx::KXReceiveStatus::data;
  }
};
