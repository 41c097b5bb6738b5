// Socket constants for the layers above the stack: handle type, socket types, option
// numbers (Linux values: checked against the headers by IdStackPosix.cpp, translated by
// IdStackWindows.cpp) and the Windows Sockets error numbers that every platform's errors are
// reported as.
#pragma once

#include <cstdint>

namespace ftpc {

using TIdStackSocketHandle = int;
using TIdPort = uint16_t;

inline constexpr TIdStackSocketHandle Id_INVALID_SOCKET = -1;
inline constexpr int Id_SOCKET_ERROR = -1;

// Readiness-wait time-outs in milliseconds.
inline constexpr int32_t IdTimeoutDefault = -1;
inline constexpr int32_t IdTimeoutInfinite = -2;

// Socket types and protocols.
inline constexpr int Id_SOCK_STREAM = 1;
inline constexpr int Id_SOCK_DGRAM = 2;
inline constexpr int Id_SOCK_RAW = 3;
inline constexpr int Id_IPPROTO_IP = 0;
inline constexpr int Id_IPPROTO_TCP = 6;
inline constexpr int Id_IPPROTO_UDP = 17;

// Option levels and options (Linux values).
inline constexpr int Id_SOL_SOCKET = 1;
inline constexpr int Id_SO_REUSEADDR = 2;
inline constexpr int Id_SO_BROADCAST = 6;
inline constexpr int Id_SO_KEEPALIVE = 9;
inline constexpr int Id_SO_RCVBUF = 8;
inline constexpr int Id_SO_SNDBUF = 7;
inline constexpr int Id_TCP_NODELAY = 1;
inline constexpr int Id_IPPROTO_IPV6 = 41;
inline constexpr int Id_IP_MULTICAST_TTL = 33;
inline constexpr int Id_IP_MULTICAST_LOOP = 34;
inline constexpr int Id_IP_ADD_MEMBERSHIP = 35;
inline constexpr int Id_IP_DROP_MEMBERSHIP = 36;
inline constexpr int Id_IPV6_MULTICAST_HOPS = 18;
inline constexpr int Id_IPV6_MULTICAST_LOOP = 19;
inline constexpr int Id_IPV6_ADD_MEMBERSHIP = 20;
inline constexpr int Id_IPV6_DROP_MEMBERSHIP = 21;

// Shutdown directions.
inline constexpr int Id_SD_Recv = 0;
inline constexpr int Id_SD_Send = 1;
inline constexpr int Id_SD_Both = 2;

// Windows Sockets error numbers: the codes in EIdSocketError::LastError() on every platform.
inline constexpr int Id_WSA_NOT_ENOUGH_MEMORY = 8;
inline constexpr int Id_WSAEINTR = 10004;
inline constexpr int Id_WSAEBADF = 10009;
inline constexpr int Id_WSAEACCES = 10013;
inline constexpr int Id_WSAEFAULT = 10014;
inline constexpr int Id_WSAEINVAL = 10022;
inline constexpr int Id_WSAEMFILE = 10024;
inline constexpr int Id_WSAEWOULDBLOCK = 10035;
inline constexpr int Id_WSAEINPROGRESS = 10036;
inline constexpr int Id_WSAEALREADY = 10037;
inline constexpr int Id_WSAENOTSOCK = 10038;
inline constexpr int Id_WSAEDESTADDRREQ = 10039;
inline constexpr int Id_WSAEMSGSIZE = 10040;
inline constexpr int Id_WSAEPROTOTYPE = 10041;
inline constexpr int Id_WSAENOPROTOOPT = 10042;
inline constexpr int Id_WSAEPROTONOSUPPORT = 10043;
inline constexpr int Id_WSAESOCKTNOSUPPORT = 10044;
inline constexpr int Id_WSAEOPNOTSUPP = 10045;
inline constexpr int Id_WSAEPFNOSUPPORT = 10046;
inline constexpr int Id_WSAEAFNOSUPPORT = 10047;
inline constexpr int Id_WSAEADDRINUSE = 10048;
inline constexpr int Id_WSAEADDRNOTAVAIL = 10049;
inline constexpr int Id_WSAENETDOWN = 10050;
inline constexpr int Id_WSAENETUNREACH = 10051;
inline constexpr int Id_WSAENETRESET = 10052;
inline constexpr int Id_WSAECONNABORTED = 10053;
inline constexpr int Id_WSAECONNRESET = 10054;
inline constexpr int Id_WSAENOBUFS = 10055;
inline constexpr int Id_WSAEISCONN = 10056;
inline constexpr int Id_WSAENOTCONN = 10057;
inline constexpr int Id_WSAESHUTDOWN = 10058;
inline constexpr int Id_WSAETOOMANYREFS = 10059;
inline constexpr int Id_WSAETIMEDOUT = 10060;
inline constexpr int Id_WSAECONNREFUSED = 10061;
inline constexpr int Id_WSAELOOP = 10062;
inline constexpr int Id_WSAENAMETOOLONG = 10063;
inline constexpr int Id_WSAEHOSTDOWN = 10064;
inline constexpr int Id_WSAEHOSTUNREACH = 10065;
inline constexpr int Id_WSAENOTEMPTY = 10066;
inline constexpr int Id_WSANOTINITIALISED = 10093;
inline constexpr int Id_WSATYPE_NOT_FOUND = 10109;
inline constexpr int Id_WSAHOST_NOT_FOUND = 11001;
inline constexpr int Id_WSATRY_AGAIN = 11002;
inline constexpr int Id_WSANO_RECOVERY = 11003;
inline constexpr int Id_WSANO_DATA = 11004;

} // namespace ftpc
