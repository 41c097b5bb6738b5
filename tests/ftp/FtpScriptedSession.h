// A TIdFTP session set up for a scripted server: no login, no FEAT, no HOST, so a script starts
// with the greeting and the SYST of the connect sequence and then holds only what a test is about.
// Also the script pieces, the status log and the abort-from-another-thread runner the session
// tests share.
#pragma once

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "core/IdReplyRFC.h"
#include "ftp/IdFTP.h"
#include "support/ScriptedFtpServer.h"

namespace ftpc::test {

// Aims AFtp at the scripted server with login, FEAT and HOST switched off.
inline void AimAtScripted(TIdFTP& AFtp, const ScriptedFtpServer& AServer) {
  AFtp.SetHost(AServer.Address());
  AFtp.SetPort(AServer.Port());
  AFtp.SetAutoLogin(false);
  AFtp.SetAutoIssueFEAT(false);
  AFtp.SetUseHOST(false);
}

inline std::unique_ptr<TIdFTP> PlainSession(const ScriptedFtpServer& AServer,
                                            bool APassive = true) {
  auto ftp = std::make_unique<TIdFTP>();
  AimAtScripted(*ftp, AServer);
  ftp->SetPassive(APassive);
  return ftp;
}

// Starts the server and connects a PlainSession to it, for tests that need no other setting.
inline std::unique_ptr<TIdFTP> ConnectedSession(ScriptedFtpServer& AServer, bool APassive = true) {
  AServer.Start();
  auto ftp = PlainSession(AServer, APassive);
  ftp->Connect();
  return ftp;
}

// The connect sequence of PlainSession: greeting, then SYST.
inline ScriptedFtpServer& Greet(ScriptedFtpServer& AServer) {
  return AServer.Reply("220 ready").Expect("SYST").Reply("215 UNIX Type: L8");
}

// The data connection's set-up in either mode: PASV answered with the server's listener, or
// PORT accepted.
inline ScriptedFtpServer& OpenData(ScriptedFtpServer& AServer, bool APassive = true) {
  if (APassive) {
    return AServer.Expect("PASV").ReplyPasv();
  }
  return AServer.ExpectPrefix("PORT ").Reply("200 ok");
}

// A passive transfer command up to its preliminary reply: PASV, ACommand, APreliminary.
inline ScriptedFtpServer& PassiveCommand(ScriptedFtpServer& AServer, const std::string& ACommand,
                                         const std::string& APreliminary = "150 go") {
  return OpenData(AServer).Expect(ACommand).Reply(APreliminary);
}

// Records the status texts a session reports.
struct StatusLog {
  std::vector<std::string> Texts;
  void Attach(TIdFTP& AFtp) {
    AFtp.SetOnStatus([this](TObject*, TIdStatus, const std::string& AText) {
      Texts.push_back(AText);
    });
  }
  std::string Last() const { return Texts.empty() ? std::string() : Texts.back(); }
};

// A one-shot signal from a session event on the transferring thread to the aborting thread.
class OneShotSignal {
public:
  void Fire() {
    if (!FFired) {
      FFired = true;
      FPromise.set_value();
    }
  }
  bool Fired() const { return FFired; }
  // Waits (bounded) for Fire.
  bool Wait() {
    return FFuture.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
  }

private:
  std::promise<void> FPromise;
  std::future<void> FFuture = FPromise.get_future();
  bool FFired = false;
};

// Runs ATransfer on this thread and Abort on another once AReady() (a bounded wait) says the
// moment came; AAfter then runs on the aborting thread whether or not Abort was called. The
// aborting thread is always joined, also when ATransfer raises. Returns whether Abort ran.
template <typename TReady, typename TTransfer, typename TAfter>
bool AbortFromAnotherThread(TIdFTP& AFtp, TReady AReady, TTransfer ATransfer, TAfter AAfter) {
  std::atomic<bool> aborted{false};
  std::thread aborter([&] {
    if (AReady()) {
      AFtp.Abort();
      aborted = true;
    }
    AAfter();
  });
  try {
    ATransfer();
  } catch (...) {
    aborter.join();
    throw;
  }
  aborter.join();
  return aborted.load();
}

template <typename TReady, typename TTransfer>
bool AbortFromAnotherThread(TIdFTP& AFtp, TReady AReady, TTransfer ATransfer) {
  return AbortFromAnotherThread(AFtp, AReady, ATransfer, [] {});
}

// The reply error AAction raised: its code (0 when it raised none) and message.
struct ReplyFailure {
  int Code = 0;
  std::string Message;
};

template <typename TAction>
ReplyFailure ReplyErrorOf(TAction AAction, const char* AWhy) {
  try {
    AAction();
  } catch (const EIdReplyRFCError& e) {
    return {e.ErrorCode(), e.what()};
  }
  ADD_FAILURE() << AWhy;
  return {};
}

} // namespace ftpc::test
