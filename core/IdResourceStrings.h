// The one table of message texts. Every text a caller can see is a named constant here;
// texts with %s/%d placeholders are formatted with FormatInvariant.
#pragma once

#include <string_view>

namespace ftpc {

// ---- Text, byte, stream and date helpers ----
inline constexpr std::string_view RSInvalidIntegerValue = "'%s' is not a valid integer value";
inline constexpr std::string_view RSFailedTimeZoneInfo =
    "Failed attempting to retrieve time zone information.";
inline constexpr std::string_view RSInvalidCharPos = "Invalid ACharPos";
inline constexpr std::string_view RSAssertionFailure = "Assertion failure (%s)";
inline constexpr std::string_view RSFileCreateError = "Cannot create file \"%s\". %s";
inline constexpr std::string_view RSFileOpenError = "Cannot open file \"%s\". %s";
// ---- end of helpers ----

// ---- Replies ----
inline constexpr std::string_view RSReplyInvalidCode = "Reply Code is not valid: %s";
inline constexpr std::string_view RSReplyCodeAlreadyExists = "Reply Code already exists: %s";
// ---- end of replies ----

// ---- Socket stack, socket handles, library loading ----
// ---- end of socket stack ----

// ---- Components, events, intercepts, thread-safe values ----
// ---- end of components ----

// ---- Byte buffer ----
// ---- end of byte buffer ----

// ---- I/O handler, command exchange, TCP client ----
// ---- end of I/O handler ----

// ---- Proxies and SOCKS ----
// ---- end of proxies ----

// ---- Single-connection listener ----
// ---- end of listener ----

// ---- Hashes and one-time passwords ----
// ---- end of hashes ----

// ---- FTP session ----
// ---- end of FTP session ----

// ---- FTP data channels and transfers ----
// ---- end of FTP transfers ----

// ---- FTP listings, verification, TLS ----
// ---- end of FTP listings ----

} // namespace ftpc
