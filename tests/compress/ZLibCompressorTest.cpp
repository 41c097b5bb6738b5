// MODE Z through the zlib plug-in: against the scripted server (what goes on the wire, cut-off
// and corrupt data) and against proftpd (mod_deflate), byte-exact both ways.
#include <gtest/gtest.h>

#include <zlib.h>

#include "compress/IdZLibCompressor.h"
#include "ftp/FtpScriptedSession.h"
#include "support/RealFtpSession.h"
#include "support/TempDir.h"

namespace ftpc::test {
namespace {

// Words and numbers in a pseudo-random order: text that deflates about 3:1 (proftpd's
// inflater fails on data that shrinks much more within one read).
std::string CompressibleText(size_t AWords) {
  static const char* const kWords[] = {"alpha", "beta", "gamma", "delta", "epsilon", "zeta",
                                       "eta", "theta", "iota", "kappa", "lambda", "mu"};
  std::string text;
  uint32_t x = 1;
  for (size_t i = 0; i < AWords; ++i) {
    x = x * 1103515245u + 12345u;
    text += kWords[(x >> 8) % 12] + std::to_string((x >> 4) % 97) + ((x % 7) != 0 ? " " : "\n");
  }
  return text;
}

// The zlib stream the session's defaults (level 7, window 15, memory level 8) produce.
std::string Deflate(const std::string& AText) {
  uLongf size = compressBound(AText.size());
  std::string out(size, '\0');
  EXPECT_EQ(compress2(reinterpret_cast<Bytef*>(out.data()), &size,
                      reinterpret_cast<const Bytef*>(AText.data()), AText.size(), 7),
            Z_OK);
  out.resize(size);
  return out;
}

std::string Inflate(const std::string& AData) {
  std::string out(1 << 22, '\0');
  uLongf size = out.size();
  EXPECT_EQ(uncompress(reinterpret_cast<Bytef*>(out.data()), &size,
                       reinterpret_cast<const Bytef*>(AData.data()), AData.size()),
            Z_OK);
  out.resize(size);
  return out;
}

std::string Text(const TMemoryStream& AStream) {
  return {AStream.Memory().begin(), AStream.Memory().end()};
}

class ModeZScripted : public ::testing::Test {
protected:
  std::unique_ptr<TIdFTP> ConnectInModeZ(ScriptedFtpServer& AServer) {
    auto ftp = ConnectedSession(AServer);
    ftp->DiscoverFeatures();
    ftp->SetCompressor(&FCompressor);
    ftp->TransferMode(dmDeflate);
    return ftp;
  }
  // Greeting, MODE Z, then a download whose data connection carries AWire.
  static void ScriptDownload(ScriptedFtpServer& AServer, const std::string& AWire) {
    Greet(AServer).Expect("FEAT").Reply("211-Features:\n MODE Z\n211 End");
    AServer.Expect("MODE Z").Reply("200 ok");
    PassiveCommand(AServer, "RETR f").DataSend(AWire).Reply("226 done");
  }

  ScriptedFtpServer FServer;
  TIdZLibCompressor FCompressor;
  const std::string FText = CompressibleText(10000);
};

TEST_F(ModeZScripted, DownloadInflatesAndUploadDeflates) {
  ScriptDownload(FServer, Deflate(FText));
  PassiveCommand(FServer, "STOR g").DataReceive().Reply("226 done");
  auto ftp = ConnectInModeZ(FServer);
  TMemoryStream got;
  ftp->Get("f", got);
  EXPECT_EQ(Text(got), FText);
  TMemoryStream source;
  source.WriteBuffer(FText.data(), static_cast<int64_t>(FText.size()));
  ftp->Put(source, "g");
  ASSERT_EQ(FServer.Uploads().size(), 1u);
  EXPECT_LT(FServer.Uploads()[0].Size, FText.size() / 3);
  EXPECT_EQ(Inflate(FServer.Uploads()[0].Bytes), FText);
}

TEST_F(ModeZScripted, CutOffOrCorruptDownloadIsAnError) {
  const std::string wire = Deflate(FText);
  for (const std::string& bad : {wire.substr(0, wire.size() / 2), std::string("\x78\x9c garbage")}) {
    ScriptedFtpServer server;
    ScriptDownload(server, bad);
    auto ftp = ConnectInModeZ(server);
    TMemoryStream got;
    EXPECT_THROW(ftp->Get("f", got), EIdZLibError);
  }
}

TEST(ModeZProftpd, TransfersAreByteExactAndSmallerOnTheWire) {
  auto server = StartRealFtpServerOrSkip(RealServerKind::Proftpd);
  if (!server) {
    return;
  }
  const std::string text = CompressibleText(40000);
  WriteTextFile(server->RootDir() + "/down.txt", text);
  TIdZLibCompressor compressor;
  auto ftp = LoggedInSession(*server, DataMode::Pasv);
  ftp->SetCompressor(&compressor);
  ftp->TransferMode(dmDeflate);
  int64_t wire = 0;
  ftp->SetOnWork([&](TObject*, TWorkMode, int64_t ACount) { wire = ACount; });

  TMemoryStream got;
  ftp->Get("down.txt", got);
  EXPECT_EQ(Text(got), text);
  EXPECT_GT(wire, 0);
  EXPECT_LT(wire, static_cast<int64_t>(text.size()) / 2);

  wire = 0;
  got.SetPosition(0);
  ftp->Put(got, "up.txt");
  EXPECT_LT(wire, static_cast<int64_t>(text.size()) / 2);
  EXPECT_EQ(FileChecksumText(server->RootDir() + "/up.txt"),
            FileChecksumText(server->RootDir() + "/down.txt"));
}

} // namespace
} // namespace ftpc::test
