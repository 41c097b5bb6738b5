// One socket with its local binding, its peer, its IP version and an optional client port
// range: binds (searching the range), connects, accepts and waits for readability.
#pragma once

#include <atomic>
#include <memory>
#include <span>
#include <string>

#include "base/IdThreadSafe.h"
#include "global/IdGlobal.h"
#include "stack/IdStack.h"

namespace ftpc {

FTPC_DECLARE_EXCEPTION(EIdCouldNotBindSocket, EIdSocketHandleError);
FTPC_DECLARE_EXCEPTION(EIdInvalidPortRange, EIdSocketHandleError);
FTPC_DECLARE_EXCEPTION(EIdCanNotBindPortInRange, EIdSocketHandleError);
FTPC_DECLARE_EXCEPTION(EIdCannotSetIPVersionWhenConnected, EIdSocketHandleError);

// An object that can belong to a collection and copy settings from another object. No
// collection exists in this system; only the assignment contract is kept.
class TIdCollectionItem : public TObject {
public:
  // Copies what this class knows from ASource; this base accepts no source and raises
  // EIdException "Cannot assign a <source> to a <this>".
  virtual void Assign(const TObject& ASource);
  std::string ClassName() const override { return "TIdCollectionItem"; }
};

class TIdSocketHandle : public TIdCollectionItem {
public:
  TIdSocketHandle();
  TIdSocketHandle(const TIdSocketHandle&) = delete;
  TIdSocketHandle& operator=(const TIdSocketHandle&) = delete;
  // Closes the socket.
  ~TIdSocketHandle() override;

  // Closes any current socket and creates a new one of IPVersion.
  void AllocateSocket(int ASocketType = Id_SOCK_STREAM, int AProtocol = Id_IPPROTO_IP);
  // Shuts down and closes the socket; safe while another thread is inside Connect.
  virtual void CloseSocket();
  // Shuts the socket down without closing it, which wakes a thread blocked on it; does
  // nothing when no socket is allocated. Safe from another thread: the socket cannot be
  // closed, and its number handed to a new socket, while this runs.
  void Shutdown(int AHow);
  // Binds to IP/Port; with Port 0 and both range ends set, tries the range from the top.
  // Raises EIdCouldNotBindSocket, EIdInvalidPortRange or EIdCanNotBindPortInRange.
  void Bind();
  // Connects to PeerIP/PeerPort (blocking), then records both ends.
  void Connect();
  void Listen(int AQueueCount = 5);
  // Forgets the current socket (without closing it) and accepts a connection from the
  // listening ASocket; false when the accept failed.
  bool Accept(TIdStackSocketHandle ASocket);
  // Forgets the socket without closing it and clears the peer (and, with AResetLocal, the
  // local) binding.
  void Reset(bool AResetLocal = true);
  // Waits up to AMSec ms (IdTimeoutDefault: without limit) for data or a connection.
  // Raises EIdConnClosedGracefully when there is no socket.
  bool Readable(int32_t AMSec = IdTimeoutDefault);
  // One readiness wait, followed by idle processing.
  bool Select(int32_t ATimeout);

  int32_t Send(const TBytes& ABuffer, int32_t AOffset = 0, int32_t ASize = -1);
  int32_t Receive(TBytes& VBuffer);
  // Straight into and out of the caller's memory (TIdStack::Receive and Send on a span).
  int32_t Send(std::span<const uint8_t> ABuffer);
  int32_t Receive(std::span<uint8_t> VBuffer);
  void SendTo(const std::string& AIP, TIdPort APort, const TBytes& ABuffer,
              TIdIPVersion AIPVersion = Id_IPv4);
  void SendTo(const std::string& AIP, TIdPort APort, const TBytes& ABuffer, int32_t AOffset,
              int32_t ASize, TIdIPVersion AIPVersion = Id_IPv4);
  int32_t RecvFrom(TBytes& ABuffer, std::string& VIP, TIdPort& VPort,
                   TIdIPVersion AIPVersion = Id_IPv4);
  // Sends an IPv4 datagram with SO_BROADCAST set for the call; empty AIP is 255.255.255.255.
  void Broadcast(const std::string& AData, TIdPort APort, const std::string& AIP,
                 TEncoding* AEncoding);
  void Broadcast(const TBytes& AData, TIdPort APort, const std::string& AIP = "");

  void SetPeer(const std::string& AIP, TIdPort APort, TIdIPVersion AIPVersion = Id_IPv4);
  void SetBinding(const std::string& AIP, TIdPort APort, TIdIPVersion AIPVersion = Id_IPv4);
  void UpdateBindingLocal();
  void UpdateBindingPeer();
  void GetSockOpt(int ALevel, int AOptName, int32_t& VOptVal);
  void SetSockOpt(int ALevel, int AOptName, int32_t AOptVal);
  // Copies IP, Port, PeerIP, PeerPort and IPVersion from another handle.
  void Assign(const TObject& ASource) override;

  TIdPort ClientPortMin() const { return FClientPortMin; }
  void SetClientPortMin(TIdPort AValue) { FClientPortMin = AValue; }
  TIdPort ClientPortMax() const { return FClientPortMax; }
  void SetClientPortMax(TIdPort AValue) { FClientPortMax = AValue; }
  TIdStackSocketHandle Handle() const { return FHandle.load(); }
  bool HandleAllocated() const { return FHandleAllocated.load(); }
  const std::string& IP() const { return FIP; }
  void SetIP(const std::string& AValue) { FIP = AValue; }
  const std::string& PeerIP() const { return FPeerIP; }
  TIdPort Port() const { return FPort; }
  void SetPort(TIdPort AValue) { FPort = AValue; }
  TIdPort PeerPort() const { return FPeerPort; }
  bool OverLapped() const { return FOverLapped; }
  void SetOverLapped(bool AValue) { FOverLapped = AValue; }
  TIdIPVersion IPVersion() const { return FIPVersion; }
  // Raises EIdCannotSetIPVersionWhenConnected for a new value while a socket is allocated.
  void SetIPVersion(TIdIPVersion AValue);
  bool BroadcastEnabled() const { return FBroadcastEnabled; }
  // Applies SO_BROADCAST at once when a socket is allocated.
  void SetBroadcastEnabled(bool AValue);

  std::string ClassName() const override { return "TIdSocketHandle"; }

protected:
  // Stores a handle and keeps the read list in step; never closes anything.
  void SetHandle(TIdStackSocketHandle AHandle);
  // One bind to IP/Port; true when it worked (every failure is swallowed).
  bool AttemptBind();
  bool BindInPortRange();
  TIdStack& Stack() const { return FStackUser.Stack(); }

private:
  bool CheckIsReadable(int32_t AMSec);

  // Keeps the stack alive for as long as the handle may need it (declared first, so it is
  // released last).
  TIdStackUser FStackUser;
  TIdPort FClientPortMin = 0;
  TIdPort FClientPortMax = 0;
  // Read without the lock by a thread inside Connect while another closes the socket.
  std::atomic<TIdStackSocketHandle> FHandle{Id_INVALID_SOCKET};
  std::atomic<bool> FHandleAllocated{false};
  std::string FIP;
  std::string FPeerIP;
  TIdPort FPort = 0;
  TIdPort FPeerPort = 0;
  std::unique_ptr<TIdSocketList> FReadSocketList;
  bool FOverLapped = false;
  TIdIPVersion FIPVersion = Id_IPv4;
  // Orders closing the socket against the binding update at the end of a connect and against
  // a shutdown from another thread.
  TIdCriticalSection FConnectionHandle;
  bool FBroadcastEnabled = false;
};

} // namespace ftpc
