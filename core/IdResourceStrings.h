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
inline constexpr std::string_view RSStreamReadError = "Stream read error";
inline constexpr std::string_view RSStreamWriteError = "Stream write error";
inline constexpr std::string_view RSStreamSeekError = "Stream seek error";
inline constexpr std::string_view RSStreamSizeError = "Stream size error";
inline constexpr std::string_view RSInvalidStreamPosition = "Invalid stream position";
// A read, write, seek or size failure on a file: the operation's text, the path, the system text.
inline constexpr std::string_view RSFileStreamIOError = "%s in file \"%s\". %s";
// A stream helper called with an argument its contract forbids (a negative offset, ...).
inline constexpr std::string_view RSStreamInvalidArgument = "Invalid argument to %s";
inline constexpr std::string_view RSInvalidDate = "Invalid date (year %d, month %d, day %d)";
inline constexpr std::string_view RSInvalidTime =
    "Invalid time (hour %d, minute %d, second %d, millisecond %d)";
inline constexpr std::string_view RSDateTimeOutOfRange = "Date-time value out of range";
// ---- end of helpers ----

// ---- Replies ----
// ---- end of replies ----

// ---- Socket stack, socket handles, library loading ----
// ---- end of socket stack ----

// ---- Components, events, intercepts, thread-safe values ----
// ---- end of components ----

// ---- Byte buffer ----
// ---- end of byte buffer ----

// ---- I/O handler, command exchange, TCP client ----
// I/O handler (reading and writing)
inline constexpr std::string_view RSNotConnected = "Not Connected";
inline constexpr std::string_view RSReadTimeout = "Read timed out.";
inline constexpr std::string_view RSReadLnMaxLineLengthExceeded = "Max line length exceeded.";
inline constexpr std::string_view RSReadLnWaitMaxAttemptsExceeded =
    "Max line read attempts exceeded.";
inline constexpr std::string_view RSClosedSocket = "Disconnected.";
inline constexpr std::string_view RSDataTooLargeForStream = "Data is too large for stream";
inline constexpr std::string_view RSRequiresLargeStream =
    "Set LargeStream to True to send streams greater than 2GB";
inline constexpr std::string_view RSNoDataToRead = "No data to read.";
inline constexpr std::string_view RSFileNotFound = "File \"%s\" not found";
inline constexpr std::string_view RSIOHandlerTypeNotInstalled =
    "No IOHandler of type %s is installed.";
inline constexpr std::string_view RSTransportOverran = "The transport returned more bytes than asked for.";
// end of I/O handler
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
