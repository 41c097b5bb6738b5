// The listing types, the parser registry and the parsers, fed with lines as servers send them.
#include <gtest/gtest.h>

#include "ftp/IdFTPList.h"
#include "ftp/IdFTPListParseCommon.h"
#include "global/IdGlobalProtocols.h"

namespace ftpc {
namespace {

TDateTime At(uint16_t AYear, uint16_t AMonth, uint16_t ADay, uint16_t AHour = 0,
             uint16_t AMinute = 0, uint16_t ASecond = 0) {
  return EncodeDateTime({AYear, AMonth, ADay, AHour, AMinute, ASecond, 0});
}

// Parses AListing with the parser registered as AFormat.
TIdFTPListItems Parse(const std::vector<std::string>& AListing, const std::string& AFormat) {
  TIdFTPListItems items;
  GFTPListParsers().ParseListing(AListing, items, AFormat);
  return items;
}

// Keeps the opt-in parsers registered only for the tests that ask for them.
class CommonParsers : public ::testing::Test {
protected:
  void SetUp() override { RegisterCommonFTPListParsers(); }
  void TearDown() override {
    UnRegisterFTPListParser(&TIdFTPLPUnix::Instance());
    UnRegisterFTPListParser(&TIdFTPLPWindowsNT::Instance());
    UnRegisterFTPListParser(&TIdFTPLPEPLF::Instance());
  }
};

TEST(FtpListTypes, SplitsLinesAtEveryLineEnd) {
  TIdFTPListResult result;
  result.LoadFromText("a\r\nb\nc\rd\r\n\r\ne");
  EXPECT_EQ(result.Lines(), (std::vector<std::string>{"a", "b", "c", "d", "", "e"}));
  result.LoadFromText("");
  EXPECT_TRUE(result.Lines().empty());
}

TEST(FtpListTypes, LocalFileNameFollowsFileNameUntilChosenApart) {
  TIdFTPListItem item;
  item.SetFileName("README");
  EXPECT_EQ(item.LocalFileName(), "readme");
  item.SetFileName("ReadMe");
  EXPECT_EQ(item.LocalFileName(), "ReadMe");
  item.SetLocalFileName("mine");
  item.SetFileName("other");
  EXPECT_EQ(item.LocalFileName(), "mine");
}

TEST(FtpListTypes, AttributeTexts) {
  TIdWin32ea ea;
  ea.SetFileAttributes(0x21 | TIdWin32ea::faEncrypted | TIdWin32ea::faNotContextIndexed);
  EXPECT_EQ(ea.AsString(), "R  A E      I");
  TIdDOSAttributes dos;
  EXPECT_TRUE(dos.AddAttribute("rash-d"));
  EXPECT_EQ(dos.AsString(), "A  SHR");
  EXPECT_TRUE(dos.AddAttribute("W"));
  EXPECT_FALSE(dos.Read_Only());
  EXPECT_FALSE(dos.AddAttribute("AX"));
}

struct MlstCase {
  const char* Line;
  const char* Name;
  TIdDirItemType Type;
  bool SizeAvail;
  int64_t Size;
  const char* Permissions;
};

TEST(FtpListParse, MlstFacts) {
  const MlstCase cases[] = {
      {"type=file;size=1024;modify=20240102030405;perm=rw; notes file.txt", "notes file.txt",
       ditFile, true, 1024, "rw"},
      {"type=dir;sizd=4096;UNIX.mode=0755; docs", "docs", ditDirectory, true, 4096,
       "drwxr-xr-x"},
      {"Type=DIR; x", "x", ditFile, false, 0, ""},
      {"type=cdir;UNIX.mode=1777; .", ".", ditDirectory, false, 0, "drwxrwxrwt"},
      {"type=file;UNIX.mode=4755;size=x;  lead", " lead", ditFile, true, 0, "-rwsr-xr-x"},
      {"type=file;UNIX.mode=abc; caf\xc3\xa9", "caf\xc3\xa9", ditFile, false, 0, "abc"},
      {"type=file;size=5;", "", ditFile, true, 5, ""},
  };
  for (const MlstCase& c : cases) {
    SCOPED_TRACE(c.Line);
    const TIdFTPListItems items = Parse({c.Line}, "MLST");
    ASSERT_EQ(items.Count(), 1);
    const auto& item = dynamic_cast<const TIdMLSTFTPListItem&>(items.Items(0));
    EXPECT_EQ(item.FileName(), c.Name);
    EXPECT_EQ(item.LocalFileName(), c.Name);
    EXPECT_EQ(item.ItemType(), c.Type);
    EXPECT_EQ(item.SizeAvail(), c.SizeAvail);
    EXPECT_EQ(item.Size(), c.Size);
    EXPECT_EQ(item.PermissionDisplay(), c.Permissions);
  }
}

TEST(FtpListParse, MlstTimesAttributesAndUniqueId) {
  const TIdFTPListItems items = Parse(
      {"modify=20240102030405;create=20230101000000.5;unique=801U2;win32.ea=0x21; a.txt",
       "type=file;modify=20241399000000; bad-date", "type=file; no-date"},
      "MLST");
  ASSERT_EQ(items.Count(), 3);
  const auto& item = dynamic_cast<const TIdMLSTFTPListItem&>(items.Items(0));
  EXPECT_TRUE(item.ModifiedAvail());
  EXPECT_EQ(item.ModifiedDateGMT(), At(2024, 1, 2, 3, 4, 5));
  EXPECT_NEAR(item.ModifiedDate() - item.ModifiedDateGMT(), UtcOffsetOfLocalTime(), 1e-9);
  EXPECT_EQ(item.CreationDateGMT(), At(2023, 1, 1) + 500.0 / MSecsPerDay);
  EXPECT_EQ(item.UniqueID(), "801U2");
  EXPECT_TRUE(item.AttributesAvail());
  EXPECT_EQ(item.Attributes().FileAttributes(), 33u);
  // A date no calendar has costs only that entry its time.
  EXPECT_FALSE(items.Items(1).ModifiedAvail());
  EXPECT_FALSE(items.Items(2).ModifiedAvail());
}

// The parser reads the common stamp forms itself; every form must give what the general
// time-stamp reader gives, and an impossible one no time at all.
TEST(FtpListParse, MlstStampsReadAsTheGeneralReaderReadsThem) {
  const std::string stamps[] = {
      "20240102030405",       "20240102030405.5", "20240102030405.123", "20240102030405.1234",
      "20240229235959",       "00010101000000",   "18991229120000",     "20240102030405+60",
      "20240102030405.25-90", "2024010203",       "20240102030405.",    "202401020304ab"};
  for (const std::string& stamp : stamps) {
    const TIdFTPListItems items = Parse({"modify=" + stamp + "; f"}, "MLST");
    EXPECT_TRUE(items.Items(0).ModifiedAvail()) << stamp;
    EXPECT_EQ(items.Items(0).ModifiedDateGMT(), TimeStampToUtcDateTime(stamp)) << stamp;
  }
  for (const char* stamp :
       {"20230229000000", "20240102240000", "20240102036000", "20241301000000"}) {
    EXPECT_FALSE(Parse({"modify=" + std::string(stamp) + "; f"}, "MLST").Items(0).ModifiedAvail())
        << stamp;
  }
}

TEST(FtpListParse, DefaultRegistryHoldsOnlyNameAndMachineListParsers) {
  std::vector<std::string> others{"stale"};
  GFTPListParsers().EnumFTPListParsers(others);
  EXPECT_TRUE(others.empty());
  TIdFTPListItems items;
  std::string format;
  TIdFTPListParseClass parser = nullptr;
  const std::vector<std::string> names{"README", "", "b c"};
  EXPECT_TRUE(GFTPListParsers().CheckListParseCapa(names, items, format, parser, "", false));
  EXPECT_EQ(format, "NLST");
  ASSERT_EQ(items.Count(), 2);
  EXPECT_EQ(items.Items(0).LocalFileName(), "readme");
  EXPECT_EQ(items.Items(1).FileName(), "b c");
  EXPECT_THROW(GFTPListParsers().CheckListParseCapa({"-rw-r--r-- 1 a b 1 Jan 1 2024 x"}, items,
                                                    format, parser, "", true),
               EIdFTPListParseError);
  EXPECT_FALSE(GFTPListParsers().ParseListing(names, items, "nlst")); // identifiers are exact
  EXPECT_EQ(items.Count(), 0);
}

TEST_F(CommonParsers, RegistryRecognisesEachListFormat) {
  std::vector<std::string> others;
  GFTPListParsers().EnumFTPListParsers(others);
  EXPECT_EQ(others, (std::vector<std::string>{"Unix", "Windows NT", "EPLF"}));
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"total 8", "drwxr-xr-x 2 a b 4096 Jan  2  2024 d"}, "Unix"},
      {{"01-02-24  03:04PM       <DIR>          docs"}, "Windows NT"},
      {{"+i1.2,m825718503,r,s280,\tdjb.html"}, "EPLF"},
      {{"something else"}, ""},
  };
  for (const auto& [listing, format] : cases) {
    EXPECT_EQ(GFTPListParsers().CheckListing(listing, "", true), format);
  }
  EXPECT_EQ(GFTPListParsers().CheckListing(cases[0].first, "", false), "NLST");
}

