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
inline constexpr std::string_view RSInvalidDate = "Invalid date (year %d, month %d, day %d)";
inline constexpr std::string_view RSInvalidTime =
    "Invalid time (hour %d, minute %d, second %d, millisecond %d)";
inline constexpr std::string_view RSDateTimeOutOfRange = "Date-time value out of range";
// ---- end of helpers ----

// ---- Replies ----
inline constexpr std::string_view RSReplyInvalidCode = "Reply Code is not valid: %s";
inline constexpr std::string_view RSReplyCodeAlreadyExists = "Reply Code already exists: %s";
inline constexpr std::string_view RSReplyTooLarge = "Reply exceeds its size limit.";
// ---- end of replies ----

// ---- Socket stack, socket handles, library loading ----
inline constexpr std::string_view RSStackError = "Socket Error # %d\r\n%s";
inline constexpr std::string_view RSStackEINTR = "Interrupted system call.";
inline constexpr std::string_view RSStackEBADF = "Bad file number.";
inline constexpr std::string_view RSStackEACCES = "Access denied.";
inline constexpr std::string_view RSStackEFAULT = "Buffer fault.";
inline constexpr std::string_view RSStackEINVAL = "Invalid argument.";
inline constexpr std::string_view RSStackEMFILE = "Too many open files.";
inline constexpr std::string_view RSStackEWOULDBLOCK = "Operation would block.";
inline constexpr std::string_view RSStackEINPROGRESS = "Operation now in progress.";
inline constexpr std::string_view RSStackEALREADY = "Operation already in progress.";
inline constexpr std::string_view RSStackENOTSOCK = "Socket operation on non-socket.";
inline constexpr std::string_view RSStackEDESTADDRREQ = "Destination address required.";
inline constexpr std::string_view RSStackEMSGSIZE = "Message too long.";
inline constexpr std::string_view RSStackEPROTOTYPE = "Protocol wrong type for socket.";
inline constexpr std::string_view RSStackENOPROTOOPT = "Bad protocol option.";
inline constexpr std::string_view RSStackEPROTONOSUPPORT = "Protocol not supported.";
inline constexpr std::string_view RSStackESOCKTNOSUPPORT = "Socket type not supported.";
inline constexpr std::string_view RSStackEOPNOTSUPP = "Operation not supported on socket.";
inline constexpr std::string_view RSStackEPFNOSUPPORT = "Protocol family not supported.";
inline constexpr std::string_view RSStackEAFNOSUPPORT =
    "Address family not supported by protocol family.";
inline constexpr std::string_view RSStackEADDRINUSE = "Address already in use.";
inline constexpr std::string_view RSStackEADDRNOTAVAIL = "Cannot assign requested address.";
inline constexpr std::string_view RSStackENETDOWN = "Network is down.";
inline constexpr std::string_view RSStackENETUNREACH = "Network is unreachable.";
inline constexpr std::string_view RSStackENETRESET = "Net dropped connection or reset.";
inline constexpr std::string_view RSStackECONNABORTED = "Software caused connection abort.";
inline constexpr std::string_view RSStackECONNRESET = "Connection reset by peer.";
inline constexpr std::string_view RSStackENOBUFS = "No buffer space available.";
inline constexpr std::string_view RSStackEISCONN = "Socket is already connected.";
inline constexpr std::string_view RSStackENOTCONN = "Socket is not connected.";
inline constexpr std::string_view RSStackESHUTDOWN = "Cannot send or receive after socket is closed.";
inline constexpr std::string_view RSStackETOOMANYREFS = "Too many references, cannot splice.";
inline constexpr std::string_view RSStackETIMEDOUT = "Connection timed out.";
inline constexpr std::string_view RSStackECONNREFUSED = "Connection refused.";
inline constexpr std::string_view RSStackELOOP = "Too many levels of symbolic links.";
inline constexpr std::string_view RSStackENAMETOOLONG = "File name too long.";
inline constexpr std::string_view RSStackEHOSTDOWN = "Host is down.";
inline constexpr std::string_view RSStackEHOSTUNREACH = "No route to host.";
inline constexpr std::string_view RSStackENOTEMPTY = "Directory not empty";
inline constexpr std::string_view RSStackHOST_NOT_FOUND = "Host not found.";
inline constexpr std::string_view RSIPVersionUnsupported =
    "The requested IPVersion / Address family is not supported.";
