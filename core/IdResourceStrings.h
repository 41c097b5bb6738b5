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
inline constexpr std::string_view RSFileCreateError = "Cannot create file \"%s\". %s";
inline constexpr std::string_view RSFileOpenError = "Cannot open file \"%s\". %s";
// ---- end of helpers ----

// ---- Replies ----
// ---- end of replies ----

// ---- Socket stack, socket handles, library loading ----
// ---- end of socket stack ----

// ---- Components, events, intercepts, thread-safe values ----
inline constexpr std::string_view RSStatusResolving = "Resolving hostname %s.";
inline constexpr std::string_view RSStatusConnecting = "Connecting to %s.";
inline constexpr std::string_view RSStatusConnected = "Connected.";
inline constexpr std::string_view RSStatusDisconnecting = "Disconnecting.";
inline constexpr std::string_view RSStatusDisconnected = "Disconnected.";
inline constexpr std::string_view RSStatusText = "%s";
inline constexpr std::string_view RSInterceptCircularLink = "%s: Circular links are not allowed";
inline constexpr std::string_view RSWorkTargetCircularLink =
    "%s: Circular work targets are not allowed";
// ---- end of components ----

// ---- Byte buffer ----
inline constexpr std::string_view RSTooMuchDataInBuffer = "Too much data in buffer.";
inline constexpr std::string_view RSNotEnoughDataInBuffer = "Not enough data in buffer. (%d/%d)";
inline constexpr std::string_view RSBufferMissingTerminator = "Buffer terminator must be specified.";
inline constexpr std::string_view RSBufferInvalidStartPos = "Buffer start position is invalid.";
inline constexpr std::string_view RSBufferNoBytes = "No bytes in buffer.";
inline constexpr std::string_view RSBufferIndexOutOfBounds = "Index out of bounds.";
inline constexpr std::string_view RSBufferCapacityTooSmall = "Capacity cannot be smaller than Size";
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
