#include "examples/cli/Session.h"

#include <exception>

#include "examples/cli/Tls.h"

namespace ftpc::cli {

namespace {

constexpr int32_t kMillisecondsPerSecond = 1000;

} // namespace

Session::Session(const Invocation& AInvocation)
    : FInvocation(AInvocation), FDrawProgress(AInvocation.Opts.Progress && StderrIsTerminal()),
      FFtp(std::make_unique<TIdFTP>()) {
  ApplyOptions();
  HookProgress();
}

Session::~Session() {
  // Destroying the session closes the control connection without QUIT.
  FFtp.reset();
}

void Session::ApplyOptions() {
  const FtpUrl& url = FInvocation.Url;
  const Options& opts = FInvocation.Opts;
  TIdFTP& ftp = *FFtp;
  ftp.SetHost(url.Host);
  ftp.SetPort(url.Port);
  if (url.IPv6) {
    ftp.SetIPVersion(Id_IPv6); // also switches to EPSV/EPRT, the only forms IPv6 knows
  }
  ftp.SetUsername(url.User);
  ftp.SetPassword(url.Password);
  ftp.SetAutoLogin(true);
  ftp.SetPassive(!opts.Active);
  ftp.SetPassiveUseControlHost(!opts.UsePasvAddress);
  ftp.SetTransferType(opts.Ascii ? ftASCII : ftBinary);
  if (opts.TimeoutSeconds > 0) {
    const int32_t timeout = opts.TimeoutSeconds * kMillisecondsPerSecond;
    ftp.SetConnectTimeout(timeout);
    ftp.SetReadTimeout(timeout);
    ftp.SetTransferTimeout(timeout);
    ftp.SetListenTimeout(timeout);
  }
  if (WantsTls(FInvocation)) {
    FTls = &ApplyTls(ftp, FInvocation);
  }
  ApplyProxy();
  if (opts.ModeZ) {
    FCompressor = std::make_unique<TIdZLibCompressor>();
    ftp.SetCompressor(FCompressor.get());
  }
  if (opts.Verbose) {
    FTranscript = std::make_unique<Transcript>();
    ftp.SetIntercept(&FTranscript->Intercept());
  }
}

// Control and data connections go through the proxy. With SOCKS 4A and 5 the server's name
// travels to the proxy as it is, so the proxy resolves it.
void Session::ApplyProxy() {
  const ProxyOption& proxy = FInvocation.Opts.Proxy;
  if (proxy.Version == svNoSocks) {
    return;
  }
  TIdSocksInfo socks; // ownerless: the socket handler keeps a copy
  socks.SetVersion(proxy.Version);
  socks.SetHost(proxy.Host);
  socks.SetPort(proxy.Port);
  if (proxy.Host.find(':') != std::string::npos) {
    socks.SetIPVersion(Id_IPv6);
  }
  socks.SetUsername(proxy.User);
  socks.SetPassword(proxy.Password);
  if (!proxy.User.empty() && proxy.Version == svSocks5) {
    socks.SetAuthentication(saUsernamePassword);
  }
  if (FFtp->Socket() == nullptr) { // the TLS handler tunnels as well
    FFtp->CreateIOHandler();
  }
  FFtp->Socket()->SetTransparentProxy(&socks);
}

// The data connection reports its progress through the session's work events.
void Session::HookProgress() {
  if (!FDrawProgress) {
    return;
  }
  FFtp->SetOnWork([this](TObject*, TWorkMode, int64_t ACount) {
    if (FBar) {
      FBar->Update(ACount);
    }
  });
  FFtp->SetOnWorkEnd([this](TObject*, TWorkMode) {
    if (FBar) {
      FBar->Finish();
      FBar.reset();
    }
  });
}

void Session::ShowProgress(int64_t AStart, int64_t ATotal) {
  if (FDrawProgress) {
    FBar.emplace(AStart, ATotal);
  }
}

// A refused certificate ends the connection before USER and PASS go out.
void Session::Connect() {
  try {
    FFtp->Connect();
  } catch (const std::exception&) {
    RethrowWithTlsReason(FTls, std::current_exception());
  }
}

void Session::Open() {
  Connect();
  if (FCompressor) {
    FFtp->TransferMode(dmDeflate); // needs the server's FEAT, known after the login
  }
  const std::string directory = FInvocation.Url.Directory();
  if (!directory.empty()) {
    FFtp->ChangeDir(directory);
  }
}

void Session::Close() {
  try {
    FFtp->Quit();
  } catch (const std::exception&) {
    // The work is done; a server that hangs up first changes nothing.
  }
}

} // namespace ftpc::cli