inline constexpr std::string_view RSIPv6Unavailable = "IPv6 unavailable";
inline constexpr std::string_view RSInvalidServiceName = "%s is not a valid service.";
inline constexpr std::string_view RSSetSizeExceeded = "Set Size Exceeded.";
inline constexpr std::string_view RSPackageSizeTooBig = "Package Size Too Big.";
inline constexpr std::string_view RSNotAllBytesSent = "Not all bytes sent.";
inline constexpr std::string_view RSStackAlreadyCreated = "Stack already created.";
inline constexpr std::string_view RSStackClassUndefined = "Stack Class is undefined.";
inline constexpr std::string_view RSInvalidIPv6Address = "%s is not a valid IPv6 address";
inline constexpr std::string_view RSRangeCheckError = "Range check error";
inline constexpr std::string_view RSWinsockLoadError = "Error on loading Winsock2 library (%s)";
inline constexpr std::string_view RSWinsockCallError = "Error on call to Winsock2 library function %s";
inline constexpr std::string_view RSWinsockStubErrorMessage = "%s: %s";
inline constexpr std::string_view RSCannotBindSocket =
    "Could not bind socket. Address and port are already in use.";
inline constexpr std::string_view RSInvalidPortRange = "Invalid Port Range (%d - %d)";
inline constexpr std::string_view RSCannotBindRange = "Can not bind in port range (%d - %d)";
inline constexpr std::string_view RSCannotSetIPVersionWhenConnected =
    "Cannot change IPVersion when connected";
inline constexpr std::string_view RSConnectionClosedGracefully = "Connection Closed Gracefully.";
inline constexpr std::string_view RSCannotAssign = "Cannot assign a %s to a %s";
inline constexpr std::string_view RSOnlyOneAntiFreeze =
    "Only one TIdAntiFreeze can exist per application.";
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
inline constexpr std::string_view RSTransportOverran =
    "The transport returned more bytes than asked for.";
// end of I/O handler
// Command exchange and TCP client:
inline constexpr std::string_view RSCommandLineHasLineBreak =
    "A command line must not contain CR or LF characters.";
inline constexpr std::string_view RSIOHandlerCannotChange = "Cannot change a connected IOHandler.";
inline constexpr std::string_view RSIOHandlerDifferentIntercept =
    "The IOHandler already has a different Intercept assigned";
inline constexpr std::string_view RSAlreadyConnected = "Already connected.";
inline constexpr std::string_view RSConnectTimeout = "Connect timed out.";
// ---- end of I/O handler ----

// ---- Proxies and SOCKS ----
inline constexpr std::string_view RSTransparentProxyCannotBind = "Transparent proxy cannot bind.";
inline constexpr std::string_view RSTransparentProxyNoUDP = "UDP Not supported by this proxy.";
inline constexpr std::string_view RSTransparentProxyCircularLink =
    "%s: Circular links are not allowed";
inline constexpr std::string_view RSTransparentProxyNotInstalled =
    "No transparent proxy class is installed.";
inline constexpr std::string_view RSSocksUDPNotSupported =
    "UDP is not support in this SOCKS version.";
inline constexpr std::string_view RSSocksServerRespondError = "Socks server did not respond.";
inline constexpr std::string_view RSSocksAuthMethodError = "Invalid socks authentication method.";
inline constexpr std::string_view RSSocksAuthError = "Authentication error to socks server.";
inline constexpr std::string_view RSSocksRequestFailed = "Request rejected or failed.";
inline constexpr std::string_view RSSocksRequestServerFailed =
    "Request rejected because SOCKS server cannot connect.";
inline constexpr std::string_view RSSocksRequestIdentFailed =
    "Request rejected because the client program and identd report different user-ids.";
inline constexpr std::string_view RSSocksServerGeneralError = "General SOCKS server failure.";
inline constexpr std::string_view RSSocksServerPermissionError =
    "Connection not allowed by ruleset.";
inline constexpr std::string_view RSSocksServerNetUnreachableError = "Network unreachable.";
inline constexpr std::string_view RSSocksServerHostUnreachableError = "Host unreachable.";
inline constexpr std::string_view RSSocksServerConnectionRefusedError = "Connection refused.";
inline constexpr std::string_view RSSocksServerTTLExpiredError = "TTL expired.";
inline constexpr std::string_view RSSocksServerCommandError = "Command not supported.";
inline constexpr std::string_view RSSocksServerAddressError = "Address type not supported.";
inline constexpr std::string_view RSSocksUnknownError = "Unknown socks error.";
// ---- end of proxies ----

// ---- Single-connection listener ----
inline constexpr std::string_view RSAcceptTimeout = "Accept timed out.";
inline constexpr std::string_view RSCannotUseNonSocketIOHandler = "Cannot use a non-socket IOHandler";
// ---- end of listener ----

