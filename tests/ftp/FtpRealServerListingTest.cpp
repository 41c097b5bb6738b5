// Listings and verification against real FTP servers, judged by the files on the server's disk:
// LIST through the opt-in parsers and MLSD on every server that has it (type, size, time; names
// with spaces and UTF-8), and the digest commands of proftpd (mod_digest).
#include <filesystem>
#include <fcntl.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "ftp/IdFTP.h"
#include "ftp/IdFTPList.h"
#include "ftp/IdFTPListParseCommon.h"
#include "global/IdGlobalProtocols.h"
#include "hash/IdHashCRC.h"
#include "support/RealFtpSession.h"
#include "support/TempDir.h"

namespace ftpc {
namespace {

namespace fs = std::filesystem;
using test::DataMode;
using test::RealServerKind;

// A file the fixture puts on the server, and what a listing must say of it.
struct DiskFile {
  std::string Name;
  size_t Size;
  TDateTime Modified; // UTC, whole minutes or whole days (LIST shows no seconds)
};

TDateTime At(uint16_t AYear, uint16_t AMonth, uint16_t ADay, uint16_t AHour, uint16_t AMinute) {
  return EncodeDateTime({AYear, AMonth, ADay, AHour, AMinute, 0, 0});
}

void SetFileTime(const std::string& APath, TDateTime AUtc) {
  const timespec when{static_cast<time_t>(DateTimeToUnix(AUtc)), 0};
  const timespec times[2] = {when, when};
  ASSERT_EQ(utimensat(AT_FDCWD, APath.c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
}

class RealListing : public ::testing::TestWithParam<RealServerKind> {
protected:
  void SetUp() override {
    RegisterCommonFTPListParsers();
    FServer = test::StartRealFtpServerOrSkip(GetParam());
    if (!FServer) {
      return;
    }
    // A recent time shows as "Mon DD HH:MM" in LIST, an old one as "Mon DD  YYYY".
    const TIdDateTimeParts recent = DecodeDateTime(NowUTC() - 0.1);
    FFiles = {{"plain.txt", 1234, At(2023, 5, 6, 0, 0)},
              {" lead  two spaces.txt", 5,
               At(recent.Year, recent.Month, recent.Day, recent.Hour, recent.Minute)},
              {"caf\xc3\xa9 \xe2\x82\xac.txt", 3, At(2022, 1, 2, 0, 0)}};
    for (const DiskFile& file : FFiles) {
      ASSERT_TRUE(test::WriteTextFile(OnServer(file.Name), std::string(file.Size, 'x')));
      SetFileTime(OnServer(file.Name), file.Modified);
    }
    fs::create_directory(OnServer("sub dir"));
    fs::create_symlink("plain.txt", OnServer("link"));
    FFtp = test::LoggedInSession(*FServer, DataMode::Epsv);
  }
  void TearDown() override {
    UnRegisterFTPListParser(&TIdFTPLPUnix::Instance());
    UnRegisterFTPListParser(&TIdFTPLPWindowsNT::Instance());
    UnRegisterFTPListParser(&TIdFTPLPEPLF::Instance());
    if (FFtp && FFtp->Connected()) {
      FFtp->Quit();
    }
  }
  std::string OnServer(const std::string& AName) const { return FServer->RootDir() + "/" + AName; }
  // A disk name as the session shows it: decoded with the control connection's encoding (UTF-8
  // after OPTS UTF8 ON, else ISO-8859-1), so it goes back to the server unchanged.
  std::string Listed(const std::string& AName) const {
    return ResolveEncoding(FFtp->IOHandler()->DefStringEncoding())
        ->GetString(reinterpret_cast<const uint8_t*>(AName.data()), AName.size());
  }
  const TIdFTPListItem* Find(TIdFTPListItems& AItems, const std::string& AName) const {
    for (int i = 0; i < AItems.Count(); ++i) {
      if (AItems.Items(i).FileName() == Listed(AName)) {
        return &AItems.Items(i);
      }
    }
    ADD_FAILURE() << "not listed: " << AName;
    return nullptr;
  }
  // Type, size, time and name of every fixture file, and the directory; ATime reads an item's
  // time in UTC.
  template <typename TTime> void ExpectTree(TIdFTPListItems& AItems, TTime ATime) {
    for (const DiskFile& file : FFiles) {
      SCOPED_TRACE(file.Name);
      const TIdFTPListItem* item = Find(AItems, file.Name);
      ASSERT_NE(item, nullptr);
      EXPECT_FALSE(item->DirError());
      EXPECT_EQ(item->ItemType(), ditFile);
      EXPECT_EQ(item->Size(), static_cast<int64_t>(file.Size));
      EXPECT_EQ(UtcDateTimeToTimeStamp(ATime(*item), false),
                UtcDateTimeToTimeStamp(file.Modified, false));
      EXPECT_EQ(FFtp->Size(item->FileName()), static_cast<int64_t>(file.Size)); // round trip
    }
    const TIdFTPListItem* dir = Find(AItems, "sub dir");
    ASSERT_NE(dir, nullptr);
    EXPECT_EQ(dir->ItemType(), ditDirectory);
  }

  std::unique_ptr<test::RealFtpServer> FServer;
  std::unique_ptr<TIdFTP> FFtp;
  std::vector<DiskFile> FFiles;
};

TEST_P(RealListing, ListParsedByTheUnixParserMatchesTheDisk) {
  if (!FFtp) {
    return;
  }
  FFtp->SetUseMLIS(false);
  FFtp->List();
  TIdFTPListItems& items = *FFtp->DirectoryListing();
  EXPECT_EQ(FFtp->DirFormat(), "Unix");
  ExpectTree(items, [](const TIdFTPListItem& AItem) { return AItem.ModifiedDate(); });
  // Servers that follow the link list the target's type; the others name the target.
  const auto* link = dynamic_cast<const TIdUnixFTPListItem*>(Find(items, "link"));
  ASSERT_NE(link, nullptr);
  if (link->ItemType() == ditSymbolicLink) {
    EXPECT_EQ(link->LinkedItemName(), "plain.txt");
  }
}

TEST_P(RealListing, MlsdMatchesTheDisk) {
  if (!FFtp) {
    return;
  }
  if (!FFtp->IsExtSupported("MLSD") && !FFtp->IsExtSupported("MLST")) {
    GTEST_SKIP() << "no MLSD here";
  }
  FFtp->List();
  EXPECT_TRUE(FFtp->ListResult().UsedMLS());
  TIdFTPListItems& items = *FFtp->DirectoryListing();
  EXPECT_EQ(FFtp->DirFormat(), "MLST");
  ExpectTree(items, [](const TIdFTPListItem& AItem) { return AItem.ModifiedDateGMT(); });
}

TEST_P(RealListing, NameListHoldsEveryName) {
  if (!FFtp) {
    return;
  }
  if (GetParam() != RealServerKind::Proftpd) {
    GTEST_SKIP() << "\"NLST -al\": vsftpd answers in long form, pure-ftpd and pyftpdlib refuse it";
  }
  FFtp->List("", false);
  TIdFTPListItems& items = *FFtp->DirectoryListing();
  EXPECT_EQ(FFtp->DirFormat(), "NLST");
  for (const std::string name : {"plain.txt", "sub dir", "caf\xc3\xa9 \xe2\x82\xac.txt"}) {
    Find(items, name);
  }
}

constexpr RealServerKind kAllServers[] = {RealServerKind::Vsftpd, RealServerKind::Proftpd,
                                         RealServerKind::PureFtpd, RealServerKind::Pyftpdlib};

std::string KindName(const ::testing::TestParamInfo<RealServerKind>& AInfo) {
  std::string name = test::RealServerName(AInfo.param);
  std::erase(name, '-');
  return name;
}

INSTANTIATE_TEST_SUITE_P(Servers, RealListing, ::testing::ValuesIn(kAllServers), KindName);

// ---- Verification ------------------------------------------------------------------------

std::string PatternText(size_t ASize) {
  std::string text(ASize, '\0');
  for (size_t i = 0; i < ASize; ++i) {
    text[i] = static_cast<char>(i * 31 % 251);
  }
  return text;
}

TEST(RealVerify, ProftpdDigestsAgreeAndCatchACorruptCopy) {
  auto server = test::StartRealFtpServerOrSkip(RealServerKind::Proftpd);
  if (!server) {
    return;
  }
  test::TempDir local;
  const std::string text = PatternText(100000);
  const std::string localFile = local.Path() + "/v.bin";
  ASSERT_TRUE(test::WriteTextFile(localFile, text));
  ASSERT_TRUE(test::WriteTextFile(server->RootDir() + "/v.bin", text));
  auto ftp = test::LoggedInSession(*server, DataMode::Epsv);
  for (const char* digest : {"XSHA1", "XMD5", "XCRC"}) {
    EXPECT_TRUE(ftp->IsExtSupported(digest)) << digest;
  }
  EXPECT_TRUE(ftp->VerifyFile(localFile));
  // Ranges from 0 and from inside the file, with a count, to the end, and cut to the rest.
  const std::pair<int64_t, int64_t> ranges[] = {
      {0, 5000}, {0, 200000}, {10, 20}, {777, 0}, {99999, 1}, {50000, 200000}};
  for (const auto& [start, count] : ranges) {
    EXPECT_TRUE(ftp->VerifyFile(localFile, "v.bin", start, count)) << start << " +" << count;
  }
  TIdHashCRC32 crc;
  TIdReadFileExclusiveStream stream(localFile);
  EXPECT_EQ(ftp->CRC("v.bin"), static_cast<int64_t>(crc.HashValue(stream)));

  std::string corrupt = text;
  corrupt[54321] ^= 1;
  ASSERT_TRUE(test::WriteTextFile(server->RootDir() + "/v.bin", corrupt));
  SetFileTime(server->RootDir() + "/v.bin", At(2020, 1, 1, 0, 0)); // mod_digest caches by time
  EXPECT_FALSE(ftp->VerifyFile(localFile));
  EXPECT_TRUE(ftp->VerifyFile(localFile, "v.bin", 0, 54321)); // the range before the change
  EXPECT_TRUE(ftp->VerifyFile(localFile, "v.bin", 54322, 0));  // and the one after it
  EXPECT_FALSE(ftp->VerifyFile(localFile, "v.bin", 54000, 1000));
}

TEST(RealVerify, ServerWithoutDigestCommandsGivesFalse) {
  auto server = test::StartRealFtpServerOrSkip(RealServerKind::Vsftpd);
  if (!server) {
    return;
  }
  test::TempDir local;
  ASSERT_TRUE(test::WriteTextFile(local.Path() + "/v.bin", "same"));
  ASSERT_TRUE(test::WriteTextFile(server->RootDir() + "/v.bin", "same"));
  auto ftp = test::LoggedInSession(*server, DataMode::Epsv);
  EXPECT_FALSE(ftp->VerifyFile(local.Path() + "/v.bin"));
  EXPECT_EQ(ftp->CRC("v.bin"), -1);
}

} // namespace
} // namespace ftpc
