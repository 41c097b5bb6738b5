// A client of the library connected to a raw loopback peer, for tests that exercise one end
// of a live connection.
#pragma once

#include "LoopbackPeer.h"
#include "core/IdIOHandler.h"
#include "core/IdTCPClient.h"

namespace ftpc::test {

template <typename TClient = TIdTCPClient>
struct TConnectedPair {
  TLoopbackListener Listener;
  TClient Client;
  TPeerConnection Peer;

  TConnectedPair() {
    Client.SetReadTimeout(20000); // a missing reply or stuck transfer fails instead of hanging
    Client.Connect("127.0.0.1", Listener.Port());
    Peer = Listener.Accept();
  }
  TIdIOHandler& Handler() { return *Client.IOHandler(); }
};

} // namespace ftpc::test
