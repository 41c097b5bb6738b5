#include "tls/IdOpenSSLTLSHandler.h"

#include <atomic>
#include <cerrno>
#include <functional>
#include <charconv>
#include <chrono>
#include <mutex>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include "ftp/IdSSLRegistry.h"
#include "stack/IdSocketHandle.h"

namespace ftpc {

namespace {

// How long a handshake or the wait for the peer's close_notify may take when the handler has
// no read time-out of its own.
constexpr int32_t kDefaultTLSWaitMs = 30000;
constexpr size_t kSHA256HexDigits = 64;
// Room for what arrives while waiting for the peer's close_notify (discarded).
constexpr size_t kDrainChunk = 512;
// How long a data connection waits at its end for the session ticket the server is known to
// send on every connection (it comes right after the handshake).
constexpr int32_t kTicketWaitMs = 1000;
// Sessions kept for data connections to resume.
constexpr size_t kMaxKeptSessions = 8;

std::string OpenSSLErrorText() {
  std::string text;
  while (const unsigned long code = ERR_get_error()) {
    char line[256];
    ERR_error_string_n(code, line, sizeof line);
    text += text.empty() ? line : std::string("; ") + line;
  }
  return text.empty() ? "no further details" : text;
}

// ---- A socket BIO that never raises SIGPIPE -------------------------------------------------

int SocketOf(BIO* ABio) {
  return static_cast<int>(reinterpret_cast<intptr_t>(BIO_get_data(ABio)));
}

void NoteRetry(BIO* ABio, bool AWrite) {
  if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
    AWrite ? BIO_set_retry_write(ABio) : BIO_set_retry_read(ABio);
  }
}

int BioWrite(BIO* ABio, const char* AData, int ALength) {
  BIO_clear_retry_flags(ABio);
  const ssize_t sent = ::send(SocketOf(ABio), AData, static_cast<size_t>(ALength), MSG_NOSIGNAL);
  if (sent < 0) {
    NoteRetry(ABio, true);
  }
  return static_cast<int>(sent);
}

int BioRead(BIO* ABio, char* AData, int ALength) {
  BIO_clear_retry_flags(ABio);
  const ssize_t got = ::recv(SocketOf(ABio), AData, static_cast<size_t>(ALength), 0);
  if (got < 0) {
    NoteRetry(ABio, false);
  }
  return static_cast<int>(got);
}

long BioCtrl(BIO*, int ACommand, long, void*) { return ACommand == BIO_CTRL_FLUSH ? 1 : 0; }

int BioCreate(BIO* ABio) {
  BIO_set_init(ABio, 1);
  return 1;
}

const BIO_METHOD* SocketBioMethod() {
  static BIO_METHOD* const kMethod = [] {
    BIO_METHOD* method = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "ftpc socket");
    BIO_meth_set_write(method, BioWrite);
    BIO_meth_set_read(method, BioRead);
    BIO_meth_set_ctrl(method, BioCtrl);
    BIO_meth_set_create(method, BioCreate);
    return method;
  }();
  return kMethod;
}

// ---- Bounded waits on a socket ---------------------------------------------------------------

// The socket in non-blocking mode for the scope's life, so that every wait has a bound.
class TNonBlockingScope {
public:
  explicit TNonBlockingScope(int ASocket) : FSocket(ASocket), FFlags(fcntl(ASocket, F_GETFL)) {
    if (FFlags >= 0) {
      fcntl(FSocket, F_SETFL, FFlags | O_NONBLOCK);
    }
  }
  ~TNonBlockingScope() {
    if (FFlags >= 0) {
      fcntl(FSocket, F_SETFL, FFlags);
    }
  }
  TNonBlockingScope(const TNonBlockingScope&) = delete;
  TNonBlockingScope& operator=(const TNonBlockingScope&) = delete;

private:
  int FSocket;
  int FFlags;
};

using TClock = std::chrono::steady_clock;

int32_t MsUntil(TClock::time_point ADeadline) {
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(ADeadline - TClock::now()).count();
  return left > 0 ? static_cast<int32_t>(left) : 0;
}

