// The Windows socket library bound at run time: "WS2_32.DLL" is loaded by the first stack
// and every socket function is looked up by name on its first call. Included only by the
// Windows units of stack/; nothing above the stack sees a Windows header.
#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>
#include <mswsock.h>

#include <atomic>

namespace ftpc::winsock {

// Loads the library and calls WSAStartup(2.2) once; raises EIdWinsockStubError with the
// title "Error on loading Winsock2 library (WS2_32.DLL)". The matching clean-up runs at
// process end.
void StartWinsock();
// Looks up the protocol-independent resolver (in the socket library, else in "Wship6.dll")
// and sets IPv6FuncsAvailable when GetAddrInfoW, GetNameInfoW and FreeAddrInfoW all exist.
void LoadResolver();

// The address of AName in the loaded socket library; raises EIdWinsockStubError 10093 when
// the library is not loaded and 10022 when it has no such function.
FARPROC BindByName(const char* AName);
// An extension function of ASocket's provider, asked for with WSAIoctl by its identifier.
void* BindExtension(SOCKET ASocket, const GUID& AId, const char* AName);

template <typename TFunction> class TFunctionSlot;

// A socket function reached through a pointer that is filled on first call. Two threads
// binding at once store the same address.
template <typename R, typename... A> class TFunctionSlot<R(A...)> {
public:
  using TPointer = R(WSAAPI*)(A...);

  explicit constexpr TFunctionSlot(const char* AName) : FName(AName) {}

  R operator()(A... AArgs) { return Pointer()(AArgs...); }

  // The bound address, or nullptr when the function is optional and missing (resolver).
  TPointer Pointer() {
    TPointer bound = FPointer.load(std::memory_order_acquire);
    if (bound == nullptr) {
      bound = reinterpret_cast<TPointer>(reinterpret_cast<void*>(BindByName(FName)));
      FPointer.store(bound, std::memory_order_release);
    }
    return bound;
  }
  void Set(TPointer APointer) { FPointer.store(APointer, std::memory_order_release); }
  bool Bound() const { return FPointer.load(std::memory_order_acquire) != nullptr; }
  const char* Name() const { return FName; }

private:
  const char* FName;
  std::atomic<TPointer> FPointer{nullptr};
};

// The functions the stack uses, bound from the socket library by name.
extern TFunctionSlot<decltype(::accept)> accept;
extern TFunctionSlot<decltype(::bind)> bind;
extern TFunctionSlot<decltype(::closesocket)> closesocket;
extern TFunctionSlot<decltype(::connect)> connect;
extern TFunctionSlot<decltype(::ioctlsocket)> ioctlsocket;
extern TFunctionSlot<decltype(::getpeername)> getpeername;
extern TFunctionSlot<decltype(::getsockname)> getsockname;
extern TFunctionSlot<decltype(::getsockopt)> getsockopt;
extern TFunctionSlot<decltype(::listen)> listen;
extern TFunctionSlot<decltype(::recv)> recv;
extern TFunctionSlot<decltype(::recvfrom)> recvfrom;
extern TFunctionSlot<decltype(::select)> select;
extern TFunctionSlot<decltype(::send)> send;
extern TFunctionSlot<decltype(::sendto)> sendto;
extern TFunctionSlot<decltype(::setsockopt)> setsockopt;
extern TFunctionSlot<decltype(::shutdown)> shutdown;
extern TFunctionSlot<decltype(::socket)> socket;
extern TFunctionSlot<decltype(::gethostbyaddr)> gethostbyaddr;
extern TFunctionSlot<decltype(::gethostbyname)> gethostbyname;
extern TFunctionSlot<decltype(::gethostname)> gethostname;
extern TFunctionSlot<decltype(::getservbyport)> getservbyport;
extern TFunctionSlot<decltype(::getservbyname)> getservbyname;
extern TFunctionSlot<decltype(::WSAGetLastError)> WSAGetLastError;
extern TFunctionSlot<decltype(::WSASetLastError)> WSASetLastError;
extern TFunctionSlot<decltype(::WSAIoctl)> WSAIoctl;
extern TFunctionSlot<decltype(::__WSAFDIsSet)> WSAFDIsSet;

// The resolver, looked up at start-up; each is empty when LoadResolver did not find it.
extern TFunctionSlot<decltype(::GetAddrInfoW)> GetAddrInfoW;
extern TFunctionSlot<decltype(::GetNameInfoW)> GetNameInfoW;
extern TFunctionSlot<decltype(::FreeAddrInfoW)> FreeAddrInfoW;

// The extension function that receives a datagram with its packet information.
using TWSARecvMsg = LPFN_WSARECVMSG;

} // namespace ftpc::winsock
