// The command-line transfer tool: moves one file to ("p") or from ("g") an FTP server.
//
//   ftp letter source destination host user password directory
//
// It prints a two-line banner and nothing else, and exits with 0 on every path: the calling
// application judges the outcome by the destination file. So that a failed download can never
// pass for a finished one, the local file that this run created is removed when the download
// fails; a file that existed before the run is never touched.
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "ftp/IdFTP.h"
#include "global/IdGlobal.h"

namespace {

using ftpc::TIdFTP;

constexpr const char* kBannerTitle = "FTP Console for Corvane program";
constexpr const char* kBannerAddress = "https://ftpconsole.invalid/";

struct Arguments {
  std::string Operation;
  std::string Source;
  std::string Destination;
  std::string Host;
  std::string User;
  std::string Password;
  std::string Directory;
};

// Arguments beyond those given read as empty text.
Arguments ReadArguments(int argc, char** argv) {
  const auto arg = [&](int AIndex) { return AIndex < argc ? std::string(argv[AIndex]) : std::string(); };
  return {arg(1), arg(2), arg(3), arg(4), arg(5), arg(6), arg(7)};
}

// Write errors (a closed stdout) are ignored like every other failure.
void WriteBanner() {
  std::fputs(kBannerTitle, stdout);
  std::fputs("\n", stdout);
  std::fputs(kBannerAddress, stdout);
  std::fputs("\n", stdout);
  std::fflush(stdout);
}

void RemoveQuietly(const std::string& APath) {
  std::error_code error;
  std::filesystem::remove(APath, error);
}

// The session refuses a destination that exists (a dangling symbolic link included) before it
// creates anything; every other failure comes after it created the file, which then goes.
void Download(TIdFTP& AFtp, const Arguments& AArgs) {
  try {
    AFtp.Get(AArgs.Source, AArgs.Destination, false, false);
  } catch (const ftpc::EIdFTPFileAlreadyExists&) {
    throw; // not ours to remove
  } catch (...) {
    RemoveQuietly(AArgs.Destination);
    throw;
  }
}

void Run(TIdFTP& AFtp, const Arguments& AArgs) {
  AFtp.SetAutoLogin(true);
  AFtp.SetPassive(true);
  // The data connection goes to the server we connected to, whatever host its 227 reply
  // names: a server must not be able to point the tool at another machine or service.
  AFtp.SetPassiveUseControlHost(true);
  AFtp.SetTransferType(ftpc::ftBinary);
  AFtp.SetHost(AArgs.Host);
  AFtp.SetUsername(AArgs.User);
  AFtp.SetPassword(AArgs.Password);
  AFtp.Connect();
  AFtp.ChangeDir(AArgs.Directory);
  if (AArgs.Operation == "p") {
    AFtp.Put(AArgs.Source, AArgs.Destination, false);
  }
  if (AArgs.Operation == "g") {
    Download(AFtp, AArgs);
  }
}

} // namespace

int main(int argc, char** argv) {
  // A reader that went away must not end the run with a signal instead of exit code 0.
  ftpc::IgnoreBrokenPipe();
  const Arguments args = ReadArguments(argc, argv);
  std::unique_ptr<TIdFTP> ftp;
  try {
    WriteBanner();
    ftp = std::make_unique<TIdFTP>();
    Run(*ftp, args);
  } catch (...) {
    // Silent by design: the caller judges the outcome by the destination file.
  }
  // Destroying the session closes the control connection without QUIT.
  ftp.reset();
  return 0;
}
