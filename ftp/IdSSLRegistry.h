// The process-wide registry of TLS implementations. The library registers none; a TLS plug-in
// adds an entry naming itself and the factories of its client and server handlers, so that an
// application can pick an implementation by name without including the plug-in.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "ftp/IdExplicitTLSClientServerBase.h"

namespace ftpc {

using TIdSSLIOHandlerFactory = std::function<std::unique_ptr<TIdSSLIOHandlerSocketBase>()>;

struct TIdSSLRegEntry {
  std::string ProductName;
  TIdSSLIOHandlerFactory ClientHandler;
  TIdSSLIOHandlerFactory ServerHandler; // empty when the implementation has none
};

class TIdSSLRegistry {
public:
  // The one registry; safe to use from any thread.
  static TIdSSLRegistry& Instance();

  // Adds AEntry, replacing an entry of the same name (letter case ignored).
  void Register(TIdSSLRegEntry AEntry);
  void Unregister(const std::string& AProductName);
  // The entry of that name, if registered.
  std::optional<TIdSSLRegEntry> Find(const std::string& AProductName) const;
  size_t Count() const;

private:
  mutable std::mutex FLock;
  std::vector<TIdSSLRegEntry> FEntries;
};

} // namespace ftpc