// Waits for what OpenSSL asked for (SSL_ERROR_WANT_READ / _WRITE) until ADeadline; false when
// the time is up or the error is anything else.
bool AwaitSocket(int ASocket, int ASSLError, TClock::time_point ADeadline) {
  if (ASSLError != SSL_ERROR_WANT_READ && ASSLError != SSL_ERROR_WANT_WRITE) {
    return false;
  }
  pollfd entry{ASocket, static_cast<short>(ASSLError == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT), 0};
  int rc = 0;
  do {
    rc = ::poll(&entry, 1, MsUntil(ADeadline));
  } while (rc < 0 && errno == EINTR);
  return rc > 0;
}

bool IsIPAddress(const std::string& AName) {
  unsigned char address[sizeof(in6_addr)];
  return inet_pton(AF_INET, AName.c_str(), address) == 1 ||
         inet_pton(AF_INET6, AName.c_str(), address) == 1;
}

// Start-up: applications may pick this implementation by name from the TLS registry.
[[maybe_unused]] const bool GOpenSSLRegistered = [] {
  TIdSSLRegistry::Instance().Register(
      {kOpenSSLProductName, [] { return std::make_unique<TIdOpenSSLTLSHandler>(); }, {}});
  return true;
}();

} // namespace

std::optional<TIdSHA256Digest> ParseSHA256Fingerprint(std::string_view AText) {
  std::string hex;
  for (const char c : AText) {
    if (c != ':') {
      hex += c;
    }
  }
  if (hex.size() != kSHA256HexDigits) {
    return std::nullopt;
  }
  TIdSHA256Digest digest{};
  for (size_t i = 0; i < digest.size(); ++i) {
    const char* first = hex.data() + 2 * i;
    const auto [end, error] = std::from_chars(first, first + 2, digest[i], 16);
    if (error != std::errc() || end != first + 2) {
      return std::nullopt;
    }
  }
  return digest;
}

// ---- What a control handler shares with its clones --------------------------------------------

struct TIdOpenSSLTLSHandler::TShared {
  explicit TShared(TSettings ASettings) : Settings(std::move(ASettings)) {}
  const TSettings Settings;

  std::mutex Lock;  // guards Context's creation and the sessions
  SSL_CTX* Context = nullptr;
  // Sessions not offered yet, newest last: TLS 1.3 servers may accept each ticket once only,
  // so every data connection takes a fresh one (its own handshake brings the next ones).
  std::vector<SSL_SESSION*> Fresh;
  // The session offered last; offered again when no fresh one is left (TLS 1.2 session IDs
  // serve any number of connections).
  SSL_SESSION* LastOffered = nullptr;
  // A data connection has received a session of its own: the server issues one per connection.
  std::atomic<bool> TicketsPerConnection{false};

  TShared(const TShared&) = delete;
  TShared& operator=(const TShared&) = delete;
  ~TShared() {
    for (SSL_SESSION* session : Fresh) {
      SSL_SESSION_free(session);
    }
    SSL_SESSION_free(LastOffered);
    SSL_CTX_free(Context);
  }

  SSL_CTX* EnsureContext();
  void KeepSession(SSL_SESSION* ASession) {
    const std::lock_guard guard(Lock);
    if (Fresh.size() == kMaxKeptSessions) {
      SSL_SESSION_free(Fresh.front());
      Fresh.erase(Fresh.begin());
    }
    Fresh.push_back(ASession);
  }
  // Offers a session of the control connection's family to ASSL, when there is one.
  void OfferSession(SSL* ASSL) {
    const std::lock_guard guard(Lock);
    if (!Fresh.empty()) {
      SSL_SESSION_free(LastOffered);
      LastOffered = Fresh.back();
      Fresh.pop_back();
    }
    if (LastOffered != nullptr) {
      SSL_set_session(ASSL, LastOffered);
    }
  }
};

