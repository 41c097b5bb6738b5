// The life of an FTP session's data connection: its creation and set-up from the control
// connection, the lock that orders it against an abort from another thread, the "transfer
// running" state, and the wrap-up that ends every transfer on the control connection. The
// session (TIdFTP) decides which commands to send; this unit owns the connection itself.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>

#include "base/IdThreadSafe.h"
#include "core/IdTCPConnection.h"

namespace ftpc {

class TIdIOHandler;
class TIdSocketHandle;

// The final replies to a data command once its transfer is complete.
inline const TIdReplyCodes kFTPTransferFinal = {226, 225, 250};

using TIdOnDataChannelCreate =
    std::function<void(TObject* ASender, TIdTCPConnection& ADataChannel)>;
using TIdOnDataChannelDestroy =
    std::function<void(TObject* ASender, TIdTCPConnection& ADataChannel)>;

class TIdFTPDataConnection {
public:
  // AControl is the session's control connection: the sender of the events, the target of the
  // data connection's progress, the source of its handler settings and the connection the
  // wrap-up reads its replies from. It must outlive this object.
  explicit TIdFTPDataConnection(TIdTCPConnection& AControl);
  TIdFTPDataConnection(const TIdFTPDataConnection&) = delete;
  TIdFTPDataConnection& operator=(const TIdFTPDataConnection&) = delete;

  // ---- Settings ------------------------------------------------------------------------
  bool PassiveUseControlHost() const { return FPassiveUseControlHost; }
  void SetPassiveUseControlHost(bool AValue) { FPassiveUseControlHost = AValue; }
  uint16_t DataPort() const { return FDataPort; }
  void SetDataPort(uint16_t AValue) { FDataPort = AValue; }
  uint16_t DataPortMin() const { return FDataPortMin; }
  void SetDataPortMin(uint16_t AValue) { FDataPortMin = AValue; }
  uint16_t DataPortMax() const { return FDataPortMax; }
  void SetDataPortMax(uint16_t AValue) { FDataPortMax = AValue; }
  int32_t TransferTimeout() const { return FTransferTimeout; }
  void SetTransferTimeout(int32_t AValue) { FTransferTimeout = AValue; }
  int32_t ListenTimeout() const { return FListenTimeout; }
  void SetListenTimeout(int32_t AValue) { FListenTimeout = AValue; }
  void SetOnDataChannelCreate(TIdOnDataChannelCreate AValue) {
    FOnDataChannelCreate = std::move(AValue);
  }
  void SetOnDataChannelDestroy(TIdOnDataChannelDestroy AValue) {
    FOnDataChannelDestroy = std::move(AValue);
  }

  // ---- Creation ------------------------------------------------------------------------
  // Creates a client to AHost:APort (the control connection's peer instead with
  // PassiveUseControlHost), fires OnDataChannelCreate and connects it. With AProtect the
  // handler is a clone of the control connection's TLS handler, still in pass-through.
  void OpenPassive(std::string AHost, uint16_t APort, bool AProtect);
  // Creates the active-mode listener on the control connection's local address and the
  // DataPort settings, fires OnDataChannelCreate and starts listening; returns the binding to
  // announce with PORT or EPRT.
  const TIdSocketHandle& OpenActive(bool AProtect);
  // Waits ListenTimeout for the server's connection on the active-mode listener; nothing in
  // passive mode. Raises EIdAcceptTimeout.
  void AcceptActive();
  // Switches a protected data connection's handler out of pass-through (the TLS handshake).
  void StartTLS();
  // The data connection while a transfer runs, else null.
  TIdTCPConnection* Channel() const { return FDataChannel.get(); }
  // The running data connection's handler; only while Channel() is set.
  TIdIOHandler& IOHandler() const;
  // Closes the data connection; a failure of the closing is swallowed (the final reply tells
  // whether the server has the bytes).
  void CloseQuietly();

  // ---- One transfer and its abort --------------------------------------------------------
  // Marks a transfer as running for Abort on another thread, for as long as it lives, and
  // clears an earlier abort request.
  class TTransferRun {
  public:
    explicit TTransferRun(TIdFTPDataConnection& AData);
    ~TTransferRun();
    TTransferRun(const TTransferRun&) = delete;
    TTransferRun& operator=(const TTransferRun&) = delete;

