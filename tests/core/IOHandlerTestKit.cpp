#include "core/IOHandlerTestKit.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

#include "stack/IdStack.h"
#include "stack/IdStackConsts.h"

namespace ftpc::test {

namespace {

[[noreturn]] void Fail(const char* AWhat) {
  throw std::runtime_error(std::string(AWhat) + ": errno " + std::to_string(errno));
}

int WindowsSocketsCode(int AErrno) {
  switch (AErrno) {
  case ECONNRESET:
    return Id_WSAECONNRESET;
  case ECONNABORTED:
    return Id_WSAECONNABORTED;
  case EPIPE:
    return Id_WSAESHUTDOWN;
  default:
    return Id_WSAEINVAL;
  }
}

[[noreturn]] void RaiseCode(int ACode) {
  throw EIdSocketError(ACode, "injected or mapped failure");
}

// A blocking TCP pair on 127.0.0.1: [handler end, peer end].
std::pair<int, int> LoopbackPair() {
  const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listener < 0) {
    Fail("socket");
  }
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof(address);
  if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
      ::listen(listener, 1) != 0 ||
      ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    ::close(listener);
    Fail("listen");
  }
  const int client = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (client < 0 ||
      ::connect(client, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
    ::close(listener);
    Fail("connect");
  }
  const int server = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
  ::close(listener);
  if (server < 0) {
    ::close(client);
    Fail("accept");
  }
  return {client, server};
}

bool WaitReadable(int AFd, int ATimeoutMs) {
  pollfd entry{AFd, POLLIN, 0};
  return ::poll(&entry, 1, ATimeoutMs) > 0;
}

} // namespace

// ---- TRawPeer --------------------------------------------------------------------------------

TRawPeer::~TRawPeer() {
  if (FFd >= 0) {
    ::close(FFd);
  }
}

void TRawPeer::Send(std::string_view AData) {
  size_t sent = 0;
  while (sent < AData.size()) {
    const ssize_t n = ::send(FFd, AData.data() + sent, AData.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) {
      Fail("peer send");
    }
    sent += static_cast<size_t>(n);
  }
}

std::string TRawPeer::ReceiveAvailable(int ATimeoutMs) {
  std::string data;
  char block[4096];
  while (WaitReadable(FFd, ATimeoutMs)) {
    const ssize_t n = ::recv(FFd, block, sizeof(block), 0);
    if (n <= 0) {
      break;
    }
    data.append(block, static_cast<size_t>(n));
  }
  return data;
}

std::string TRawPeer::ReceiveExactly(size_t ACount, int ATimeoutMs) {
  std::string data;
  char block[65536];
  while (data.size() < ACount && WaitReadable(FFd, ATimeoutMs)) {
    const ssize_t n = ::recv(FFd, block, std::min(sizeof(block), ACount - data.size()), 0);
    if (n <= 0) {
      break;
    }
    data.append(block, static_cast<size_t>(n));
  }
  return data;
}

void TRawPeer::Close() {
  if (FFd >= 0) {
    ::close(FFd);
    FFd = -1;
  }
}

void TRawPeer::Reset() {
  if (FFd >= 0) {
    const linger option{1, 0};
    ::setsockopt(FFd, SOL_SOCKET, SO_LINGER, &option, sizeof(option));
    Close();
  }
}

// ---- TTestIOHandler
// -------------------------------------------------------------------------------

TTestIOHandler::TTestIOHandler(int AFd, TIdInitializerComponent* AOwner)
    : TIdIOHandler(AOwner), FFd(AFd) {}

TTestIOHandler::~TTestIOHandler() {
  CloseSocket();
}

const TIdIOHandlerClass& TTestIOHandler::Class() {
  static const TIdIOHandlerClass cls{"TTestIOHandler", &TIdIOHandler::Class(),
                                     [](TIdInitializerComponent* AOwner)
                                         -> std::unique_ptr<TIdIOHandler> {
                                       return std::make_unique<TTestIOHandler>(-1, AOwner);
                                     }};
  return cls;
}

bool TTestIOHandler::Readable(int32_t AMSec) {
  if (FailNextReceive != 0) {
    return true;
  }
  if (FFd < 0) {
    throw EIdConnClosedGracefully("Connection Closed Gracefully.");
  }
  pollfd entry{FFd, POLLIN, 0};
  const int ready = ::poll(&entry, 1, AMSec < 0 ? -1 : AMSec);
  if (ready < 0) {
    RaiseCode(WindowsSocketsCode(errno));
  }
  return ready > 0;
}

void TTestIOHandler::CloseSocket() {
  if (FFd >= 0) {
    ::close(FFd);
    FFd = -1;
  }
}

void TTestIOHandler::Close() {
  CloseSocket();
  TIdIOHandler::Close();
}

// Like a socket transport: a close the reader noticed also closes the socket.
void TTestIOHandler::CheckForDisconnect(bool ARaiseExceptionIfDisconnected, bool AIgnoreBuffer) {
  if (ClosedGracefully() && FFd >= 0) {
    CloseSocket();
    ReportStatus(hsDisconnected);
  }
  TIdIOHandler::CheckForDisconnect(ARaiseExceptionIfDisconnected, AIgnoreBuffer);
}

int32_t TTestIOHandler::ReceiveFromSource(std::span<uint8_t> VBuffer) {
  ++ReceiveCalls;
  if (FailNextReceive != 0) {
    const int code = FailNextReceive;
    FailNextReceive = 0;
    RaiseCode(code);
  }
  const ssize_t n = ::recv(FFd, VBuffer.data(), VBuffer.size(), 0);
  if (n < 0) {
    RaiseCode(WindowsSocketsCode(errno));
  }
  return static_cast<int32_t>(n);
}

int32_t TTestIOHandler::SendToTarget(std::span<const uint8_t> ABuffer) {
  if (FailNextSend != 0) {
    const int code = FailNextSend;
    FailNextSend = 0;
    RaiseCode(code);
  }
  const size_t count = MaxSendChunk > 0 ? std::min(MaxSendChunk, ABuffer.size()) : ABuffer.size();
  const ssize_t n = ::send(FFd, ABuffer.data(), count, MSG_NOSIGNAL);
  if (n < 0) {
    RaiseCode(WindowsSocketsCode(errno));
  }
  SendSizes.push_back(static_cast<size_t>(n));
  return static_cast<int32_t>(n);
}

// ---- Helpers ------------------------------------------------------------------------------------

TConnectedPair::TConnectedPair() {
  const auto [ours, theirs] = LoopbackPair();
  Handler = std::make_unique<TTestIOHandler>(ours);
  Peer = std::make_unique<TRawPeer>(theirs);
  Handler->Open();
}

void TWorkLog::Attach(TIdComponent& AComponent) {
  auto log = [this](TWorkMode AMode) -> std::vector<std::string>& {
    return AMode == wmRead ? Read : Write;
  };
  AComponent.SetOnWorkBegin([log](TObject*, TWorkMode AMode, int64_t AMax) {
    log(AMode).push_back("begin:" + std::to_string(AMax));
  });
  AComponent.SetOnWork([log](TObject*, TWorkMode AMode, int64_t ACount) {
    log(AMode).push_back(std::to_string(ACount));
  });
  AComponent.SetOnWorkEnd([log](TObject*, TWorkMode AMode) { log(AMode).push_back("end"); });
}

std::string BytesToString(const TBytes& ABytes) {
  return {ABytes.begin(), ABytes.end()};
}

} // namespace ftpc::test
