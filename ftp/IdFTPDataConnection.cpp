#include "ftp/IdFTPDataConnection.h"

#include <algorithm>

#include "base/IdResourceStrings.h"
#include "core/IdIOHandlerSocket.h"
#include "core/IdTCPClient.h"
#include "ftp/IdExplicitTLSClientServerBase.h"
#include "global/IdStream.h"
#include "server/IdSimpleServer.h"
#include "stack/IdSocketHandle.h"

namespace ftpc {

namespace {

// The smallest piece a download receives at a time. Pieces of 256 KiB halve the CPU time of a
// download to a file against 32 KiB ones (the page cache takes large writes in large folios)
// and still fit the processor's cache; larger ones got slower again.
constexpr int32_t kMinDataRecvBufferSize = 256 * 1024;

// What a server may answer after ABOR: first the end of the transfer, then the ABOR itself.
const TIdReplyCodes kAbortFirst = {225, 226, 250, 426, 450, 451, 425, 550, 552};
const TIdReplyCodes kAbortSecond = {226, 225};
const TIdReplyCodes kAbortThird = {226, 426, 450, 451, 425, 550};
constexpr int16_t kFirstRefusalCode = 300;
constexpr int16_t kCodeTransferComplete = 226;
// After a 226 to ABOR, how long a further reply may take to be counted as part of the abort.
constexpr int32_t kLateAbortReplyMs = 10;

bool IsOneOf(int16_t ACode, const TIdReplyCodes& ACodes) {
  return std::find(ACodes.begin(), ACodes.end(), ACode) != ACodes.end();
}

// Whether AFailure is what an abort does to a transfer: the data connection shut down under
// it, seen as one of the library's own connection failures. A local stream or disk error, or
// anything from outside the library, is the transfer's own failure whatever else happened.
bool IsAbortsDoing(const std::exception_ptr& AFailure) {
  try {
    std::rethrow_exception(AFailure);
  } catch (const EIdStreamError&) {
    return false;
  } catch (const EIdException&) {
    return true;
  } catch (...) {
    return false;
  }
}

} // namespace

TIdFTPDataConnection::TIdFTPDataConnection(TIdTCPConnection& AControl) : FControl(AControl) {}

// ---- Creation ------------------------------------------------------------------------------

std::unique_ptr<TIdIOHandler> TIdFTPDataConnection::MakeHandler(bool AProtect) const {
  auto* controlTLS = dynamic_cast<TIdSSLIOHandlerSocketBase*>(FControl.IOHandler());
  if (AProtect && controlTLS != nullptr) {
    std::unique_ptr<TIdSSLIOHandlerSocketBase> clone = controlTLS->Clone();
    clone->SetPassThrough(true);
    return clone;
  }
  return TIdIOHandler::MakeDefaultIOHandler();
}

void TIdFTPDataConnection::InitChannel(TIdTCPConnection& AChannel, bool AProtect) const {
  AChannel.SetIOHandler(MakeHandler(AProtect));
  TIdIOHandler& data = *AChannel.IOHandler();
  TIdIOHandler* control = FControl.IOHandler();
  auto* client = dynamic_cast<TIdTCPClientCustom*>(&AChannel);
  if (client != nullptr && control != nullptr) {
    // The client pushes its own settings into the handler when it connects.
    client->SetConnectTimeout(control->ConnectTimeout());
  }
  if (AChannel.Socket() != nullptr && FControl.Socket() != nullptr) {
    // Only an enabled proxy matters to the data connection; asking for the proxy would create
    // a disabled one on the control connection.
    AChannel.Socket()->SetTransparentProxy(FControl.Socket()->EnabledTransparentProxy());
    AChannel.Socket()->SetIPVersion(FControl.Socket()->IPVersion());
    if (client != nullptr) {
      client->SetIPVersion(FControl.Socket()->IPVersion());
    }
  }
  data.SetReadTimeout(FTransferTimeout);
  if (client != nullptr) {
    client->SetReadTimeout(FTransferTimeout);
  }
  if (control != nullptr) {
    data.SetSendBufferSize(control->SendBufferSize());
  }
  data.SetRecvBufferSize(
      std::max(control != nullptr ? control->RecvBufferSize() : 0, kMinDataRecvBufferSize));
  data.SetLargeStream(true);
  AChannel.SetWorkTarget(&FControl);
}

// A new connection is stored only once its I/O handler is set up: from then on Abort may look
// at it from another thread. The old connection is destroyed outside the lock, so that its
// events cannot deadlock with an Abort on another thread.
void TIdFTPDataConnection::SetChannel(std::unique_ptr<TIdTCPConnection> AChannel) {
  {
    const std::lock_guard guard(FDataChannelLock);
    FDataChannel.swap(AChannel);
  }
  AChannel.reset();
}

void TIdFTPDataConnection::NotifyCreate(TIdTCPConnection& AChannel) {
  if (FOnDataChannelCreate) {
    FOnDataChannelCreate(&FControl, AChannel);
  }
}

void TIdFTPDataConnection::OpenPassive(std::string AHost, uint16_t APort, bool AProtect) {
  auto client = std::make_unique<TIdTCPClient>();
  TIdTCPClient& channel = *client;
  InitChannel(channel, AProtect);
  SetChannel(std::move(client));
  TIdIOHandlerSocket* controlSocket = FControl.Socket();
  if (FPassiveUseControlHost && controlSocket != nullptr && controlSocket->Binding() != nullptr) {
    // Behind a proxy the control socket's peer is the proxy; the server is the handler's host.
    AHost = controlSocket->EnabledTransparentProxy() != nullptr ? controlSocket->Host()
                                                                : controlSocket->Binding()->PeerIP();
  }
  channel.SetHost(AHost);
  channel.SetPort(APort);
  NotifyCreate(channel);
  channel.Connect();
}

const TIdSocketHandle& TIdFTPDataConnection::OpenActive(bool AProtect) {
  auto server = std::make_unique<TIdSimpleServer>();
  TIdSimpleServer& listener = *server;
  InitChannel(listener, AProtect);
  SetChannel(std::move(server));
  if (TIdIOHandlerSocket* controlSocket = FControl.Socket()) {
    listener.SetIPVersion(controlSocket->IPVersion());
    if (controlSocket->Binding() != nullptr) {
      listener.SetBoundIP(controlSocket->Binding()->IP());
    }
  }
  listener.SetBoundPort(FDataPort);
  listener.SetBoundPortMin(FDataPortMin);
  listener.SetBoundPortMax(FDataPortMax);
  NotifyCreate(listener);
  listener.BeginListen();
  return *listener.Binding();
}

void TIdFTPDataConnection::AcceptActive() {
  if (auto* listener = dynamic_cast<TIdSimpleServer*>(FDataChannel.get())) {
    listener->Listen(FListenTimeout);
  }
}

void TIdFTPDataConnection::StartTLS() {
  if (!FDataChannel) {
    return;
  }
  if (auto* tls = dynamic_cast<TIdSSLIOHandlerSocketBase*>(FDataChannel->IOHandler())) {
    tls->SetPassThrough(false);
  }
}

TIdIOHandler& TIdFTPDataConnection::IOHandler() const { return *FDataChannel->IOHandler(); }

void TIdFTPDataConnection::CloseQuietly() {
  try {
    FDataChannel->Disconnect(false);
  } catch (const EIdException&) {
    // The bytes are out; the final reply tells whether the server has them.
  }
}

// ---- One transfer and its abort --------------------------------------------------------------

TIdFTPDataConnection::TTransferRun::TTransferRun(TIdFTPDataConnection& AData) : FData(AData) {
  const std::lock_guard guard(FData.FDataChannelLock);
  FData.FTransferRunning = true;
  FData.FCommandSent = false;
  FData.FAbortRequest = false;
  FData.FAbortFlag.SetValue(false);
}

TIdFTPDataConnection::TTransferRun::~TTransferRun() {
  const std::lock_guard guard(FData.FDataChannelLock);
  FData.FTransferRunning = false;
  FData.FAbortRequest = false;
}

// The flag is set before ABOR goes out: a server may drop the data connection as soon as it
// reads ABOR, and the transferring thread must take that failure as the abort, not as an error.
// The lock keeps the data connection alive until it is shut down. Before the data command is
// out or the data connection exists, the transfer's thread is sending commands or reading
// replies on the control connection: writing here would interleave with that thread, so the
// request waits for it (EndIfAbortRequested, SendDataCommand, HonourAbortRequest). After the
// data connection is released the transfer is over but for its final reply.
bool TIdFTPDataConnection::AbortTransfer() {
  const std::lock_guard guard(FDataChannelLock);
  if (!FTransferRunning) {
    return false;
  }
  // One ABOR per transfer: a second one would leave its reply unread for the next command.
  if (FAbortFlag.Value()) {
    return true;
  }
  if (!FCommandSent || FDataChannel == nullptr) {
    FAbortRequest = true;
    return true;
  }
  AbortLocked();
  return true;
}

void TIdFTPDataConnection::AbortLocked() {
  FAbortRequest = false;
  FAbortFlag.SetValue(true);
  std::exception_ptr writeFailure;
  try {
    if (FWriteAbor) {
      FWriteAbor();
    }
  } catch (...) {
    // Without a control connection the transfer must still end.
    writeFailure = std::current_exception();
  }
  ShutDown();
  if (writeFailure) {
    std::rethrow_exception(writeFailure);
  }
}

bool TIdFTPDataConnection::EndIfAbortRequested() {
  {
    const std::lock_guard guard(FDataChannelLock);
    if (!FAbortRequest || FCommandSent) {
      return false;
    }
  }
  EndUnsent();
  return true;
}

void TIdFTPDataConnection::SendDataCommand(const std::function<void()>& AWriteCommand) {
  const std::lock_guard guard(FDataChannelLock);
  AWriteCommand();
  FCommandSent = true;
  if (FAbortRequest && FDataChannel != nullptr) {
    AbortLocked();
  }
}

void TIdFTPDataConnection::HonourAbortRequest() {
  const std::lock_guard guard(FDataChannelLock);
  if (FAbortRequest && FCommandSent && FDataChannel != nullptr) {
    AbortLocked();
  }
}

// Safe from another thread while a transfer runs: the socket is only shut down, which wakes
// the transferring thread; that thread closes and frees the connection in its wrap-up.
void TIdFTPDataConnection::Kill() {
  const std::lock_guard guard(FDataChannelLock);
  ShutDown();
}

void TIdFTPDataConnection::ShutDown() {
  if (!FDataChannel) {
    return;
  }
  if (auto* listener = dynamic_cast<TIdSimpleServer*>(FDataChannel.get())) {
    listener->Abort();
  }
  // The transferring thread may close the socket at any moment; the handle's own shutdown
  // keeps a closed socket's number, perhaps already reused, from being shut down.
  TIdIOHandlerSocket* socket = FDataChannel->Socket();
  if (socket != nullptr && socket->Binding() != nullptr) {
    socket->Binding()->Shutdown(Id_SD_Both);
  }
}

// ---- Wrap-up -------------------------------------------------------------------------------

void TIdFTPDataConnection::Release() {
  if (FDataChannel) {
    if (FOnDataChannelDestroy) {
      FOnDataChannelDestroy(&FControl, *FDataChannel);
    }
    SetChannel(nullptr);
  }
}

void TIdFTPDataConnection::EndUnsent() {
  try {
    Release();
  } catch (...) {
    SetChannel(nullptr); // the event's own failure must not hide why the transfer ended
  }
  FControl.ReportStatus(ftpAborted, {RSFTPStatusAbortTransfer});
}

void TIdFTPDataConnection::Finish() {
  Release();
  if (FControl.LastCmdResult().NumericCode() >= kFirstRefusalCode) {
    FControl.ReportStatus(ftpAborted, {RSFTPStatusAbortTransfer});
    if (FAbortFlag.Value()) {
      FControl.GetResponse(TIdReplyCodes()); // the ABOR's own reply, whatever it says
    }
    return;
  }
  FControl.ReportStatus(ftpReady, {RSFTPStatusDoneTransfer});
  if (FAbortFlag.Value()) {
    ReadAbortReplies(FControl);
    FControl.ReportStatus(ftpAborted, {RSFTPStatusAbortTransfer});
  } else {
    FControl.GetResponse(kFTPTransferFinal);
  }
}

void TIdFTPDataConnection::FinishAfterFailure(std::exception_ptr AFailure) {
  bool commandSent = false;
  {
    const std::lock_guard guard(FDataChannelLock);
    commandSent = FCommandSent;
  }
  if (!commandSent) {
    // No transfer reply can come: the failure was in setting up the data connection. Before
    // the data connection existed there is nothing to wrap up.
    if (FDataChannel) {
      EndUnsent();
    }
    std::rethrow_exception(AFailure);
  }
  if (FAbortFlag.Value() && FDataChannel && IsAbortsDoing(AFailure)) {
    Finish();
    return;
  }
  try {
    Finish();
  } catch (const std::exception&) {
    // The failure that ended the transfer is the one the caller must see.
  }
  std::rethrow_exception(AFailure);
}

// A server answers ABOR with 426 for the broken transfer and then 226; one that had finished
// answers 226 (transfer) and then 226 or 225 (ABOR); a third reply already there after two
// 226 replies belongs to the abort too.
void TIdFTPDataConnection::ReadAbortReplies(TIdTCPConnection& AControl) {
  const int16_t first = AControl.GetResponse(kAbortFirst);
  if (!IsOneOf(first, kAbortThird)) {
    return;
  }
  AControl.GetResponse(kAbortSecond);
  TIdIOHandler& control = *AControl.IOHandler();
  if (first == kCodeTransferComplete &&
      (!control.InputBufferIsEmpty() || control.CheckForDataOnSource(kLateAbortReplyMs))) {
    AControl.GetResponse(kAbortThird);
  }
}

} // namespace ftpc
