// Listings and verification against the scripted server: the exact command lines, the type
// switch around LIST/NLST and its restore, the lazy parse with its events, and the digest
// command chosen by the server's features.
#include <gtest/gtest.h>

#include "ftp/FtpScriptedSession.h"
#include "ftp/IdFTPList.h"
#include "hash/IdHashCRC.h"

namespace ftpc::test {
namespace {

class FtpListing : public ::testing::Test {
protected:
  // Greeting, SYST, FEAT with AFeatures (one per line); AScript continues the script.
  std::unique_ptr<TIdFTP> Connect(const std::string& AFeatures,
                                  const std::function<void(ScriptedFtpServer&)>& AScript) {
    Greet(FServer).Expect("FEAT").Reply("211-Features:\n" + AFeatures + "211 End");
    AScript(FServer);
    auto ftp = ConnectedSession(FServer);
    ftp->DiscoverFeatures();
    return ftp;
  }
  // The command lines after the connect sequence (greeting, SYST, FEAT).
  Lines Commands() const {
    const Lines all = FServer.Received();
    return Lines(all.begin() + 2, all.end());
  }

  ScriptedFtpServer FServer;
};

TEST_F(FtpListing, CommandLinesAndTypeSwitch) {
  auto ftp = Connect(" MLSD\n", [](ScriptedFtpServer& AServer) {
    AServer.Expect("TYPE I").Reply("200 ok").Expect("TYPE A").Reply("200 ok");
    PassiveCommand(AServer, "LIST -al sub dir").DataSend("l1\r\n").Reply("226 done");
    AServer.Expect("TYPE I").Reply("200 ok");
    PassiveCommand(AServer, "MLSD").DataSend("type=file; m\r\n").Reply("226 done");
    PassiveCommand(AServer, "MLSD x").DataSend("").Reply("226 done");
    AServer.Expect("TYPE A").Reply("200 ok");
    PassiveCommand(AServer, "NLST -al").DataSend("a\n").Reply("226 done");
    AServer.Expect("TYPE I").Reply("200 ok");
    AServer.Expect("TYPE A").Reply("200 ok");
    PassiveCommand(AServer, "LIST -al", "550 no such directory");
    AServer.Expect("TYPE I").Reply("200 ok");
  });
  ftp->SetTransferType(ftBinary);
  ftp->SetUseMLIS(false);
  std::vector<std::string> dest;
  ftp->List(&dest, "sub dir", true);
  EXPECT_EQ(dest, Lines{"l1"});
  ftp->SetUseMLIS(true);
  ftp->List(&dest, "ignored", true);
  EXPECT_EQ(dest, Lines{"type=file; m"});
  EXPECT_TRUE(ftp->ListResult().UsedMLS());
  ftp->ExtListDir(&dest, "x");
  EXPECT_TRUE(dest.empty());
  ftp->List("", false);
  EXPECT_FALSE(ftp->ListResult().Details());
  ftp->SetUseMLIS(false);
  EXPECT_THROW(ftp->List(), EIdReplyRFCError);
  EXPECT_EQ(ftp->TransferType(), ftBinary);
  EXPECT_EQ(FServer.Failures(), Lines{});
}

TEST_F(FtpListing, DirectoryListingIsParsedOnceWithItsEvents) {
  auto ftp = Connect("", [](ScriptedFtpServer& AServer) {
    PassiveCommand(AServer, "NLST -al").DataSend("README\r\nb c\r\n\r\n").Reply("226 done");
    PassiveCommand(AServer, "LIST -al").DataSend("-rw-r--r-- 1 a b 1 Jan 1 2024 x\r\n").Reply(
        "226 done");
  });
  Lines events;
  ftp->SetOnRetrievedDir([&](TObject*) { events.push_back("retrieved"); });
  ftp->SetOnDirParseStart([&](TObject*) { events.push_back("start"); });
  ftp->SetOnDirParseEnd([&](TObject*) { events.push_back("end"); });
  TIdFTPListItems* supplied = nullptr;
  ftp->SetOnCreateFTPList([&](TObject*, std::unique_ptr<TIdFTPListItems>& VList) {
    events.push_back("create");
    VList = std::make_unique<TIdFTPListItems>();
    supplied = VList.get();
  });
  ftp->List("", false);
  TIdFTPListItems* items = ftp->DirectoryListing();
  EXPECT_EQ(items, supplied);
  EXPECT_EQ(ftp->DirectoryListing(), items);
  EXPECT_EQ(events, (Lines{"retrieved", "start", "create", "end"}));
  EXPECT_EQ(ftp->DirFormat(), "NLST");
  ASSERT_EQ(items->Count(), 2);
  EXPECT_EQ(items->Items(0).LocalFileName(), "readme");
  EXPECT_EQ(items->Items(1).FileName(), "b c");

  // A detailed LIST with only NLST and MLST registered cannot be parsed: the error, the end
  // event, and the empty collection stays for the next read.
  ftp->SetOnCreateFTPList(nullptr);
  ftp->List();
  events.clear();
  EXPECT_THROW(ftp->DirectoryListing(), EIdFTPListParseError);
  EXPECT_EQ(events, (Lines{"start", "end"}));
  EXPECT_EQ(ftp->DirectoryListing()->Count(), 0);
}

TEST_F(FtpListing, MlstFactLinesComeFromTheReply) {
  auto ftp = Connect("", [](ScriptedFtpServer& AServer) {
    AServer.Expect("MLST my file").Reply(
        "250-Listing my file\n type=file;size=5;modify=20240102030405; /d/my file\n250 End");
    AServer.Expect("MLST gone").Reply("550 not found");
  });
  std::vector<std::string> lines{"stale"};
  TIdFTPListItems items;
  ftp->ExtListItem(lines, &items, "my file");
  EXPECT_EQ(lines, Lines{"type=file;size=5;modify=20240102030405; /d/my file"});
  ASSERT_EQ(items.Count(), 1);
  EXPECT_EQ(items.Items(0).FileName(), "/d/my file");
  EXPECT_EQ(items.Items(0).Size(), 5);
  EXPECT_THROW(ftp->ExtListItem(lines, "gone"), EIdReplyRFCError);
  EXPECT_TRUE(lines.empty());
}

// Commands asked of a 100-byte file; the server refuses each (so VerifyFile gives false).
struct VerifyCase {
  const char* Name;
  const char* Features;
  int64_t Start;
  int64_t Count;
  const char* Command;
};

TEST_F(FtpListing, VerifyChoosesTheDigestCommandByFeature) {
  const VerifyCase cases[] = {
      {"sha1 whole", " XSHA1\n", -1, 0, "XSHA1 \"a.bin\""},
      {"sha1 count", " XSHA1\n", -1, 100, "XSHA1 \"a.bin\" 0 100"},
      {"sha1 range line", " XSHA1\n XSHA1 filename;start;end\n", 10, 500, "XSHA1 \"a.bin\" 10 99"},
      {"md5 range line", " XMD5\n XMD5 filename;start;end\n", 10, 20, "XMD5 \"a.bin\" 10 29"},
      {"md5 start", " XMD5\n", 10, 0, "XMD5 \"a.bin\" 10 100"},
      {"crc unlisted", "", -1, 0, "XCRC \"a.bin\""},
      {"crc range", "", 5, 20, "XCRC \"a.bin\" 5 25"},
  };
  TMemoryStream file;
  for (int i = 0; i < 100; ++i) {
    file.WriteBuffer(&i, 1);
  }
  for (const VerifyCase& c : cases) {
    SCOPED_TRACE(c.Name);
    ScriptedFtpServer server;
    Greet(server).Expect("FEAT").Reply(std::string("211-Features:\n") + c.Features + "211 End");
    server.Expect(c.Command).Reply("500 not today");
    auto ftp = ConnectedSession(server);
    ftp->DiscoverFeatures();
    file.SetPosition(0);
    EXPECT_FALSE(ftp->VerifyFile(file, "a.bin", c.Start, c.Count));
    EXPECT_EQ(server.Failures(), Lines{});
  }
}

TEST_F(FtpListing, DigestRepliesAndCrc) {
  TMemoryStream file;
  file.WriteBuffer("hello", 5);
  TIdHashCRC32 hash;
  const std::string crc = LowerCase(hash.HashStreamAsHex(file, 0, 5));
  auto ftp = Connect(" XCRC\n COMB\n", [&](ScriptedFtpServer& AServer) {
    AServer.Expect("XCRC \"h.txt\"").Reply("250 h.txt " + crc);
    AServer.Expect("XCRC \"h.txt\"").Reply("250-Computing CRC32 digest\n250 " + UpperCase(crc));
    AServer.Expect("XCRC \"h.txt\"").Reply("250 00000000");
    AServer.Expect("XCRC \"h.txt\" 1 4").Reply("250 " + crc);
    AServer.Expect("XCRC \"h.txt\" 7").Reply("250 not-hex");
    AServer.Expect("COMB \"all\" p1 p2").Reply("250 ok");
  });
  EXPECT_TRUE(ftp->VerifyFile(file, "h.txt", 0));
  EXPECT_TRUE(ftp->VerifyFile(file, "h.txt", 0));
  EXPECT_FALSE(ftp->VerifyFile(file, "h.txt", 0));
  EXPECT_EQ(ftp->CRC("h.txt", 1, 4), std::stoll(crc, nullptr, 16));
  EXPECT_EQ(ftp->CRC("h.txt", 7), -1);
  ftp->CombineFiles("all", {});
  ftp->CombineFiles("all", {"p1", "p2"});
  EXPECT_EQ(FServer.Failures(), Lines{});
}

} // namespace
} // namespace ftpc::test
