// The readers of what an FTP server says: the data addresses of 227 and 229 replies, the PWD,
// SIZE, SITE ZONE and STOU answers, and the capability list of a FEAT reply. Free functions of
// the reply text, so every server dialect they accept can be checked without a connection.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "global/IdGlobal.h"

namespace ftpc {

// Where a passive data connection goes.
struct TIdFTPDataAddress {
  std::string Host;
  uint16_t Port = 0;
};

// The AUTH arguments (RFC 4217 and its predecessors), in the order an automatic choice tries
// them.
inline constexpr std::array<const char*, 4> kFTPAuthArguments = {"TLS", "SSL", "TLS-C", "TLS-P"};

// ---- Data addresses ------------------------------------------------------------------------

// The first text line of a 227 reply (PASV, CPSV): "Entering Passive Mode (127,0,0,1,4,51)",
// also without parentheses ("Entering Passive Mode 127,0,0,1,4,51", "=127,0,0,1,4,51"). The
// address pieces must be decimal numbers 0..255 (EIdFTPServerSentInvalidAddress otherwise); of
// the port pieces only the low 8 bits count, and a non-numeric one raises EIdConvertError.
TIdFTPDataAddress ParsePASVReply(const std::string& ALine);
// The first text line of a 229 reply (EPSV, RFC 2428): "Entering Extended Passive Mode
// (|||6446|)", any delimiter, an optional numeric address (AControlHost when empty). Raises
// EIdFTPServerSentInvalidPort for a port outside 1..65535 and EIdFTPServerSentInvalidAddress
// for an address that is not a numeric IPv4 or IPv6 literal.
TIdFTPDataAddress ParseEPSVReply(const std::string& ALine, const std::string& AControlHost);

// ---- Command answers -----------------------------------------------------------------------

// '257 "/home/user" is current directory.' gives /home/user; "" without a closing quote. A
// doubled quote inside the name (RFC 959 escaping) is not undone: the result ends at it.
std::string DirectoryFromPWDReply(const std::string& ALine);
// The number after the first space of the trimmed text of a 213 SIZE reply ("213 1234" read
// whole, or "1234"); -1 when it is not a number.
int64_t SizeFromReply(const std::string& ATextWithLineEnds);
// "UTC-300" from a 210 SITE ZONE reply: the number after the first three characters is the
// zone's offset in minutes, with the opposite sign of the offset returned; empty when it is
// missing or unreadable.
std::optional<TDateTime> ZoneOffsetFromReply(const std::string& ALine);
// The name a STOU preliminary reply gives the stored file: "FILE: STOU.1" (RFC 1123 4.1.2.9),
// also on the first line of a multi-line reply; "" when no line names one.
std::string UniqueNameFromReply(const std::vector<std::string>& ALines);

// ---- The capability list (RFC 2389) --------------------------------------------------------

// The capability lines of a 211 FEAT reply's text: without the "Features:" and "End" lines.
std::vector<std::string> CapabilitiesFromFeatReply(std::vector<std::string> AText);
// Whether a capability line's first word is ACmd, ignoring case.
bool CapabilityListed(const std::vector<std::string>& ACapabilities, std::string_view ACmd);
// The ";"-separated facts of the first line whose first word (leading blanks kept) is ACmd,
// ignoring case: "MLST size*;modify*;" gives "size*", "modify*". Empty when none matches.
std::vector<std::string> CapabilityFacts(const std::vector<std::string>& ACapabilities,
                                         std::string_view ACmd);
// 0-based index of the line whose first word (or, when AFeatLine holds a space, whole text)
// equals AFeatLine ignoring case; -1 when none.
int CapabilityLineIndex(const std::vector<std::string>& ACapabilities,
                        const std::string& AFeatLine);
// 0-based index of the line that, trimmed, equals AText exactly; -1 when none.
int CapabilityLineIndexExact(const std::vector<std::string>& ACapabilities,
                             const std::string& AText);
// Whether the AUTH line lists one of kFTPAuthArguments.
bool CapabilitiesOfferTLS(const std::vector<std::string>& ACapabilities);

} // namespace ftpc