  private:
    TIdFTPDataConnection& FData;
  };
  // Writes ABOR on the control connection; set once by the session.
  void SetAbortWriter(std::function<void()> AValue) { FWriteAbor = std::move(AValue); }
  // The abort's share that must hold the lock. Once the data command is out and the data
  // connection exists: sets the abort flag, writes ABOR and shuts the data connection down,
  // even when the write raises. Earlier, while the transfer's thread is still setting up on the
  // control connection, the request is kept for that thread to honour (an ABOR written then
  // could land between REST and RETR). Returns true when a transfer runs (then nothing more may
  // be done on the control connection from this thread), false when none does.
  bool AbortTransfer();
  // Before the data command (and before a REST that goes with it): when an abort was requested
  // during the set-up, ends the transfer as aborted (the event and status part of the wrap-up)
  // and returns true; the data command must then not be sent.
  bool EndIfAbortRequested();
  // Writes the data command with AWriteCommand, ordered against an abort on another thread;
  // an abort requested during the set-up is honoured right behind it when the data connection
  // exists, else by HonourAbortRequest once it does.
  void SendDataCommand(const std::function<void()>& AWriteCommand);
  void HonourAbortRequest();
  // Shuts the data connection, if any, down without notifying the peer; the transfer's
  // wrap-up closes and frees it. Safe from another thread.
  void Kill();
  bool AbortRequested() const { return FAbortFlag.Value(); }

  // ---- Wrap-up -------------------------------------------------------------------------
  // Fires OnDataChannelDestroy and frees the data connection, then reads the final reply
  // (226, 225 or 250) or, after an abort, the abort replies. A last reply of 300 or more (the
  // data command refused) reads nothing more but the reply to an ABOR already written.
  // Raises the reply error.
  void Finish();
  // Ends a failed transfer and raises AFailure. Before the data command went out only the
  // event and status part of the wrap-up runs. Otherwise the wrap-up runs; its own failure is
  // swallowed. When an abort was requested and AFailure is the library's own connection
  // failure, the failure is the abort's doing: the wrap-up's result is the transfer's and
  // AFailure is dropped. A local stream or disk error always passes on.
  void FinishAfterFailure(std::exception_ptr AFailure);
  // Reads the replies to ABOR after an aborted transfer (RFC 959 4.1.3) on AControl.
  static void ReadAbortReplies(TIdTCPConnection& AControl);

private:
  TIdTCPConnection& FControl;
  TIdOnDataChannelCreate FOnDataChannelCreate;
  TIdOnDataChannelDestroy FOnDataChannelDestroy;
  bool FPassiveUseControlHost = false;
  uint16_t FDataPort = 0;
  uint16_t FDataPortMin = 0;
  uint16_t FDataPortMax = 0;
  int32_t FTransferTimeout = 0;
  int32_t FListenTimeout = 10000;
  // A TIdTCPClient (passive) or a TIdSimpleServer (active) while a transfer runs.
  std::unique_ptr<TIdTCPConnection> FDataChannel;
  // Orders the data connection's creation and release against Abort on another thread.
  TIdCriticalSection FDataChannelLock;
  // A transfer runs, from its first command to its last reply; guarded by FDataChannelLock.
  bool FTransferRunning = false;
  // The data command is out; guarded by FDataChannelLock.
  bool FCommandSent = false;
  // An abort came while the transfer's thread was setting up; guarded by FDataChannelLock.
  bool FAbortRequest = false;
  // Set once ABOR is written for the running transfer; read by the transfer's wrap-up.
  TIdThreadSafeBoolean FAbortFlag;
  std::function<void()> FWriteAbor;

  // A new handler for the data connection: a TLS clone with AProtect, else the default class.
  std::unique_ptr<TIdIOHandler> MakeHandler(bool AProtect) const;
  // Gives a new data connection its handler and the control connection's settings.
  void InitChannel(TIdTCPConnection& AChannel, bool AProtect) const;
  // Stores (or, with null, releases) the data connection under the lock.
  void SetChannel(std::unique_ptr<TIdTCPConnection> AChannel);
  // Kill's work; the caller holds the lock.
  void ShutDown();
  // Sets the abort flag, writes ABOR and shuts the data connection down; the caller holds the
  // lock. Raises the write's failure after the shut-down.
  void AbortLocked();
  // Fires OnDataChannelDestroy and frees the data connection, if there is one.
  void Release();
  // The wrap-up's event and status part for a transfer that never got its data command.
  void EndUnsent();
  void NotifyCreate(TIdTCPConnection& AChannel);
};

} // namespace ftpc
