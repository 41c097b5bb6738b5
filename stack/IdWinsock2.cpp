#include "stack/IdWinsock2.h"

#include <windows.h>

#include <cstdlib>

#include "base/IdResourceStrings.h"
#include "stack/IdStack.h"

namespace ftpc::winsock {

namespace {

constexpr const char* kSocketLibrary = "WS2_32.DLL";
constexpr const char* kResolverLibrary = "Wship6.dll";
constexpr WORD kWinsockVersion = MAKEWORD(2, 2); // 514

// Written by StartWinsock and LoadResolver, which the stack lock serialises; read by the
// binding of every function.
std::atomic<HMODULE> GSocketLibrary{nullptr};
HMODULE GResolverLibrary = nullptr;

using TStartup = decltype(&::WSAStartup);
using TCleanup = decltype(&::WSACleanup);

template <typename TPointer> TPointer Lookup(HMODULE ALibrary, const char* AName) {
  return reinterpret_cast<TPointer>(reinterpret_cast<void*>(::GetProcAddress(ALibrary, AName)));
}

HMODULE LoadQuietly(const char* AName) {
  // No dialog box when a library is missing: the caller reports it.
  const UINT previous = ::SetErrorMode(SEM_NOOPENFILEERRORBOX);
  HMODULE library = ::LoadLibraryA(AName);
  ::SetErrorMode(previous);
  return library;
}

void ReleaseResolver() {
  GetAddrInfoW.Set(nullptr);
  GetNameInfoW.Set(nullptr);
  FreeAddrInfoW.Set(nullptr);
  SetIPv6FuncsAvailable(false);
  if (GResolverLibrary != nullptr) {
    ::FreeLibrary(GResolverLibrary);
    GResolverLibrary = nullptr;
  }
}

void StopWinsock() {
  ReleaseResolver();
  HMODULE library = GSocketLibrary.exchange(nullptr);
  if (library != nullptr) {
    if (auto cleanup = Lookup<TCleanup>(library, "WSACleanup")) {
      cleanup();
    }
    ::FreeLibrary(library);
  }
}

[[noreturn]] void RaiseLoadError(DWORD ACode, const char* ALibrary) {
  throw EIdWinsockStubError::Build(static_cast<int32_t>(ACode), RSWinsockLoadError, {ALibrary});
}

} // namespace

void StartWinsock() {
  if (GSocketLibrary.load() != nullptr) {
    return;
  }
  HMODULE library = LoadQuietly(kSocketLibrary);
  if (library == nullptr) {
    RaiseLoadError(::GetLastError(), kSocketLibrary);
  }
  WSADATA data{};
  const auto startup = Lookup<TStartup>(library, "WSAStartup");
  const int rc = startup == nullptr ? ERROR_PROC_NOT_FOUND : startup(kWinsockVersion, &data);
  if (rc != 0) {
    ::FreeLibrary(library);
    RaiseLoadError(static_cast<DWORD>(rc), kSocketLibrary);
  }
  GSocketLibrary.store(library);
  std::atexit(StopWinsock);
}

void LoadResolver() {
  SetIPv6FuncsAvailable(false);
  StartWinsock();
  HMODULE library = GSocketLibrary.load();
  if (::GetProcAddress(library, "GetAddrInfoW") == nullptr) {
    GResolverLibrary = LoadQuietly(kResolverLibrary);
    library = GResolverLibrary;
  }
  if (library != nullptr) {
    GetAddrInfoW.Set(Lookup<decltype(GetAddrInfoW)::TPointer>(library, GetAddrInfoW.Name()));
    GetNameInfoW.Set(Lookup<decltype(GetNameInfoW)::TPointer>(library, GetNameInfoW.Name()));
    FreeAddrInfoW.Set(Lookup<decltype(FreeAddrInfoW)::TPointer>(library, FreeAddrInfoW.Name()));
  }
  if (GetAddrInfoW.Bound() && GetNameInfoW.Bound() && FreeAddrInfoW.Bound()) {
    SetIPv6FuncsAvailable(true);
    return;
  }
  ReleaseResolver();
}

FARPROC BindByName(const char* AName) {
  HMODULE library = GSocketLibrary.load();
  if (library == nullptr) {
    throw EIdWinsockStubError::Build(WSANOTINITIALISED, RSWinsockCallError, {AName});
  }
  FARPROC address = ::GetProcAddress(library, AName);
  if (address == nullptr) {
    throw EIdWinsockStubError::Build(WSAEINVAL, RSWinsockCallError, {AName});
  }
  return address;
}

void* BindExtension(SOCKET ASocket, const GUID& AId, const char* AName) {
  GUID id = AId;
  void* address = nullptr;
  DWORD returned = 0;
  if (WSAIoctl(ASocket, SIO_GET_EXTENSION_FUNCTION_POINTER, &id, sizeof(id), &address,
               sizeof(address), &returned, nullptr, nullptr) != 0) {
    throw EIdWinsockStubError::Build(WSAGetLastError(), RSWinsockCallError, {AName});
  }
  return address;
}

TFunctionSlot<decltype(::accept)> accept{"accept"};
TFunctionSlot<decltype(::bind)> bind{"bind"};
TFunctionSlot<decltype(::closesocket)> closesocket{"closesocket"};
TFunctionSlot<decltype(::connect)> connect{"connect"};
TFunctionSlot<decltype(::ioctlsocket)> ioctlsocket{"ioctlsocket"};
TFunctionSlot<decltype(::getpeername)> getpeername{"getpeername"};
TFunctionSlot<decltype(::getsockname)> getsockname{"getsockname"};
TFunctionSlot<decltype(::getsockopt)> getsockopt{"getsockopt"};
TFunctionSlot<decltype(::listen)> listen{"listen"};
TFunctionSlot<decltype(::recv)> recv{"recv"};
TFunctionSlot<decltype(::recvfrom)> recvfrom{"recvfrom"};
TFunctionSlot<decltype(::select)> select{"select"};
TFunctionSlot<decltype(::send)> send{"send"};
TFunctionSlot<decltype(::sendto)> sendto{"sendto"};
TFunctionSlot<decltype(::setsockopt)> setsockopt{"setsockopt"};
TFunctionSlot<decltype(::shutdown)> shutdown{"shutdown"};
TFunctionSlot<decltype(::socket)> socket{"socket"};
TFunctionSlot<decltype(::gethostbyaddr)> gethostbyaddr{"gethostbyaddr"};
TFunctionSlot<decltype(::gethostbyname)> gethostbyname{"gethostbyname"};
TFunctionSlot<decltype(::gethostname)> gethostname{"gethostname"};
TFunctionSlot<decltype(::getservbyport)> getservbyport{"getservbyport"};
TFunctionSlot<decltype(::getservbyname)> getservbyname{"getservbyname"};
TFunctionSlot<decltype(::WSAGetLastError)> WSAGetLastError{"WSAGetLastError"};
TFunctionSlot<decltype(::WSASetLastError)> WSASetLastError{"WSASetLastError"};
TFunctionSlot<decltype(::WSAIoctl)> WSAIoctl{"WSAIoctl"};
TFunctionSlot<decltype(::__WSAFDIsSet)> WSAFDIsSet{"__WSAFDIsSet"};
TFunctionSlot<decltype(::GetAddrInfoW)> GetAddrInfoW{"GetAddrInfoW"};
TFunctionSlot<decltype(::GetNameInfoW)> GetNameInfoW{"GetNameInfoW"};
TFunctionSlot<decltype(::FreeAddrInfoW)> FreeAddrInfoW{"FreeAddrInfoW"};

} // namespace ftpc::winsock