SSL_CTX* TIdOpenSSLTLSHandler::TShared::EnsureContext() {
  const std::lock_guard guard(Lock);
  if (Context != nullptr) {
    return Context;
  }
  SSL_CTX* context = SSL_CTX_new(TLS_client_method());
  if (context == nullptr) {
    throw EIdOpenSSLError("TLS context could not be created: " + OpenSSLErrorText());
  }
  SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
  SSL_CTX_set_max_proto_version(context, Settings.MaxVersion == tmv12 ? TLS1_2_VERSION : 0);
  const TIdTLSPeerCheck check = Settings.Check;
  const bool chainChecked = check == pcSystemTrust || check == pcCAFile;
  SSL_CTX_set_verify(context, chainChecked ? SSL_VERIFY_PEER : SSL_VERIFY_NONE, nullptr);
  const bool trustLoaded = check == pcCAFile
                               ? SSL_CTX_load_verify_locations(context, Settings.CAFile.c_str(), nullptr) == 1
                               : check != pcSystemTrust || SSL_CTX_set_default_verify_paths(context) == 1;
  if (!trustLoaded) {
    const std::string reason = OpenSSLErrorText();
    SSL_CTX_free(context);
    throw EIdOpenSSLError("trusted certificates could not be loaded from \"" + Settings.CAFile + "\": " + reason);
  }
  // Sessions go to the new-session callback only: the control handler keeps its latest one.
  SSL_CTX_set_session_cache_mode(context, SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
  SSL_CTX_sess_set_new_cb(context, &TIdOpenSSLTLSHandler::OnNewSession);
  Context = context;
  return Context;
}

// ---- The handler ----------------------------------------------------------------------------

TIdOpenSSLTLSHandler::TIdOpenSSLTLSHandler(TIdInitializerComponent* AOwner)
    : TIdSSLIOHandlerSocketBase(AOwner), FShared(std::make_shared<TShared>(TSettings{})) {}

TIdOpenSSLTLSHandler::~TIdOpenSSLTLSHandler() {
  // The socket may be gone already: nothing more is said on it.
  SSL_free(FSSL);
}

TIdTLSPeerCheck TIdOpenSSLTLSHandler::PeerCheck() const { return FShared->Settings.Check; }

// Settings in use stay with the connections (and clones) that use them.
void TIdOpenSSLTLSHandler::ChangeSettings(const std::function<void(TSettings&)>& AChange) {
  TSettings settings = FShared->Settings;
  AChange(settings);
  FShared = std::make_shared<TShared>(std::move(settings));
}

void TIdOpenSSLTLSHandler::SetCAFile(const std::string& AFile) {
  ChangeSettings([&](TSettings& VSettings) {
    VSettings.Check = pcCAFile;
    VSettings.CAFile = AFile;
  });
}

void TIdOpenSSLTLSHandler::SetPinnedSHA256(const TIdSHA256Digest& ADigest) {
  ChangeSettings([&](TSettings& VSettings) {
    VSettings.Check = pcPinnedSHA256;
    VSettings.Pin = ADigest;
  });
}

void TIdOpenSSLTLSHandler::SetVerifyPeer(bool AValue) {
  ChangeSettings([&](TSettings& VSettings) { VSettings.Check = AValue ? pcSystemTrust : pcNone; });
}

void TIdOpenSSLTLSHandler::SetMaxVersion(TIdTLSMaxVersion AValue) {
  ChangeSettings([&](TSettings& VSettings) { VSettings.MaxVersion = AValue; });
}

std::string TIdOpenSSLTLSHandler::ProtocolVersion() const {
  return FSSL != nullptr ? SSL_get_version(FSSL) : "";
}

std::string TIdOpenSSLTLSHandler::NameToCheck() const {
  return URIToCheck().empty() ? Host() : URIToCheck();
}

int32_t TIdOpenSSLTLSHandler::WaitLimitMs() const {
  return ReadTimeout() > 0 ? ReadTimeout() : kDefaultTLSWaitMs;
}

int TIdOpenSSLTLSHandler::OnNewSession(SSL* ASSL, SSL_SESSION* ASession) {
  auto* self = static_cast<TIdOpenSSLTLSHandler*>(SSL_get_app_data(ASSL));
  if (self == nullptr) {
    return 0;  // OpenSSL frees it
  }
  ++self->FTicketsReceived;
  if (self->FIsDataChannel) {
    self->FShared->TicketsPerConnection = true;
  }
  self->FShared->KeepSession(ASession);
  return 1;  // the reference is ours now
}

// ---- Switching TLS on and off ---------------------------------------------------------------

void TIdOpenSSLTLSHandler::SetPassThrough(bool AValue) {
  if (!AValue && fPassThrough && BindingAllocated()) {
    StartSSL();
  } else if (AValue && FSSL != nullptr) {
    EndTLS(true);
  }
  fPassThrough = AValue;
}

void TIdOpenSSLTLSHandler::ConnectClient() {
  TIdSSLIOHandlerSocketBase::ConnectClient();
  if (!fPassThrough) {
    StartSSL();
  }
}

void TIdOpenSSLTLSHandler::StartSSL() {
  if (FSSL != nullptr) {
    return;
  }
  FFailureReason.clear();
  FSessionReused = false;
  FTicketsReceived = 0;
  ERR_clear_error();
  PrepareSession();
  RunHandshake();
  if (FShared->Settings.Check == pcPinnedSHA256) {
    CheckPinnedCertificate();
  }
  FSessionReused = SSL_session_reused(FSSL) == 1;
}

std::unique_ptr<TIdSSLIOHandlerSocketBase> TIdOpenSSLTLSHandler::Clone() {
  auto clone = std::make_unique<TIdOpenSSLTLSHandler>();
  clone->FShared = FShared;
  clone->FIsDataChannel = true;
  clone->SetURIToCheck(NameToCheck());
  clone->SetReadTimeout(ReadTimeout());
  return clone;
}

void TIdOpenSSLTLSHandler::PrepareSession() {
  SSL_CTX* context = FShared->EnsureContext();
  FSSL = SSL_new(context);
  BIO* bio = FSSL != nullptr ? BIO_new(SocketBioMethod()) : nullptr;
  if (bio == nullptr) {
    FailHandshake("TLS session could not be created: " + OpenSSLErrorText(), false);
  }
  FSSLSocket = Binding()->Handle();
  BIO_set_data(bio, reinterpret_cast<void*>(static_cast<intptr_t>(FSSLSocket)));
  SSL_set_bio(FSSL, bio, bio);
  SSL_set_app_data(FSSL, this);
  SSL_set_mode(FSSL, SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
  // A record without data (a session ticket) must not keep a read waiting: Readable counts on it.
  SSL_clear_mode(FSSL, SSL_MODE_AUTO_RETRY);
  const std::string name = NameToCheck();
  const bool isIP = IsIPAddress(name);
  if (!isIP && !name.empty()) {
    SSL_set_tlsext_host_name(FSSL, name.c_str());
  }
  if (SSL_get_verify_mode(FSSL) != SSL_VERIFY_NONE) {
    X509_VERIFY_PARAM* param = SSL_get0_param(FSSL);
    const int set = isIP ? X509_VERIFY_PARAM_set1_ip_asc(param, name.c_str())
                         : X509_VERIFY_PARAM_set1_host(param, name.c_str(), name.size());
    if (set != 1) {
      FailHandshake("the server name \"" + name + "\" cannot be checked", true);
    }
  }
  if (FIsDataChannel) {
    FShared->OfferSession(FSSL);
  }
}

void TIdOpenSSLTLSHandler::RunHandshake() {
  const auto deadline = TClock::now() + std::chrono::milliseconds(WaitLimitMs());
  const TNonBlockingScope nonBlocking(FSSLSocket);
  for (;;) {
    const int rc = SSL_connect(FSSL);
    if (rc == 1) {
      return;
    }
    const int error = SSL_get_error(FSSL, rc);
    if (AwaitSocket(FSSLSocket, error, deadline)) {
      continue;
    }
    const long verify = SSL_get_verify_result(FSSL);
    if (verify != X509_V_OK) {
      FailHandshake(std::string("the server's certificate was refused: ") +
                        X509_verify_cert_error_string(verify),
                    true);
    }
    if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) {
      FailHandshake("the TLS handshake timed out", false);
    }
    if (error == SSL_ERROR_SYSCALL && ERR_peek_error() == 0) {
      FailHandshake("the server closed the connection during the TLS handshake", false);
    }
    FailHandshake("the TLS handshake failed: " + OpenSSLErrorText(), false);
  }
}

void TIdOpenSSLTLSHandler::CheckPinnedCertificate() {
  X509* certificate = SSL_get1_peer_certificate(FSSL);
  TIdSHA256Digest digest{};
  unsigned int length = 0;
  const bool hashed = certificate != nullptr &&
                      X509_digest(certificate, EVP_sha256(), digest.data(), &length) == 1 &&
                      length == digest.size();
  X509_free(certificate);
  if (!hashed || digest != FShared->Settings.Pin) {
    EndTLS(false);
    FailHandshake("the server's certificate does not match the pinned SHA-256 fingerprint", true);
  }
}

// A connection whose handshake failed carries nothing usable any more: it is closed, so that
// no plain command (the password least of all) can follow on it.
void TIdOpenSSLTLSHandler::FailHandshake(const std::string& AReason, bool ACertificate) {
  FFailureReason = AReason;
  SSL_free(FSSL);
  FSSL = nullptr;
  TIdSSLIOHandlerSocketBase::Close();
  if (ACertificate) {
    throw EIdOpenSSLCertificateRejected(AReason);
  }
  throw EIdOpenSSLError(AReason);
}

// ---- Ending TLS -----------------------------------------------------------------------------

// The library closes the socket itself once the peer has closed: a session that outlived its
// socket must not write to whatever descriptor now has that number.
bool TIdOpenSSLTLSHandler::TLSSocketIsOpen() {
  return BindingAllocated() && Binding()->Handle() == FSSLSocket;
}

// Reads what has arrived (dropping any data), so that session tickets are taken in: once
// close_notify is sent, OpenSSL ignores them. On a data connection of a server known to hand
// out a ticket per connection, it waits briefly for that ticket: with single-use tickets the
// next data connection cannot resume without it.
void TIdOpenSSLTLSHandler::TakeInTickets() {
  const bool awaitTicket = FIsDataChannel && FShared->TicketsPerConnection &&
                           FTicketsReceived == 0 && SSL_version(FSSL) == TLS1_3_VERSION;
  const auto deadline =
      TClock::now() + std::chrono::milliseconds(awaitTicket ? kTicketWaitMs : 0);
  uint8_t drain[kDrainChunk];
  for (;;) {
    const int got = SSL_read(FSSL, drain, sizeof drain);
    if (got > 0) {
      continue;
    }
    const auto until = FTicketsReceived == 0 ? deadline : TClock::now();
    if (!AwaitSocket(FSSLSocket, SSL_get_error(FSSL, got), until)) {
      break;
    }
  }
  if (awaitTicket && FTicketsReceived == 0) {
    FShared->TicketsPerConnection = false;  // this server does not: no more waiting
  }
}

void TIdOpenSSLTLSHandler::EndTLS(bool AAwaitPeer) {
  if (FSSL == nullptr) {
    return;
  }
  if (TLSSocketIsOpen()) {
    const auto deadline = TClock::now() + std::chrono::milliseconds(WaitLimitMs());
    const TNonBlockingScope nonBlocking(FSSLSocket);
    TakeInTickets();
    uint8_t drain[kDrainChunk];
    int rc = SSL_shutdown(FSSL);
    while (rc < 0 && AwaitSocket(FSSLSocket, SSL_get_error(FSSL, rc), deadline)) {
      rc = SSL_shutdown(FSSL);
    }
    // Anything before the peer's close_notify (late data) is read and dropped.
    while (AAwaitPeer && rc == 0) {
      const int got = SSL_read(FSSL, drain, sizeof drain);
      const int error = got > 0 ? SSL_ERROR_NONE : SSL_get_error(FSSL, got);
      if (error != SSL_ERROR_NONE && !AwaitSocket(FSSLSocket, error, deadline)) {
        break;  // the close_notify came (SSL_ERROR_ZERO_RETURN), or the connection ended
      }
    }
  }
  ERR_clear_error();
  SSL_free(FSSL);
  FSSL = nullptr;
}

void TIdOpenSSLTLSHandler::Close() {
  EndTLS(FIsDataChannel);
  TIdSSLIOHandlerSocketBase::Close();
}

void TIdOpenSSLTLSHandler::CheckForDisconnect(bool ARaiseExceptionIfDisconnected,
                                              bool AIgnoreBuffer) {
  // The peer ended the connection (after its close_notify): ours goes out before the socket
  // is closed below.
  if (ClosedGracefully() && FSSL != nullptr) {
    EndTLS(false);
  }
  TIdSSLIOHandlerSocketBase::CheckForDisconnect(ARaiseExceptionIfDisconnected, AIgnoreBuffer);
}

// ---- Reading and writing --------------------------------------------------------------------

bool TIdOpenSSLTLSHandler::Readable(int32_t AMSec) {
  if (FSSL == nullptr || fPassThrough) {
    return TIdSSLIOHandlerSocketBase::Readable(AMSec);
  }
  const int32_t limit = AMSec == IdTimeoutUseReadTimeout
                            ? (ReadTimeout() > 0 ? ReadTimeout() : IdTimeoutWaitForever)
                            : AMSec;
  const auto deadline = TClock::now() + std::chrono::milliseconds(std::max(limit, 0));
  for (;;) {
    if (SSL_pending(FSSL) > 0) {
      return true;
    }
    const int32_t wait = limit == IdTimeoutWaitForever ? IdTimeoutWaitForever : MsUntil(deadline);
    if (!TIdSSLIOHandlerSocketBase::Readable(wait)) {
      return false;
    }
    uint8_t probe = 0;
    const int got = SSL_peek(FSSL, &probe, 1);
    if (got > 0 || SSL_get_error(FSSL, got) != SSL_ERROR_WANT_READ) {
      return true;  // data, or the end of it: the read reports which
    }
  }
}

int32_t TIdOpenSSLTLSHandler::ReceiveFromSource(std::span<uint8_t> VBuffer) {
  if (FSSL == nullptr || fPassThrough) {
    return TIdSSLIOHandlerSocketBase::ReceiveFromSource(VBuffer);
  }
  const int size = static_cast<int>(std::min<size_t>(VBuffer.size(), INT32_MAX));
  for (;;) {
    const int got = SSL_read(FSSL, VBuffer.data(), size);
    if (got > 0) {
      return got;
    }
    switch (SSL_get_error(FSSL, got)) {
    case SSL_ERROR_WANT_READ: // a record without data; the blocking socket waits for more
    case SSL_ERROR_WANT_WRITE:
      continue;
    case SSL_ERROR_ZERO_RETURN:
      return 0;
    case SSL_ERROR_SYSCALL:
      if (ERR_peek_error() == 0) {
        throw EIdOpenSSLError(
            "the connection ended without TLS close_notify: the data may be cut off");
      }
      [[fallthrough]];
    default:
      throw EIdOpenSSLError("TLS read failed: " + OpenSSLErrorText());
    }
  }
}

int32_t TIdOpenSSLTLSHandler::SendToTarget(std::span<const uint8_t> ABuffer) {
  if (FSSL == nullptr || fPassThrough) {
    return TIdSSLIOHandlerSocketBase::SendToTarget(ABuffer);
  }
  const int size = static_cast<int>(std::min<size_t>(ABuffer.size(), INT32_MAX));
  for (;;) {
    const int sent = SSL_write(FSSL, ABuffer.data(), size);
    if (sent > 0) {
      return sent;
    }
    const int error = SSL_get_error(FSSL, sent);
    if (error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE) {
      throw EIdOpenSSLError("TLS write failed: " + OpenSSLErrorText());
    }
  }
}

} // namespace ftpc
