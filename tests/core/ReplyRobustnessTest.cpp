// Random and truncated lines into the reply parsers: nothing may read out of bounds (run the
// suite under ASan/UBSan), the only error is the reply-code error, and whatever parses must
// format into lines that read back as the same reply.
#include <gtest/gtest.h>

#include <random>

#include "core/IdReplyFTP.h"

namespace ftpc {
namespace {

using Lines = std::vector<std::string>;

// Characters that steer the parsers into their branches: digits, separators, blanks, controls,
// high bytes.
constexpr std::string_view kAlphabet = "0123456789012345 - -+\t\r\naZ\x01\x80\xC3\xA9\xFF";

std::string RandomLine(std::mt19937& ARandom) {
  std::uniform_int_distribution<size_t> length(0, 12);
  std::uniform_int_distribution<size_t> pick(0, kAlphabet.size() - 1);
  std::string line;
  for (size_t n = length(ARandom); n > 0; --n) {
    line.push_back(kAlphabet[pick(ARandom)]);
  }
  return line;
}

// Parses ALines into a fresh reply of type T; false when the code was refused.
template <typename T> bool TryParse(const Lines& ALines, T& VReply) {
  try {
    VReply.SetFormattedReply(ALines);
    return true;
  } catch (const EIdException& e) {
    EXPECT_EQ(std::string(e.what()).rfind("Reply Code is not valid: ", 0), 0u) << e.what();
    EXPECT_EQ(VReply.Code(), "");
    EXPECT_TRUE(VReply.Text().empty());
    return false;
  }
}

void ExpectFtpRoundTrip(const Lines& AInput) {
  TIdReplyFTP reply;
  for (const std::string& line : AInput) {
    (void)TIdReplyFTP::IsEndMarker(line);
    (void)TIdReplyRFC::IsEndMarker(line);
  }
  if (!TryParse(AInput, reply) || reply.NumericCode() < 1) {
    return;
  }
  const Lines formatted = reply.FormattedReply();
  ASSERT_FALSE(formatted.empty());
  EXPECT_TRUE(TIdReplyFTP::IsEndMarker(formatted.back()));
  TIdReplyFTP copy;
  ASSERT_TRUE(TryParse(formatted, copy));
  EXPECT_EQ(copy.NumericCode(), reply.NumericCode());
  // Indented middle lines lose leading blanks of their text when read back; marked lines not.
  if (reply.ReplyFormat() == rfNormal) {
    EXPECT_EQ(copy.Text(), reply.Text());
  }
}

void ParseWithEveryClass(const Lines& AInput) {
  ExpectFtpRoundTrip(AInput);
  TIdReplyRFC rfc;
  if (TryParse(AInput, rfc)) {
    (void)rfc.FormattedReply();
    (void)rfc.ReplyExists();
  }
}

TEST(ReplyRobustness, RandomLines) {
  std::mt19937 random(20240601);
  std::uniform_int_distribution<size_t> lineCount(0, 5);
  for (int round = 0; round < 20000; ++round) {
    Lines lines(lineCount(random));
    for (std::string& line : lines) {
      line = RandomLine(random);
    }
    ParseWithEveryClass(lines);
  }
}

TEST(ReplyRobustness, TruncatedRealReplies) {
  const Lines reply = {"211-Features:", " HASH CRC32;MD5;SHA-1*;", "211-MLST size*;", "226 ",
                       "220---------- Welcome ----------", "250 FC06405A"};
  for (const std::string& line : reply) {
    for (size_t cut = 0; cut <= line.size(); ++cut) {
      const std::string truncated = line.substr(0, cut);
      ParseWithEveryClass({truncated});
      ParseWithEveryClass({"211-Features:", truncated});
      ParseWithEveryClass({truncated, "211 End"});
    }
  }
}

TEST(ReplyRobustness, LongLinesAndManyLines) {
  ParseWithEveryClass({std::string(100000, '2')});
  ParseWithEveryClass({"226-" + std::string(100000, '-'), "226 ok"});
  Lines many(10000, " MDTM");
  many.front() = "211-Features:";
  many.back() = "211 End";
  ParseWithEveryClass(many);
}

} // namespace
} // namespace ftpc
