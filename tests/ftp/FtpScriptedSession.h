// A TIdFTP session set up for a scripted server: no login, no FEAT, no HOST, so a script starts
// with the greeting and the SYST of the connect sequence and then holds only what a test is about.
#pragma once

#include <memory>

#include "ftp/IdFTP.h"
#include "support/ScriptedFtpServer.h"

namespace ftpc::test {

inline std::unique_ptr<TIdFTP> PlainSession(const ScriptedFtpServer& AServer,
                                            bool APassive = true) {
  auto ftp = std::make_unique<TIdFTP>();
  ftp->SetHost(AServer.Address());
  ftp->SetPort(AServer.Port());
  ftp->SetAutoLogin(false);
  ftp->SetAutoIssueFEAT(false);
  ftp->SetUseHOST(false);
  ftp->SetPassive(APassive);
  return ftp;
}

// The connect sequence of PlainSession: greeting, then SYST.
inline ScriptedFtpServer& Greet(ScriptedFtpServer& AServer) {
  return AServer.Reply("220 ready").Expect("SYST").Reply("215 UNIX Type: L8");
}

} // namespace ftpc::test
