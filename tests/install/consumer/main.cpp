// consumer HOST USER PASSWORD REMOTE LOCAL: downloads REMOTE into LOCAL; exit status 0 on success.
// The session holds the zlib plug-in, ready for servers that offer MODE Z.
#include <ftpc/compress/IdZLibCompressor.h>
#include <ftpc/ftp/IdFTP.h>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 6) {
    std::fputs("usage: consumer host user password remote local\n", stderr);
    return 2;
  }
  try {
    ftpc::TIdZLibCompressor compressor;
    ftpc::TIdFTP ftp;
    ftp.SetCompressor(&compressor);
    ftp.SetHost(argv[1]);
    ftp.SetUsername(argv[2]);
    ftp.SetPassword(argv[3]);
    ftp.SetPassive(true);
    ftp.Connect();
    ftp.Get(argv[4], argv[5], true, false);
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
}
