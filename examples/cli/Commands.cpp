#include "examples/cli/Commands.h"

#include <stdexcept>

#include "examples/cli/LineEnds.h"
#include "examples/cli/LocalFile.h"
#include "examples/cli/Session.h"
#include "global/IdStream.h"

namespace ftpc::cli {

namespace {

// -1 when the server does not tell, or when nobody would look at it.
int64_t RemoteSizeForProgress(Session& ASession, const std::string& AName) {
  return ASession.DrawsProgress() ? ASession.Ftp().Size(AName) : -1;
}

// The server must restart transfers, and the local part must fit the remote file. False when
// nothing is left to fetch.
bool CheckDownloadResumable(TIdFTP& AFtp, const std::string& AName, const std::string& ALocal,
                            int64_t AHave) {
  if (!AFtp.ResumeSupported()) {
    throw std::runtime_error("the server cannot resume transfers (no REST)");
  }
  const int64_t remote = AFtp.Size(AName);
  if (remote >= 0 && AHave > remote) {
    throw std::runtime_error("'" + ALocal + "' is larger than the remote file");
  }
  return remote != AHave;
}

DownloadTarget PrepareDownload(const Invocation& AInvocation, bool AResume) {
  const std::string& local = AInvocation.Local;
  if (AResume) {
    return DownloadTarget::Resumed(local);
  }
  if (!AInvocation.Opts.Force && LocalPathExists(local)) {
    throw std::runtime_error("'" + local +
                             "' already exists (--force replaces it, --resume continues it)");
  }
  return DownloadTarget::Fresh(local);
}

// Where the remote copy stands: the bytes there already, 0 when it is missing.
int64_t RemoteOffsetForUpload(TIdFTP& AFtp, const std::string& AName, int64_t ALocalSize) {
  const int64_t remote = std::max<int64_t>(AFtp.Size(AName), 0);
  if (remote > ALocalSize) {
    throw std::runtime_error("the remote file is larger than the local one");
  }
  return remote;
}

// With --ascii the bytes pass the line-end conversion on their way to the file.
void Download(TIdFTP& AFtp, const std::string& AName, TStream& ADest, bool AResume, bool AAscii) {
  if (!AAscii) {
    AFtp.Get(AName, ADest, AResume);
    return;
  }
  CrlfToLfWriter text(ADest);
  AFtp.Get(AName, text, AResume);
  text.Finish();
}

std::unique_ptr<TStream> UploadSource(const Invocation& AInvocation) {
  std::unique_ptr<TStream> file = OpenForUpload(AInvocation.Local);
  if (AInvocation.Opts.Ascii) {
    return std::make_unique<LfToCrlfReader>(std::move(file));
  }
  return file;
}

} // namespace

void RunGet(const Invocation& AInvocation) {
  const std::string name = AInvocation.Url.FileName();
  // The local side is settled before anything goes to the server.
  const bool resume = AInvocation.Opts.Resume && LocalPathExists(AInvocation.Local);
  DownloadTarget target = PrepareDownload(AInvocation, resume);
  Session session(AInvocation);
  session.Open();
  TIdFTP& ftp = session.Ftp();
  const int64_t have = target.Stream().Position();
  if (resume && have > 0 && !CheckDownloadResumable(ftp, name, AInvocation.Local, have)) {
    session.Close();
    return;
  }
  session.ShowProgress(have, RemoteSizeForProgress(session, name));
  Download(ftp, name, target.Stream(), have > 0, AInvocation.Opts.Ascii);
  target.Commit(AInvocation.Opts.Force);
  session.Close();
}

void RunPut(const Invocation& AInvocation) {
  const std::string name = AInvocation.Url.FileName();
  const std::unique_ptr<TStream> source = UploadSource(AInvocation);
  const int64_t size = source->Size();
  Session session(AInvocation);
  session.Open();
  TIdFTP& ftp = session.Ftp();
  const int64_t offset = AInvocation.Opts.Resume ? RemoteOffsetForUpload(ftp, name, size) : 0;
  if (offset > 0 && offset == size) {
    session.Close();
    return;
  }
  source->SetPosition(offset);
  session.ShowProgress(offset, size);
  ftp.Put(*source, name, offset > 0);
  session.Close();
}

VerifyOutcome RunVerify(const Invocation& AInvocation) {
  if (!LocalPathExists(AInvocation.Local)) {
    throw std::runtime_error("'" + AInvocation.Local + "' does not exist");
  }
  Session session(AInvocation);
  session.Open();
  TIdFTP& ftp = session.Ftp();
  VerifyOutcome outcome = VerifyOutcome::NoCommand;
  if (ftp.SupportsVerification()) {
    outcome = ftp.VerifyFile(AInvocation.Local, AInvocation.Url.FileName())
                  ? VerifyOutcome::Same
                  : VerifyOutcome::Differs;
  }
  session.Close();
  return outcome;
}

} // namespace ftpc::cli
