// Parsing and formatting of FTP and RFC replies, with multi-line replies as real servers send
// them (greetings, FEAT lists, transfer results, digests).
#include <gtest/gtest.h>

#include "core/IdReplyFTP.h"

namespace ftpc {
namespace {

using Lines = std::vector<std::string>;

struct ParseCase {
  const char* Name;
  Lines Input;
  std::string Code;
  Lines Text;
  TIdReplyRFCFormat Format;
};

const ParseCase kFtpCases[] = {
    {"single line greeting", {"220 (vsFTPd 3.0.3)"}, "220", {"(vsFTPd 3.0.3)"}, rfNormal},
    {"bare code", {"220"}, "220", {""}, rfNormal},
    {"code and space", {"226 "}, "226", {""}, rfNormal},
    {"three dashed lines",
     {"220-Welcome", "220-second", "220 last"},
     "220",
     {"Welcome", "second", "last"},
     rfNormal},
    // The first line's text begins with more dashes: only the one after the code goes.
    {"banner of dashes",
     {"220---------- Welcome to Pure-FTPd [privsep] [TLS] ----------",
      "220-You are user number 1 of 50 allowed.", "220-Local time is now 05:00. Server port: 23020.",
      "220-This is a private system - No anonymous login",
      "220-IPv6 connections are also welcome on this server.",
      "220 You will be disconnected after 15 minutes of inactivity."},
     "220",
     {"--------- Welcome to Pure-FTPd [privsep] [TLS] ----------",
      "You are user number 1 of 50 allowed.", "Local time is now 05:00. Server port: 23020.",
      "This is a private system - No anonymous login",
      "IPv6 connections are also welcome on this server.",
      "You will be disconnected after 15 minutes of inactivity."},
     rfNormal},
    // FEAT as the server sends it: feature lines start with one space.
    {"indented feature list",
     {"211-Features:", " UTF8", " EPRT", " EPSV", " MDTM", " PASV", " REST STREAM", " SIZE",
      " TVFS", "211 End"},
     "211",
     {"Features:", "UTF8", "EPRT", "EPSV", "MDTM", "PASV", "REST STREAM", "SIZE", "TVFS", "End"},
     rfIndentMidLines},
    // The same list after the line reader trimmed it: no indentation left to see.
    {"trimmed feature list",
     {"211-Features:", "UTF8", "EPRT", "REST STREAM", "211 End"},
     "211",
     {"Features:", "UTF8", "EPRT", "REST STREAM", "End"},
     rfNormal},
    {"feature list with parameters",
     {"211-Features:", " CLNT", " HASH CRC32;MD5;SHA-1*;SHA-256;SHA-512;", " LANG C.UTF-8*",
      " MFF modify;UNIX.group;UNIX.mode;",
      " MLST modify*;perm*;size*;type*;unique*;UNIX.group*;UNIX.groupname*;UNIX.mode*;"
      "UNIX.owner*;UNIX.ownername*;",
      " MODE Z", " SITE MKDIR", "211 End"},
     "211",
     {"Features:", "CLNT", "HASH CRC32;MD5;SHA-1*;SHA-256;SHA-512;", "LANG C.UTF-8*",
      "MFF modify;UNIX.group;UNIX.mode;",
      "MLST modify*;perm*;size*;type*;unique*;UNIX.group*;UNIX.groupname*;UNIX.mode*;"
      "UNIX.owner*;UNIX.ownername*;",
      "MODE Z", "SITE MKDIR", "End"},
     rfIndentMidLines},
    {"feature list closing with a dot",
     {"211-Extensions supported:", " UTF8", " MLST type*;size*;sizd*;modify*;UNIX.mode*;",
      " PRET", " AUTH TLS", "211 End."},
     "211",
     {"Extensions supported:", "UTF8", "MLST type*;size*;sizd*;modify*;UNIX.mode*;", "PRET",
      "AUTH TLS", "End."},
     rfIndentMidLines},
    {"feature list closing with words",
     {"211-Features supported:", " EPRT", " MLST type*;perm*;size*;modify*;unique*;unix.mode;",
      "211 End FEAT."},
     "211",
     {"Features supported:", "EPRT", "MLST type*;perm*;size*;modify*;unique*;unix.mode;",
      "End FEAT."},
     rfIndentMidLines},
    {"two-line transfer result",
     {"226-File successfully transferred", "226 0.000 seconds (measured here), 1.38 Mbytes per second"},
     "226",
     {"File successfully transferred", "0.000 seconds (measured here), 1.38 Mbytes per second"},
     rfNormal},
    {"digest", {"250-Computing CRC32 digest", "250 FC06405A"}, "250",
     {"Computing CRC32 digest", "FC06405A"}, rfNormal},
    {"unique file name",
     {"150-FILE: pureftpd.6b178ee8.ba.0000", "150 Accepted data connection"},
     "150",
     {"FILE: pureftpd.6b178ee8.ba.0000", "Accepted data connection"},
     rfNormal},
    // A closing line of another code keeps that code as text; the reply's code stays.
    {"closing line of another code",
     {"226-Transfer complete", "250 Other"},
     "226",
     {"Transfer complete", "250 Other"},
     rfNormal},
    {"unmarked middle line",
     {"230-Welcome", "Please be nice", "\tIndented by a tab", "230 Login successful."},
     "230",
     {"Welcome", "Please be nice", "Indented by a tab", "Login successful."},
     rfNormal},
    {"middle line repeating the code with a space",
     {"214-The following commands are recognized.", "214 USER PASS", "214 Help OK."},
     "214",
     {"The following commands are recognized.", "USER PASS", "Help OK."},
     rfNormal},
    {"no lines", {}, "", {}, rfNormal},
    {"blank first line", {"   "}, "", {"  "}, rfNormal},
};

TEST(ReplyFTPParse, RealServerReplies) {
  for (const ParseCase& c : kFtpCases) {
    TIdReplyFTP reply;
    reply.SetReplyFormat(rfIndentMidLines); // every parse must settle the format itself
    reply.SetFormattedReply(c.Input);
    EXPECT_EQ(reply.Code(), c.Code) << c.Name;
    EXPECT_EQ(reply.Text(), c.Text) << c.Name;
    if (!c.Input.empty()) {
      EXPECT_EQ(reply.ReplyFormat(), c.Format) << c.Name;
    }
  }
}

TEST(ReplyFTPParse, ReusedReplyForgetsThePreviousOne) {
  TIdReplyFTP reply;
  reply.SetFormattedReply({"211-Features:", " MDTM", "211 End"});
  reply.SetFormattedReply({"200 OK"});
  EXPECT_EQ(reply.Code(), "200");
  EXPECT_EQ(reply.Text(), Lines{"OK"});
  EXPECT_EQ(reply.ReplyFormat(), rfNormal);
}

struct InvalidCase {
  Lines Input;
  std::string ReportedCode;
};

TEST(ReplyFTPParse, InvalidCodesRaiseAndLeaveTheReplyEmpty) {
  const InvalidCase cases[] = {
      {{"2201 x"}, "2201"}, {{"Hello there"}, "Hell"}, {{"22 x"}, "22 x"},
      {{"099 x"}, "099"},   {{"+OK ready"}, "+OK"},    {{"-220 x"}, "-220"},
      {{"abc"}, "abc"},     {{"1000"}, "1000"},        {{"22"}, "22"},
      {{"SSH-2.0-OpenSSH_9.2"}, "SSH"},
  };
  for (const InvalidCase& c : cases) {
    TIdReplyFTP reply;
    reply.SetReply(200, "previous");
    try {
      reply.SetFormattedReply(c.Input);
      ADD_FAILURE() << "accepted " << c.Input.front();
    } catch (const EIdException& e) {
      EXPECT_EQ(e.what(), "Reply Code is not valid: " + c.ReportedCode);
    }
    EXPECT_EQ(reply.Code(), "");
    EXPECT_TRUE(reply.Text().empty());
  }
}

const ParseCase kRfcCases[] = {
    {"two lines", {"250-a", "250 b"}, "250", {"a", "b"}, rfNormal},
    // Every line loses its first 4 characters, whatever they are.
    {"middle line without code", {"250-a", "xyzwtext", "ab", "250 b"}, "250",
     {"a", "text", "", "b"}, rfNormal},
    {"bare code", {"250"}, "250", {""}, rfNormal},
    {"exactly four characters", {"250 "}, "250", {""}, rfNormal},
    {"code from the first three characters", {"2501 x"}, "250", {" x"}, rfNormal},
    {"no lines", {}, "", {}, rfNormal},
};

TEST(ReplyRFCParse, CodeFromFirstLineTextAfterFourthCharacter) {
  for (const ParseCase& c : kRfcCases) {
    TIdReplyRFC reply;
    reply.SetFormattedReply(c.Input);
    EXPECT_EQ(reply.Code(), c.Code) << c.Name;
    EXPECT_EQ(reply.Text(), c.Text) << c.Name;
  }
  TIdReplyRFC reply;
  EXPECT_THROW(reply.SetFormattedReply({"+OK hello"}), EIdException);
  EXPECT_THROW(reply.SetFormattedReply({"22"}), EIdException);
}

struct FormatCase {
  Lines Input;
  Lines Formatted;
};

TEST(ReplyFTPFormat, ReproducesTheLineStyle) {
  const FormatCase cases[] = {
      {{"220-Welcome", "220-second", "220 last"}, {"220-Welcome", "220-second", "220 last"}},
      {{"211-Features:", " MDTM", " SIZE", "211 End"},
       {"211-Features:", " MDTM", " SIZE", "211 End"}},
      {{"211-Features:", " MDTM", "211 End"}, {"211-Features:", " MDTM", "211 End"}},
      {{"220"}, {"220 "}},
      {{"220 Ready"}, {"220 Ready"}},
      {{"230-Welcome", "Please be nice", "230 ok"}, {"230-Welcome", "230-Please be nice", "230 ok"}},
      {{"226-Transfer complete", "250 Other"}, {"226-Transfer complete", "226 250 Other"}},
  };
  for (const FormatCase& c : cases) {
    TIdReplyFTP reply;
    reply.SetFormattedReply(c.Input);
    EXPECT_EQ(reply.FormattedReply(), c.Formatted) << c.Input.front();
  }
}

TEST(ReplyFTPFormat, IndentedStyleNeedsThreeLines) {
  TIdReplyFTP reply;
  reply.SetReply(211, "Features:\nEnd");
  reply.SetReplyFormat(rfIndentMidLines);
  EXPECT_EQ(reply.FormattedReply(), (Lines{"211-Features:", "211 End"}));
  reply.SetReply(211, "only");
  EXPECT_EQ(reply.FormattedReply(), Lines{"211 only"});
}

TEST(ReplyRFCFormat, CodeOnEveryLine) {
  TIdReplyRFC reply;
  reply.SetReply(250, "a\r\nb\r\nc");
  EXPECT_EQ(reply.FormattedReply(), (Lines{"250-a", "250-b", "250 c"}));
  reply.SetReply(421, "");
  EXPECT_EQ(reply.FormattedReply(), Lines{"421"});
}

TEST(ReplyFormat, WithoutCodeTheTextStandsAlone) {
  TIdReplyFTP reply;
  EXPECT_TRUE(reply.FormattedReply().empty());
  EXPECT_FALSE(reply.ReplyExists());
  reply.SetText({"just", "text"});
  EXPECT_TRUE(reply.ReplyExists());
  EXPECT_EQ(reply.FormattedReply(), (Lines{"just", "text"}));
}

// What the formatter writes must read back as the same reply, and the reading side must find
// its end at the last line and nowhere before.
TEST(ReplyFTPFormat, RoundTripsThroughTheLineReader) {
  for (const ParseCase& c : kFtpCases) {
    TIdReplyFTP original;
    original.SetFormattedReply(c.Input);
    if (original.NumericCode() < 1) {
      continue;
    }
    const Lines formatted = original.FormattedReply();
    for (size_t i = 0; i < formatted.size(); ++i) {
      EXPECT_EQ(TIdReplyFTP::IsEndMarker(formatted[i]), i + 1 == formatted.size())
          << c.Name << " line " << i;
    }
    TIdReplyFTP copy;
    copy.SetFormattedReply(formatted);
    EXPECT_EQ(copy.NumericCode(), original.NumericCode()) << c.Name;
    EXPECT_EQ(copy.Text(), original.Text()) << c.Name;
    EXPECT_EQ(copy.ReplyFormat(), original.ReplyFormat()) << c.Name;
  }
}

struct EndMarkerCase {
  std::string Line;
  bool Ftp;
  bool Rfc;
};

TEST(ReplyEndMarker, FtpAndRfcRules) {
  const EndMarkerCase cases[] = {
      {"226 Done", true, true},  {"226", true, true},      {"226 ", true, true},
      {"226-More", false, false}, {"Hello", false, false}, {" 226 x", false, false},
      {"22 x", false, false},    {"", false, true},        {"22", true, true},
      {"abc", false, true},      {"2260 x", false, false}, {"+12", true, true},
      {"22a x", false, true},   {"abc def", false, true}, {"250 Other", true, true},
  };
  for (const EndMarkerCase& c : cases) {
    EXPECT_EQ(TIdReplyFTP::IsEndMarker(c.Line), c.Ftp) << "'" << c.Line << "'";
    EXPECT_EQ(TIdReplyRFC::IsEndMarker(c.Line), c.Rfc) << "'" << c.Line << "'";
    EXPECT_FALSE(TIdReply::IsEndMarker(c.Line));
  }
}

} // namespace
} // namespace ftpc