struct ListCase {
  const char* Line;
  const char* Name;
  TIdDirItemType Type;
  int64_t Size; // -1: not available
  TDateTime Modified;
  const char* Target;
};

void ExpectItem(const TIdFTPListItem& AItem, const ListCase& ACase) {
  SCOPED_TRACE(ACase.Line);
  EXPECT_FALSE(AItem.DirError());
  EXPECT_EQ(AItem.FileName(), ACase.Name);
  EXPECT_EQ(AItem.ItemType(), ACase.Type);
  EXPECT_EQ(AItem.SizeAvail(), ACase.Size >= 0);
  EXPECT_EQ(AItem.Size(), ACase.Size >= 0 ? ACase.Size : 0);
  EXPECT_EQ(AItem.ModifiedDate(), ACase.Modified);
  if (const auto* unix = dynamic_cast<const TIdUnixFTPListItem*>(&AItem)) {
    EXPECT_EQ(unix->LinkedItemName(), ACase.Target);
  }
}

TEST_F(CommonParsers, UnixLines) {
  const ListCase cases[] = {
      {"-rw-r--r--    1 1000     1000         1234 Jan 02  2024 notes file.txt", "notes file.txt",
       ditFile, 1234, At(2024, 1, 2), ""},
      {"drwxr-xr-x 2 ftp 4096 Dec 31 1999  two  spaces", " two  spaces", ditDirectory, 4096,
       At(1999, 12, 31), ""},
      {"lrwxrwxrwx   1 root root 7 Feb 29  2024 link -> target dir", "link", ditSymbolicLink, 7,
       At(2024, 2, 29), "target dir"},
      {"crw-rw-rw-   1 root root   1,   3 Mar  5  2023 null", "null", ditCharDev, -1,
       At(2023, 3, 5), ""},
      {"brw-rw----+  1 root disk 8,0 Apr 10  2022 sda", "sda", ditBlockDev, -1, At(2022, 4, 10),
       ""},
      {"prw-r--r-- 1 a b 0 Jun  1  2021 caf\xc3\xa9 \xe2\x82\xac", "caf\xc3\xa9 \xe2\x82\xac",
       ditFIFO, 0, At(2021, 6, 1), ""},
  };
  std::vector<std::string> listing{"total 42"};
  for (const ListCase& c : cases) {
    listing.emplace_back(c.Line);
  }
  const TIdFTPListItems items = Parse(listing, "Unix");
  ASSERT_EQ(items.Count(), static_cast<int>(std::size(cases)));
  for (int i = 0; i < items.Count(); ++i) {
    ExpectItem(items.Items(i), cases[i]);
  }
  const auto& first = dynamic_cast<const TIdUnixFTPListItem&>(items.Items(0));
  EXPECT_EQ(first.OwnerName(), "1000");
  EXPECT_EQ(first.GroupName(), "1000");
  EXPECT_EQ(first.PermissionDisplay(), "-rw-r--r--");
  const auto& second = dynamic_cast<const TIdUnixFTPListItem&>(items.Items(1));
  EXPECT_EQ(second.OwnerName(), "ftp");
  EXPECT_EQ(second.GroupName(), "");
  EXPECT_EQ(dynamic_cast<const TIdUnixFTPListItem&>(items.Items(3)).GroupName(), "root");
}

