// Downloads one file with the library and throws the bytes away: the transfer benchmark's
// "download to /dev/null" client (the ftp tool itself never writes into an existing file).
// Usage: ftp-null-get host user password remote-file [ca-file]; prints the byte count
// received. With a ca-file: explicit TLS with protected data, the server checked against it.
#include <cstdio>
#include <exception>
#include <memory>

#include "ftp/IdFTP.h"
#include "global/IdStream.h"
#include "tls/IdOpenSSLTLSHandler.h"

namespace {

// Counts what arrives and keeps nothing.
class TNullStream : public ftpc::TStream {
public:
  int64_t Read(void*, int64_t) override { return 0; }
  int64_t Write(const void*, int64_t ACount) override {
    FSize += ACount;
    return ACount;
  }
  int64_t Seek(int64_t, ftpc::TSeekOrigin) override { return FSize; }
  void SetSize(int64_t) override {}
  int64_t Size() override { return FSize; }

private:
  int64_t FSize = 0;
};

} // namespace

int main(int argc, char** argv) {
  if (argc != 5 && argc != 6) {
    std::fprintf(stderr, "usage: %s host user password remote-file [ca-file]\n", argv[0]);
    return 2;
  }
  try {
    ftpc::TIdFTP ftp;
    if (argc == 6) {
      auto tls = std::make_unique<ftpc::TIdOpenSSLTLSHandler>();
      tls->SetCAFile(argv[5]);
      ftp.SetIOHandler(std::unique_ptr<ftpc::TIdIOHandler>(std::move(tls)));
      ftp.SetUseTLS(ftpc::utUseRequireTLS);
      ftp.SetDataPortProtection(ftpc::ftpdpsPrivate);
    }
    ftp.SetHost(argv[1]);
    ftp.SetUsername(argv[2]);
    ftp.SetPassword(argv[3]);
    ftp.SetPassive(true);
    ftp.SetTransferType(ftpc::ftBinary);
    ftp.Connect();
    TNullStream sink;
    ftp.Get(argv[4], sink, false);
    ftp.Quit();
    std::printf("%lld\n", static_cast<long long>(sink.Size()));
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
}
