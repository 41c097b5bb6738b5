// A stand-in TLS I/O handler for scripted-server tests: it does no cryptography, so the scripted
// server stays plain text, and it records what the session asks of a TLS handler (every
// PassThrough switch and handshake, of itself and of its clones) in one shared log. Also the
// script pieces and the set-up that the TLS tests share.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "base/IdException.h"
#include "ftp/IdFTP.h"
#include "support/ScriptedFtpServer.h"

namespace ftpc::test {

struct TlsLog {
  // "control:plain", "control:implicit" (TLS asked for before connecting), "control:handshake",
  // and the same for "data" (the clones).
  Lines Events;
  bool FailHandshake = false;
  // Runs at each handshake, with the role, before it succeeds or fails.
  std::function<void(const std::string& ARole)> OnHandshake;
};

class FakeTlsIOHandler : public TIdSSLIOHandlerSocketBase {
public:
  explicit FakeTlsIOHandler(std::shared_ptr<TlsLog> ALog, std::string ARole = "control")
      : FLog(std::move(ALog)), FRole(std::move(ARole)) {}

  void SetPassThrough(bool AValue) override {
    if (AValue) {
      FLog->Events.push_back(FRole + ":plain");
    } else if (!Opened()) {
      FLog->Events.push_back(FRole + ":implicit");
    } else {
      StartSSL();
    }
    fPassThrough = AValue;
  }
  void StartSSL() override {
    FLog->Events.push_back(FRole + ":handshake");
    if (FLog->OnHandshake) {
      FLog->OnHandshake(FRole);
    }
    if (FLog->FailHandshake) {
      throw EIdException("handshake failed");
    }
  }
  std::unique_ptr<TIdSSLIOHandlerSocketBase> Clone() override {
    return std::make_unique<FakeTlsIOHandler>(FLog, "data");
  }

private:
  std::shared_ptr<TlsLog> FLog;
  std::string FRole;
};

// Gives AFtp a fake TLS handler, the TLS mode AMode and the user "u" with password "p".
inline std::shared_ptr<TlsLog> UseFakeTls(TIdFTP& AFtp, TIdUseTLS AMode) {
  auto log = std::make_shared<TlsLog>();
  AFtp.SetIOHandler(std::make_unique<FakeTlsIOHandler>(log));
  AFtp.SetUseTLS(AMode);
  AFtp.SetUsername("u");
  AFtp.SetPassword("p");
  return log;
}

// The rest of a login after the TLS negotiation: USER, PASS and TYPE.
inline ScriptedFtpServer& UserPassType(ScriptedFtpServer& AServer) {
  return AServer.Expect("USER u")
      .Reply("331 password?")
      .Expect("PASS p")
      .Reply("230 in")
      .Expect("TYPE A")
      .Reply("200 ok");
}

// A login that secures the control connection with "AUTH TLS".
inline ScriptedFtpServer& SecureLogin(ScriptedFtpServer& AServer) {
  return UserPassType(AServer.Expect("AUTH TLS").Reply("234 go ahead"));
}

// The data-protection commands before a data-port command.
inline ScriptedFtpServer& ProtectData(ScriptedFtpServer& AServer, const std::string& AProt = "P") {
  return AServer.Expect("PBSZ 0").Reply("200 PBSZ=0").Expect("PROT " + AProt).Reply("200 ok");
}

} // namespace ftpc::test
