// The TLS I/O handler over OpenSSL: plug it into TIdFTP (SetIOHandler, then SetUseTLS) to
// run FTPS. Its own target (ftpc_tls); the library never links OpenSSL.
//
// - PassThrough false on a connected handler runs the client handshake (explicit TLS);
//   false before connecting makes the connection TLS from its first byte (implicit TLS);
//   true again (after CCC) ends TLS with close_notify and goes on in plain text.
// - The peer is verified by default against the system's trusted certificates, with its
//   host name (or IP address) checked against URIToCheck, or Host when that is empty.
//   SetCAFile trusts the certificates of one file instead, SetPinnedSHA256 accepts exactly
//   the certificate with that SHA-256 digest of its DER form, SetVerifyPeer(false) nothing.
// - Clone gives the data connections a handler that shares the settings and resumes the
//   control connection's TLS session (1.2 session IDs and 1.3 tickets alike), which servers
//   that insist on session reuse for data connections require.
// - A data connection's TLS ends with close_notify sent and the server's awaited (bounded).
// - Reads and writes go straight between OpenSSL and the caller's buffers.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "base/IdException.h"
#include "ftp/IdExplicitTLSClientServerBase.h"

struct ssl_st;
struct ssl_session_st;
using SSL = ssl_st;

namespace ftpc {

// A TLS failure: the handshake, a record, or a connection cut without close_notify. The
// message says what OpenSSL reported.
FTPC_DECLARE_EXCEPTION(EIdOpenSSLError, EIdException);
// The server's certificate was not accepted; the message says why.
FTPC_DECLARE_EXCEPTION(EIdOpenSSLCertificateRejected, EIdOpenSSLError);

// The name under which the handler is in the TLS registry (TIdSSLRegistry).
inline constexpr const char* kOpenSSLProductName = "OpenSSL";

using TIdSHA256Digest = std::array<uint8_t, 32>;

// A SHA-256 fingerprint written as 64 hex digits, optionally in colon-separated pairs;
// nullopt for anything else.
std::optional<TIdSHA256Digest> ParseSHA256Fingerprint(std::string_view AText);

// How the server's certificate is checked.
enum TIdTLSPeerCheck : uint8_t { pcSystemTrust, pcCAFile, pcPinnedSHA256, pcNone };

// The newest protocol version offered (TLS 1.2 is the oldest accepted).
enum TIdTLSMaxVersion : uint8_t { tmv12, tmv13 };

class TIdOpenSSLTLSHandler : public TIdSSLIOHandlerSocketBase {
public:
  explicit TIdOpenSSLTLSHandler(TIdInitializerComponent* AOwner = nullptr);
  ~TIdOpenSSLTLSHandler() override;
  std::string ClassName() const override { return "TIdOpenSSLTLSHandler"; }

  // ---- Verification settings (take effect at the next handshake of this handler) ----
  TIdTLSPeerCheck PeerCheck() const;
  void SetCAFile(const std::string& AFile);
  void SetPinnedSHA256(const TIdSHA256Digest& ADigest);
  // false: accept any certificate; true: back to the system's trusted certificates.
  void SetVerifyPeer(bool AValue);
  // TLS 1.3 (the default) resumes data connections with session tickets, which some servers
  // accept once each and issue only on connections they write to (downloads, listings):
  // there, a run of uploads can outlast the tickets. TLS 1.2 session IDs serve any number.
  void SetMaxVersion(TIdTLSMaxVersion AValue);

  // Why the last handshake failed ("" when it did not).
  const std::string& FailureReason() const { return FFailureReason; }
  // Whether the current (or last) handshake resumed an earlier session.
  bool SessionReused() const { return FSessionReused; }
  // "TLSv1.3" and the like while TLS runs, else "".
  std::string ProtocolVersion() const;

  // ---- The TLS handler contract ----
  void SetPassThrough(bool AValue) override;
  // Runs the client handshake on the connected socket; raises EIdOpenSSLError (or
  // EIdOpenSSLCertificateRejected) when it fails.
  void StartSSL() override;
  std::unique_ptr<TIdSSLIOHandlerSocketBase> Clone() override;

  void Close() override;
  void CheckForDisconnect(bool ARaiseExceptionIfDisconnected = true,
                          bool AIgnoreBuffer = false) override;
  // Under TLS, true only once application data (or the end of it) can be read without
  // waiting: records without data (session tickets) are taken in while waiting.
  bool Readable(int32_t AMSec = IdTimeoutUseReadTimeout) override;

protected:
  void ConnectClient() override;
  int32_t ReceiveFromSource(std::span<uint8_t> VBuffer) override;
  int32_t SendToTarget(std::span<const uint8_t> ABuffer) override;

private:
  struct TSettings {
    TIdTLSPeerCheck Check = pcSystemTrust;
    std::string CAFile;
    TIdSHA256Digest Pin{};
    TIdTLSMaxVersion MaxVersion = tmv13;
  };
  struct TShared;

  std::shared_ptr<TShared> FShared;
  SSL* FSSL = nullptr;
  int FSSLSocket = -1;          // the socket FSSL talks over
  bool FIsDataChannel = false;  // made by Clone: resumes the control connection's session
  bool FSessionReused = false;
  int32_t FTicketsReceived = 0;  // sessions the server issued on this connection
  std::string FFailureReason;

  static int OnNewSession(SSL* ASSL, ssl_session_st* ASession);

  std::string NameToCheck() const;
  void ChangeSettings(const std::function<void(TSettings&)>& AChange);
  void PrepareSession();
  void RunHandshake();
  void CheckPinnedCertificate();
  [[noreturn]] void FailHandshake(const std::string& AReason, bool ACertificate);
  // Sends close_notify; with AAwaitPeer also waits (bounded) for the peer's. Frees the session.
  void EndTLS(bool AAwaitPeer);
  void TakeInTickets();
  bool TLSSocketIsOpen();
  int32_t WaitLimitMs() const;
};

} // namespace ftpc