// ---- Hashes and one-time passwords ----
inline constexpr std::string_view RSOTPUnknownMethod = "Unknown OTP method";
inline constexpr std::string_view RSOTPCountTooLarge = "OTP sequence count too large";
// ---- end of hashes ----

// ---- FTP session ----
inline constexpr std::string_view RSFTPStatusReady = "Connection established";
inline constexpr std::string_view RSFTPUnknownSystem = "Unknown";
inline constexpr std::string_view RSFTPWrongIOHandler = "IOHandler is of wrong type.";
inline constexpr std::string_view RSFTPOnCustomFTPProxyReq =
    "OnCustomFTPProxy required but not assigned";
inline constexpr std::string_view RSFTPPassiveMustBeTrueWithNATFT =
    "Can not use active transfers with NAT fastracking.";
inline constexpr std::string_view RSFTPMustUseExtWithIPv6 =
    "UseExtensionDataPort must be true for IPv6 connections.";
inline constexpr std::string_view RSFTPMustUseExtWithNATFastTrack =
    "UseExtensionDataPort must be true for NAT fasttracking.";
inline constexpr std::string_view RSFTPUnsupportedTransferType = "Unsupported transfer type.";
inline constexpr std::string_view RSTLSClientCanNotSetWhileConnected =
    "This value can not be set while the client is connected.";
inline constexpr std::string_view RSTLSClientSSLIOHandlerRequred =
    "SSL IOHandler is required for this setting";
inline constexpr std::string_view RSTLSClientTLSNotAvailable = "SSL is not available on this server.";
inline constexpr std::string_view RSTLSClientTLSNegCmdFailed = "Start SSL negotiation command failed.";
inline constexpr std::string_view RSFTPNoDataPortProtectionWOEncryption =
    "Can not set DataPortProtection with unencrypted connections.";
inline constexpr std::string_view RSFTPNoDataPortProtectionAfterCCC =
    "Can not set DataPortProtection after CCC issued.";
inline constexpr std::string_view RSFTPNoAUTHWOSSL = "Can not set AUTH without SSL.";
inline constexpr std::string_view RSFTPCanNotSetAUTHCon = "Can not set AUTH while connected.";
inline constexpr std::string_view RSFTPNoCCCWOEncryption = "Can not set CCC without encyption.";
inline constexpr std::string_view RSFTPMissingCompressor = "No Compressor is assigned.";
inline constexpr std::string_view RSFTPCompressorNotReady = "Compressor is not ready.";
inline constexpr std::string_view RSFTPUnsupportedTransferMode = "Unsupported transfer mode.";
// ---- end of FTP session ----

// ---- FTP data channels and transfers ----
inline constexpr std::string_view RSFTPServerSentInvalidPort = "Server sent invalid port number (%s)";
// A 227 or 229 reply that names something other than a numeric address.
inline constexpr std::string_view RSFTPServerSentInvalidAddress =
    "Server sent invalid address (%s)";
inline constexpr std::string_view RSFTPFileAlreadyExists = "Destination file already exists.";
inline constexpr std::string_view RSFTPUploadFileNameCanNotBeEmpty =
    "The destination filename can not be empty";
inline constexpr std::string_view RSFTPStatusStartTransfer = "Starting FTP transfer";
inline constexpr std::string_view RSFTPStatusDoneTransfer = "Transfer complete";
inline constexpr std::string_view RSFTPStatusAbortTransfer = "Transfer aborted";
inline constexpr std::string_view RSFTPSToSNATFastTrack =
    "No Site to Site transfers are permitted with a FTP NAT fastracked connection.";
inline constexpr std::string_view RSFTPSToSIPProtoMustBeSame = "Transport protocols must be the same.";
inline constexpr std::string_view RSFTPSToSTransModesMustBeSame = "Transfer modes must be the same.";
inline constexpr std::string_view RSFTPSToSNoDataProtection =
    "Can't use dataprotection on site to site transfer.";
inline constexpr std::string_view RSFTPSSCNNotSupported = "SSCN is not supported on both servers.";
// ---- end of FTP transfers ----

// ---- FTP listings, verification, TLS ----
inline constexpr std::string_view RSFTPListNoParsers =
    "No FTP list parsers have been registered.";
// ---- end of FTP listings ----

// ---- Deflate compressor plug-in ----
inline constexpr std::string_view RSZLibError = "Deflate error %d: %s";
inline constexpr std::string_view RSZLibTruncated = "Compressed data ended before its end marker.";
// ---- end of compressor ----

} // namespace ftpc
