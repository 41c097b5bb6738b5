#include "stack/IdStack.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <mutex>
#include <system_error>

#include "base/IdResourceStrings.h"
#include "stack/IdIPAddress.h"

namespace ftpc {

namespace {

// The process-wide stack bookkeeping. Never destroyed, so that users released from other
// static destructors at process end still find the lock.
struct TStackState {
  TIdCriticalSection Lock;
  std::unique_ptr<TIdStack> Instance;
  int UsageCount = 0;
};

TStackState& StackState() {
  static TStackState* const state = new TStackState();
  return *state;
}

std::atomic<TIdStack*> GStackInstance{nullptr};
std::atomic<bool> GIPv6FuncsAvailable{false};

// The start-up choices, made on first use so that no static-initialisation order matters.
std::atomic<const TIdStackClass*>& GStackClass() {
  static std::atomic<const TIdStackClass*> stackClass{&detail::PlatformStackClass()};
  return stackClass;
}

std::atomic<const TIdSocketListClass*>& GSocketListClass() {
  static std::atomic<const TIdSocketListClass*> listClass{&detail::PlatformSocketListClass()};
  return listClass;
}

struct TSocketErrorText {
  int Code;
  std::string_view Text;
};

constexpr TSocketErrorText kSocketErrorTexts[] = {
    {Id_WSAEINTR, RSStackEINTR},
    {Id_WSAEBADF, RSStackEBADF},
    {Id_WSAEACCES, RSStackEACCES},
    {Id_WSAEFAULT, RSStackEFAULT},
    {Id_WSAEINVAL, RSStackEINVAL},
    {Id_WSAEMFILE, RSStackEMFILE},
    {Id_WSAEWOULDBLOCK, RSStackEWOULDBLOCK},
    {Id_WSAEINPROGRESS, RSStackEINPROGRESS},
    {Id_WSAEALREADY, RSStackEALREADY},
    {Id_WSAENOTSOCK, RSStackENOTSOCK},
    {Id_WSAEDESTADDRREQ, RSStackEDESTADDRREQ},
    {Id_WSAEMSGSIZE, RSStackEMSGSIZE},
    {Id_WSAEPROTOTYPE, RSStackEPROTOTYPE},
    {Id_WSAENOPROTOOPT, RSStackENOPROTOOPT},
    {Id_WSAEPROTONOSUPPORT, RSStackEPROTONOSUPPORT},
    {Id_WSAESOCKTNOSUPPORT, RSStackESOCKTNOSUPPORT},
    {Id_WSAEOPNOTSUPP, RSStackEOPNOTSUPP},
    {Id_WSAEPFNOSUPPORT, RSStackEPFNOSUPPORT},
    {Id_WSAEAFNOSUPPORT, RSStackEAFNOSUPPORT},
    {Id_WSAEADDRINUSE, RSStackEADDRINUSE},
    {Id_WSAEADDRNOTAVAIL, RSStackEADDRNOTAVAIL},
    {Id_WSAENETDOWN, RSStackENETDOWN},
    {Id_WSAENETUNREACH, RSStackENETUNREACH},
    {Id_WSAENETRESET, RSStackENETRESET},
    {Id_WSAECONNABORTED, RSStackECONNABORTED},
    {Id_WSAECONNRESET, RSStackECONNRESET},
    {Id_WSAENOBUFS, RSStackENOBUFS},
    {Id_WSAEISCONN, RSStackEISCONN},
    {Id_WSAENOTCONN, RSStackENOTCONN},
    {Id_WSAESHUTDOWN, RSStackESHUTDOWN},
    {Id_WSAETOOMANYREFS, RSStackETOOMANYREFS},
    {Id_WSAETIMEDOUT, RSStackETIMEDOUT},
    {Id_WSAECONNREFUSED, RSStackECONNREFUSED},
    {Id_WSAELOOP, RSStackELOOP},
    {Id_WSAENAMETOOLONG, RSStackENAMETOOLONG},
    {Id_WSAEHOSTDOWN, RSStackEHOSTDOWN},
    {Id_WSAEHOSTUNREACH, RSStackEHOSTUNREACH},
    {Id_WSAENOTEMPTY, RSStackENOTEMPTY},
    {Id_WSAHOST_NOT_FOUND, RSStackHOST_NOT_FOUND},
};

std::string_view SocketErrorText(int AErr) {
  for (const auto& entry : kSocketErrorTexts) {
    if (entry.Code == AErr) {
      return entry.Text;
    }
  }
  return {};
}

constexpr bool kLittleEndian = std::endian::native == std::endian::little;

uint16_t Swap16(uint16_t AValue) {
  return static_cast<uint16_t>((AValue << 8) | (AValue >> 8));
}

uint32_t Swap32(uint32_t AValue) {
  return (AValue >> 24) | ((AValue >> 8) & 0xFF00u) | ((AValue << 8) & 0xFF0000u) | (AValue << 24);
}

uint64_t Swap64(uint64_t AValue) {
  return (uint64_t{Swap32(static_cast<uint32_t>(AValue))} << 32) |
         Swap32(static_cast<uint32_t>(AValue >> 32));
}

TIdIPv6Address SwapWords(const TIdIPv6Address& AValue) {
  TIdIPv6Address result{};
  for (size_t i = 0; i < result.size(); ++i) {
    result[i] = TIdStack::HostToNetwork(AValue[i]);
  }
  return result;
}

} // namespace

// ---- Process-wide state ----------------------------------------------------------------------

TIdStack* GStack() {
  return GStackInstance.load(std::memory_order_acquire);
}

const TIdStackClass* StackClass() {
  return GStackClass().load();
}

void SetStackClass(const TIdStackClass* AClass) {
  const std::lock_guard guard(StackState().Lock);
  GStackClass().store(AClass);
}

const TIdSocketListClass* SocketListClass() {
  return GSocketListClass().load();
}

void SetSocketListClass(const TIdSocketListClass* AClass) {
  GSocketListClass().store(AClass);
}

bool IPv6FuncsAvailable() {
  return GIPv6FuncsAvailable.load();
}

void SetIPv6FuncsAvailable(bool AValue) {
  GIPv6FuncsAvailable.store(AValue);
}

void TIdStack::IncUsage() {
  TStackState& state = StackState();
  const std::lock_guard guard(state.Lock);
  if (state.UsageCount == 0) {
    if (state.Instance) {
      throw EIdException(std::string(RSStackAlreadyCreated));
    }
    const TIdStackClass* stackClass = GStackClass().load();
    if (stackClass == nullptr) {
      throw EIdException(std::string(RSStackClassUndefined));
    }
    state.Instance = stackClass->Create();
    GStackInstance.store(state.Instance.get(), std::memory_order_release);
  }
  ++state.UsageCount;
}

void TIdStack::DecUsage() {
  TStackState& state = StackState();
  const std::lock_guard guard(state.Lock);
  if (state.UsageCount == 0) {
    return;
  }
  if (--state.UsageCount == 0) {
    GStackInstance.store(nullptr, std::memory_order_release);
    state.Instance.reset();
  }
}

// ---- Name resolution -------------------------------------------------------------------------

std::string TIdStack::ResolveHost(const std::string& AHost, TIdIPVersion AIPVersion) {
  switch (AIPVersion) {
  case Id_IPv6: {
    // An address literal is never looked up.
    std::string canonical = CanonicalIPv6Text(AHost);
    return canonical.empty() ? LookupHostAddress(AHost, Id_IPv6) : canonical;
  }
  case Id_IPv4:
    if (TextEqualsIgnoreCase(AHost, "LOCALHOST")) {
      return "127.0.0.1";
    }
    return IsIP(AHost) ? AHost : LookupHostAddress(AHost, Id_IPv4);
  }
  throw EIdIPVersionUnsupported(std::string(RSIPVersionUnsupported));
}

bool TIdStack::IsIP(std::string_view AIP) const {
  std::string rest(AIP);
  for (int i = 0; i < 4; ++i) {
    const int32_t value = ParseTrimmedInt(CutToken(rest, "."), -1);
    if (value < 0 || value > 255) {
      return false;
    }
  }
  return rest.empty();
}

std::string TIdStack::LocalAddress() {
  std::vector<std::string> addresses;
  AddLocalAddressesToList(addresses);
  return addresses.empty() ? std::string() : addresses.front();
}

const std::vector<std::string>& TIdStack::LocalAddresses() {
  FLocalAddresses.clear();
  AddLocalAddressesToList(FLocalAddresses);
  return FLocalAddresses;
}

// ---- Overloads that drop or fill in an argument ------------------------------------------------

TIdStackSocketHandle TIdStack::Accept(TIdStackSocketHandle ASocket, std::string& VIP,
                                      TIdPort& VPort) {
  TIdIPVersion version = Id_IPv4;
  return Accept(ASocket, VIP, VPort, version);
}

void TIdStack::GetSocketName(TIdStackSocketHandle ASocket, std::string& VIP, TIdPort& VPort) {
  TIdIPVersion version = Id_IPv4;
  GetSocketName(ASocket, VIP, VPort, version);
}

void TIdStack::GetPeerName(TIdStackSocketHandle ASocket, std::string& VIP, TIdPort& VPort) {
  TIdIPVersion version = Id_IPv4;
  GetPeerName(ASocket, VIP, VPort, version);
}

void TIdStack::SendTo(TIdStackSocketHandle ASocket, const TBytes& ABuffer, int32_t AOffset,
                      const std::string& AIP, TIdPort APort, TIdIPVersion AIPVersion) {
  SendTo(ASocket, ABuffer, AOffset, -1, AIP, APort, AIPVersion);
}

void TIdStack::SetSocketOption(TIdStackSocketHandle ASocket, int ALevel, int AOptName,
                               int32_t AOptVal) {
  SetSocketOption(ASocket, ALevel, AOptName, &AOptVal, sizeof(AOptVal));
}

bool TIdStack::WouldBlock(int AResult) {
  if (AResult != Id_SOCKET_ERROR) {
    return false;
  }
  return CheckForSocketError(AResult, {Id_WSAEWOULDBLOCK}) == Id_WSAEWOULDBLOCK;
}

// ---- Byte order ------------------------------------------------------------------------------

uint16_t TIdStack::HostToNetwork(uint16_t AValue) {
  return kLittleEndian ? Swap16(AValue) : AValue;
}
uint32_t TIdStack::HostToNetwork(uint32_t AValue) {
  return kLittleEndian ? Swap32(AValue) : AValue;
}
uint64_t TIdStack::HostToNetwork(uint64_t AValue) {
  return kLittleEndian ? Swap64(AValue) : AValue;
}
TIdIPv6Address TIdStack::HostToNetwork(const TIdIPv6Address& AValue) {
  return SwapWords(AValue);
}
// The conversions are their own inverses.
uint16_t TIdStack::NetworkToHost(uint16_t AValue) {
  return HostToNetwork(AValue);
}
uint32_t TIdStack::NetworkToHost(uint32_t AValue) {
  return HostToNetwork(AValue);
}
uint64_t TIdStack::NetworkToHost(uint64_t AValue) {
  return HostToNetwork(AValue);
}
TIdIPv6Address TIdStack::NetworkToHost(const TIdIPv6Address& AValue) {
  return SwapWords(AValue);
}

// ---- Multicast groups and checksums ------------------------------------------------------------

bool TIdStack::IsValidIPv4MulticastGroup(std::string_view Value) const {
  if (!IsIP(Value)) {
    return false;
  }
  std::string rest(Value);
  const int32_t first = ParseTrimmedInt(CutToken(rest, "."), -1);
  return first >= 224 && first <= 239;
}

bool TIdStack::IsValidIPv6MulticastGroup(std::string_view Value) const {
  // Multicast addresses are ff00::/8: the whole top byte of the first word must be FF (a
  // first group such as "FF" or "FFF" is not a multicast prefix).
  TIdIPv6Address words{};
  bool err = false;
  IPv6TextToWords(Value, words, err);
  return !err && (words[0] & 0xFF00) == 0xFF00;
}

uint16_t TIdStack::CalcCheckSum(const TBytes& AData) {
  // Words are summed in memory order; a 64-bit sum cannot lose a carry for any array size.
  uint64_t sum = 0;
  const size_t evenSize = AData.size() & ~size_t{1};
  for (size_t i = 0; i < evenSize; i += 2) {
    sum += static_cast<uint64_t>(AData[i]) | (static_cast<uint64_t>(AData[i + 1]) << 8);
  }
  if (evenSize < AData.size()) {
    sum += AData.back();
  }
  while ((sum >> 16) != 0) {
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  return static_cast<uint16_t>(~sum & 0xFFFF);
}

// ---- Errors ----------------------------------------------------------------------------------

std::string TIdStack::WSTranslateSocketErrorMsg(int AErr) {
  return FormatInvariant(RSStackError, {AErr, SocketErrorText(AErr)});
}

int TIdStack::CheckForSocketError(int AResult) {
  if (AResult == Id_SOCKET_ERROR) {
    RaiseLastSocketError();
  }
  return AResult;
}

int TIdStack::CheckForSocketError(int AResult, std::initializer_list<int> AIgnore) {
  if (AResult != Id_SOCKET_ERROR) {
    return AResult;
  }
  const int err = WSGetLastError();
  if (std::find(AIgnore.begin(), AIgnore.end(), err) != AIgnore.end()) {
    return err;
  }
  RaiseSocketError(err);
}

void TIdStack::RaiseLastSocketError() {
  RaiseSocketError(WSGetLastError());
}

void TIdStack::RaiseSocketError(int AErr) {
  const std::string message = WSTranslateSocketErrorMsg(AErr);
  if (AErr == Id_WSAENOTSOCK) {
    throw EIdNotASocket(AErr, message);
  }
  throw EIdSocketError(AErr, message);
}

// ---- Library loading errors ------------------------------------------------------------------

EIdWinsockStubError EIdWinsockStubError::Build(int32_t AWin32Error, std::string_view ATitle,
                                               std::initializer_list<TFormatArg> AArgs) {
  std::string title = FormatInvariant(ATitle, AArgs);
  if (AWin32Error == 0) {
    return EIdWinsockStubError(title, AWin32Error, std::string(), title);
  }
  std::string systemText = std::error_code(AWin32Error, std::system_category()).message();
  const std::string message = FormatInvariant(RSWinsockStubErrorMessage, {title, systemText});
  return EIdWinsockStubError(message, AWin32Error, std::move(systemText), std::move(title));
}

// ---- Socket lists ------------------------------------------------------------------------------

std::unique_ptr<TIdSocketList> TIdSocketList::CreateSocketList() {
  const TIdSocketListClass* listClass = SocketListClass();
  if (listClass == nullptr) {
    throw EIdException(std::string(RSStackClassUndefined));
  }
  return listClass->Create();
}

bool TIdSocketList::Select(TIdSocketList* AReadList, TIdSocketList* AWriteList,
                           TIdSocketList* AExceptList, int32_t ATimeout) {
  const TIdSocketListClass* listClass = SocketListClass();
  return listClass != nullptr && listClass->Select != nullptr &&
         listClass->Select(AReadList, AWriteList, AExceptList, ATimeout);
}

} // namespace ftpc
