// One FTP session of the client program: the library's TIdFTP set up from the URL and the
// options (data-connection mode, type, time-outs, transcript, progress), opened in the URL's
// directory and closed with QUIT.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include "examples/cli/Options.h"
#include "examples/cli/Progress.h"
#include "compress/IdZLibCompressor.h"
#include "examples/cli/Transcript.h"
#include "ftp/IdFTP.h"

namespace ftpc::cli {

class Session {
public:
  explicit Session(const Invocation& AInvocation);
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // Connects, logs in, switches to MODE Z with --mode-z and changes to the URL's directory
  // (when it names one).
  void Open();
  // Says goodbye with QUIT; a failure then no longer matters.
  void Close();

  TIdFTP& Ftp() { return *FFtp; }
  // The next transfer draws a bar (with --progress on a terminal): AStart bytes already
  // there, ATotal in all (< 0 unknown).
  void ShowProgress(int64_t AStart, int64_t ATotal);
  // Whether ShowProgress will draw anything, so that its total is worth asking for.
  bool DrawsProgress() const { return FDrawProgress; }

private:
  void ApplyOptions();
  void HookProgress();
  void ApplyProxy();
  void Connect();

  const Invocation& FInvocation;
  bool FDrawProgress;
  std::optional<ProgressBar> FBar;
  std::unique_ptr<Transcript> FTranscript; // before FFtp: the session goes first
  std::unique_ptr<TIdZLibCompressor> FCompressor; // the same
  std::unique_ptr<TIdFTP> FFtp;
  TIdSSLIOHandlerSocketBase* FTls = nullptr; // FFtp's handler with --tls or ftps://
};

} // namespace ftpc::cli
