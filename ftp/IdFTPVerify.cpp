// TIdFTP: checking remote files against local ones with the digest commands many servers offer
// beyond RFC 959 (XSHA1, XMD5, XCRC), the raw XCRC query, and COMB.
#include "ftp/IdFTP.h"

#include <charconv>
#include <filesystem>
#include <memory>

#include "hash/IdHashCRC.h"
#include "hash/IdHashMessageDigest.h"
#include "hash/IdHashSHA1.h"

namespace ftpc {

namespace {

constexpr int16_t kCodeDigestOK = 250;
constexpr int kHexBase = 16;

// The command that asks for a digest, with the hash that computes the same one here.
struct TDigestQuery {
  std::string Command;
  std::unique_ptr<TIdHash> Hash;
};

template <typename THash> std::unique_ptr<TIdHash> MakeHash() {
  return std::make_unique<THash>();
}

// The digest commands that take a range in either form, strongest first.
struct TStrongDigest {
  const char* Command;
  std::unique_ptr<TIdHash> (*MakeHash)();
};
constexpr TStrongDigest kStrongDigests[] = {{"XSHA1", &MakeHash<TIdHashSHA1>},
                                            {"XMD5", &MakeHash<TIdHashMessageDigest5>}};

std::string Quoted(const std::string& AName) { return "\"" + AName + "\""; }

// The bytes to check, and which of them the caller named.
struct TVerifyRange {
  int64_t Start = 0;
  int64_t Count = 0;
  bool StartGiven = false; // a start point above 0
  bool CountGiven = false; // a byte count above 0
  std::string S() const { return std::to_string(Start); }
  std::string Last() const { return std::to_string(Start + Count - 1); }
  std::string End() const { return std::to_string(Start + Count); } // just past the last byte
};

// The strongest digest the server lists. Servers announce the "start;end" form of XSHA1 and
// XMD5 (end: the last byte) by a capability line of their own. Without it a part of the file
// goes as its start and its end just past the last byte: proftpd answers 'XSHA1 "a" 10 30'
// with the digest of bytes 10 to 29 and refuses a start alone (501 Invalid number of
// parameters). From 0 that is the start and the count. The whole file goes by name alone:
// proftpd refuses 'XSHA1 "a" 0' as well.
TDigestQuery DigestQueryFor(const TIdFTP& AFtp, const std::string& AName,
                            const TVerifyRange& ARange) {
  const std::string startAndEnd =
      ARange.CountGiven || ARange.StartGiven ? " " + ARange.S() + " " + ARange.End() : "";
  const std::string startAndLast = " " + ARange.S() + " " + ARange.Last();
  for (const TStrongDigest& digest : kStrongDigests) {
    const std::string command = digest.Command;
    if (AFtp.IsExtSupported(command)) {
      const bool lastByteForm = AFtp.FeatLineIndex(command + " filename;start;end") >= 0;
      return {command + " " + Quoted(AName) + (lastByteForm ? startAndLast : startAndEnd),
              digest.MakeHash()};
    }
  }
  return {"XCRC " + Quoted(AName) + startAndEnd, std::make_unique<TIdHashCRC32>()};
}

// The digest in a 250 reply: the last word of its last text line. Servers answer
// "250 1A2B3C4D", "250 a.bin 1A2B3C4D", or in two lines ("250-Computing CRC32 digest",
// "250 1A2B3C4D").
std::string DigestFromReply(const TIdReply& AReply) {
  const std::vector<std::string>& lines = AReply.Text();
  if (lines.empty()) {
    return {};
  }
  const std::string last = Trim(lines.back());
  const size_t space = last.find_last_of(' ');
  return space == std::string::npos ? last : last.substr(space + 1);
}

// -1 when AText is not a hexadecimal number that fits 63 bits.
int64_t HexValue(std::string_view AText) {
  uint64_t value = 0;
  const auto [end, error] =
      std::from_chars(AText.data(), AText.data() + AText.size(), value, kHexBase);
  if (AText.empty() || error != std::errc() || end != AText.data() + AText.size() ||
      value > static_cast<uint64_t>(INT64_MAX)) {
    return -1;
  }
  return static_cast<int64_t>(value);
}

} // namespace

bool TIdFTP::VerifyFile(const std::string& ALocalFile, const std::string& ARemoteFile,
                        int64_t AStartPoint, int64_t AByteCount) {
  const std::string remote =
      ARemoteFile.empty() ? std::filesystem::path(ALocalFile).filename().string() : ARemoteFile;
  TIdReadFileExclusiveStream stream(ALocalFile);
  return VerifyFile(stream, remote, AStartPoint, AByteCount);
}

bool TIdFTP::VerifyFile(TStream& ALocalFile, const std::string& ARemoteFile, int64_t AStartPoint,
                        int64_t AByteCount) {
  if (AStartPoint >= 0) {
    ALocalFile.SetPosition(AStartPoint);
  }
  TVerifyRange range;
  range.Start = ALocalFile.Position();
  range.Count = Max(ALocalFile.Size() - range.Start, int64_t{0});
  if (AByteCount > 0 && AByteCount < range.Count) {
    range.Count = AByteCount;
  }
  range.CountGiven = AByteCount > 0;
  range.StartGiven = AStartPoint > 0;
  const TDigestQuery query = DigestQueryFor(*this, ARemoteFile, range);
  const std::string local = query.Hash->HashStreamAsHex(ALocalFile, range.Start, range.Count);
  const std::string remote =
      SendCmd(query.Command) == kCodeDigestOK ? DigestFromReply(LastCmdResult()) : std::string();
  return TextEqualsIgnoreCase(local, remote);
}

int64_t TIdFTP::CRC(const std::string& AFIleName, int64_t AStartPoint, int64_t AEndPoint) {
  if (!IsExtSupported("XCRC")) {
    return -1;
  }
  std::string command = "XCRC " + Quoted(AFIleName);
  if (AStartPoint != 0) {
    command += " " + std::to_string(AStartPoint);
    if (AEndPoint != 0) {
      command += " " + std::to_string(AEndPoint);
    }
  }
  return SendCmd(command) == kCodeDigestOK ? HexValue(DigestFromReply(LastCmdResult())) : -1;
}

void TIdFTP::CombineFiles(const std::string& ATargetFile,
                          const std::vector<std::string>& AFileParts) {
  if (!IsExtSupported("COMB") || AFileParts.empty()) {
    return;
  }
  std::string command = "COMB " + Quoted(ATargetFile);
  for (const std::string& part : AFileParts) {
    command += " " + part;
  }
  SendCmd(command, {kCodeDigestOK});
}

} // namespace ftpc