// "Mon DD HH:MM" carries no year: the latest such date that is not ahead of now.
TEST_F(CommonParsers, UnixTimeOfDayIsWithinThePastYear) {
  const auto line = [](TDateTime ADay) {
    static const std::string kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const TIdDateTimeParts day = DecodeDateTime(ADay);
    return "-rw-r--r-- 1 a b 1 " + kMonths[day.Month - 1] + " " + std::to_string(day.Day) +
           " 13:45 x";
  };
  const TIdDateTimeParts past = DecodeDateTime(NowUTC() - 1);
  const TIdDateTimeParts ahead = DecodeDateTime(NowUTC() + 5);
  const TIdFTPListItems items = Parse({line(NowUTC() - 1), line(NowUTC() + 5)}, "Unix");
  EXPECT_EQ(items.Items(0).ModifiedDate(), At(past.Year, past.Month, past.Day, 13, 45));
  EXPECT_EQ(items.Items(1).ModifiedDate(), At(ahead.Year - 1, ahead.Month, ahead.Day, 13, 45));
}

TEST_F(CommonParsers, DosAndEplfLines) {
  const ListCase dos[] = {
      {"01-02-24  03:04PM       <DIR>          docs", "docs", ditDirectory, -1,
       At(2024, 1, 2, 15, 4), ""},
      {"12-31-1999  00:15                 1234 a b.txt", "a b.txt", ditFile, 1234,
       At(1999, 12, 31, 0, 15), ""},
      {"06-15-71  12:30AM                    0  lead", " lead", ditFile, 0,
       At(1971, 6, 15, 0, 30), ""},
  };
  const TIdFTPListItems dosItems =
      Parse({dos[0].Line, dos[1].Line, dos[2].Line}, "Windows NT");
  for (int i = 0; i < 3; ++i) {
    ExpectItem(dosItems.Items(i), dos[i]);
  }
  const TIdFTPListItems eplf = Parse(
      {"+i8388621.29609,m824255902,/,\tdev", "+r,s280,up644,\tdjb file.html", "+/,\t"}, "EPLF");
  ASSERT_EQ(eplf.Count(), 3);
  EXPECT_EQ(eplf.Items(0).ItemType(), ditDirectory);
  EXPECT_EQ(eplf.Items(0).ModifiedDateGMT(), UnixToDateTime(824255902));
  EXPECT_FALSE(eplf.Items(0).SizeAvail());
  EXPECT_EQ(eplf.Items(1).FileName(), "djb file.html");
  EXPECT_EQ(eplf.Items(1).Size(), 280);
  EXPECT_EQ(eplf.Items(1).PermissionDisplay(), "-rw-r--r--");
  EXPECT_FALSE(eplf.Items(1).ModifiedAvail());
}

TEST_F(CommonParsers, UnreadableLineStaysAsRawText) {
  const std::pair<const char*, const char*> cases[] = {
      {"-rw-r--r-- 1 a b 12 Foo 1 2024 x", "Unix"},
      {"drwxr-xr-x 1 a b 12 Jan 32 2024 x", "Unix"},
      {"01-02-24  25:04PM  <DIR>  d", "Windows NT"},
      {"01-02-24  03:04PM  12", "Windows NT"},
      {"i1,r\tname", "EPLF"},
  };
  for (const auto& [line, format] : cases) {
    SCOPED_TRACE(line);
    const TIdFTPListItems items = Parse({line}, format);
    ASSERT_EQ(items.Count(), 1);
    EXPECT_TRUE(items.Items(0).DirError());
    EXPECT_EQ(items.Items(0).FileName(), line);
    EXPECT_EQ(items.Items(0).Data(), line);
    EXPECT_FALSE(items.Items(0).SizeAvail());
  }
}

} // namespace
} // namespace ftpc
