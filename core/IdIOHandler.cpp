// The handler's data, lifecycle, registry and read side. The write side is in
// IdIOHandlerWrite.cpp.
#include "core/IdIOHandler.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <mutex>

#include "core/IdAntiFreezeBase.h"
#include "core/IdBuffer.h"
#include "core/IdIntercept.h"
#include "base/IdResourceStrings.h"
#include "stack/IdStack.h"

namespace ftpc {

namespace {

constexpr uint8_t kCR = 13;
constexpr uint8_t kLF = 10;
constexpr int32_t kAllDataWaitMs = 250;
constexpr uint32_t kUtf8CodePage = 65001;

// ---- Registry -------------------------------------------------------------------------------

struct THandlerRegistry {
  std::mutex Lock;
  const TIdIOHandlerClass* Default = nullptr;
  std::vector<const TIdIOHandlerClass*> Classes; // in registration order
};

THandlerRegistry& Registry() {
  static THandlerRegistry registry;
  return registry;
}

void RegisterLocked(THandlerRegistry& ARegistry, const TIdIOHandlerClass& AClass) {
  if (std::find(ARegistry.Classes.begin(), ARegistry.Classes.end(), &AClass) ==
      ARegistry.Classes.end()) {
    ARegistry.Classes.push_back(&AClass);
  }
}

[[noreturn]] void RaiseNoHandlerOfType(std::string_view AName) {
  throw EIdException(FormatInvariant(RSIOHandlerTypeNotInstalled, {AName}));
}

// Network byte order by shifts, so the result does not depend on the host's order.
template <typename T> T LoadValue(const uint8_t* AIn, bool AConvert) {
  T value{};
  if (!AConvert) {
    std::memcpy(&value, AIn, sizeof(T));
    return value;
  }
  using U = std::make_unsigned_t<T>;
  U bits = 0;
  for (size_t i = 0; i < sizeof(T); ++i) {
    bits = static_cast<U>((bits << 8) | AIn[i]);
  }
  return static_cast<T>(bits);
}

// Bytes in a UTF-8 sequence, judged by its lead byte (1 for anything malformed).
int32_t Utf8SequenceLength(uint8_t ALead) {
  if ((ALead & 0xE0) == 0xC0) {
    return 2;
  }
  if ((ALead & 0xF0) == 0xE0) {
    return 3;
  }
  if ((ALead & 0xF8) == 0xF0) {
    return 4;
  }
  return 1;
}

// Restores the handler's over-long-line action when a ReadLnSplit call ends, also by an
// exception.
class TMaxLineActionScope {
public:
  TMaxLineActionScope(TIdIOHandler& AHandler, TIdMaxLineAction AAction)
      : FHandler(AHandler), FSaved(AHandler.MaxLineAction()) {
    FHandler.SetMaxLineAction(AAction);
  }
  ~TMaxLineActionScope() { FHandler.SetMaxLineAction(FSaved); }
  TMaxLineActionScope(const TMaxLineActionScope&) = delete;
  TMaxLineActionScope& operator=(const TMaxLineActionScope&) = delete;

private:
  TIdIOHandler& FHandler;
  TIdMaxLineAction FSaved;
};

} // namespace

// The state of one resumable terminator search over the growing input buffer.
struct TIdIOHandler::TLineSearch {
  std::span<const uint8_t> Terminator;
  int32_t TermPos = -1;
  int32_t StartPos = 0;
};

// ---- Class descriptor and registry ------------------------------------------------------------

bool TIdIOHandlerClass::InheritsFrom(const TIdIOHandlerClass& AClass) const {
  for (const TIdIOHandlerClass* cls = this; cls != nullptr; cls = cls->Parent) {
    if (cls == &AClass) {
      return true;
    }
  }
  return false;
}

const TIdIOHandlerClass& TIdIOHandler::Class() {
  static const TIdIOHandlerClass cls{"TIdIOHandler", nullptr, nullptr};
  return cls;
}

void TIdIOHandler::SetDefaultClass(const TIdIOHandlerClass& AClass) {
  THandlerRegistry& registry = Registry();
  const std::lock_guard<std::mutex> guard(registry.Lock);
  registry.Default = &AClass;
  RegisterLocked(registry, AClass);
}

void TIdIOHandler::RegisterIOHandler(const TIdIOHandlerClass& AClass) {
  THandlerRegistry& registry = Registry();
  const std::lock_guard<std::mutex> guard(registry.Lock);
  RegisterLocked(registry, AClass);
}

const TIdIOHandlerClass* TIdIOHandler::DefaultClass() {
  THandlerRegistry& registry = Registry();
  const std::lock_guard<std::mutex> guard(registry.Lock);
  return registry.Default;
}

std::unique_ptr<TIdIOHandler> TIdIOHandler::MakeDefaultIOHandler(TIdInitializerComponent* AOwner) {
  const TIdIOHandlerClass* cls = DefaultClass();
  if (cls == nullptr || cls->Create == nullptr) {
    RaiseNoHandlerOfType(Class().Name);
  }
  return cls->Create(AOwner);
}

std::unique_ptr<TIdIOHandler> TIdIOHandler::MakeIOHandler(const TIdIOHandlerClass& ABaseType,
                                                          TIdInitializerComponent* AOwner) {
  (void)AOwner; // the registry's handlers are always created without owner
  const TIdIOHandlerClass* found = nullptr;
  {
    THandlerRegistry& registry = Registry();
    const std::lock_guard<std::mutex> guard(registry.Lock);
    // The most recently registered class wins; abstract classes cannot be created.
    for (auto it = registry.Classes.rbegin(); it != registry.Classes.rend(); ++it) {
      if ((*it)->Create != nullptr && (*it)->InheritsFrom(ABaseType)) {
        found = *it;
        break;
      }
    }
  }
  if (found == nullptr) {
    RaiseNoHandlerOfType(ABaseType.Name);
  }
  return found->Create(nullptr);
}

// ---- Construction and lifecycle ------------------------------------------------------------

TIdIOHandler::TIdIOHandler(TIdInitializerComponent* AOwner)
    : TIdComponent(AOwner),
      // Every byte taken from the input buffer counts as read work.
      FInputBuffer(std::make_unique<TIdBuffer>(
          [this](TObject*, int32_t ABytes) { DoWork(wmRead, ABytes); })),
      FDefStringEncoding(ASCIIEncoding()) {}

TIdIOHandler::~TIdIOHandler() {
  try {
    TIdIOHandler::Close();
  } catch (...) { // NOLINT(bugprone-empty-catch): a destructor must not throw
  }
}

void TIdIOHandler::Open() {
  FClosedGracefully = false;
  WriteBufferClear();
  FInputBuffer->Clear();
  FOpened = true;
}

void TIdIOHandler::Close() {
  if (FIntercept != nullptr) {
    FIntercept->Disconnect();
  }
  FOpened = false;
  WriteBufferClear();
}

void TIdIOHandler::CloseGracefully() {
  FClosedGracefully = true;
}

void TIdIOHandler::AfterAccept() {}

bool TIdIOHandler::Connected() {
  CheckForDisconnect(false, false);
  return FOpened && !(FClosedGracefully && InputBufferIsEmpty());
}

void TIdIOHandler::CheckForDisconnect(bool ARaiseExceptionIfDisconnected, bool AIgnoreBuffer) {
  const bool lost = FClosedGracefully || !HasSource();
  if (lost && ARaiseExceptionIfDisconnected && (AIgnoreBuffer || InputBufferIsEmpty())) {
    throw EIdConnClosedGracefully(std::string(RSConnectionClosedGracefully));
  }
}

bool TIdIOHandler::CheckForDataOnSource(int32_t ATimeout) {
  return Connected() && FillInputBuffer(false, ATimeout, false) > 0;
}

// ---- Properties -------------------------------------------------------------------------------

std::string TIdIOHandler::Destination() const {
  return FDestination;
}

void TIdIOHandler::SetDestination(const std::string& AValue) {
  FDestination = AValue;
}

void TIdIOHandler::SetHost(const std::string& AValue) {
  FHost = AValue;
}

void TIdIOHandler::SetPort(int32_t AValue) {
  FPort = AValue;
}

void TIdIOHandler::SetIntercept(TIdConnectionIntercept* AValue) {
  if (AValue == FIntercept) {
    return;
  }
  if (FIntercept != nullptr) {
    FIntercept->RemoveFreeNotification(this);
  }
  FIntercept = AValue;
  if (FIntercept != nullptr) {
    FIntercept->FreeNotification(this);
  }
}

void TIdIOHandler::Notification(TIdInitializerComponent* AComponent, TOperation AOperation) {
  if (AOperation == opRemove && AComponent == FIntercept) {
    FIntercept = nullptr;
  }
  TIdComponent::Notification(AComponent, AOperation);
}

void TIdIOHandler::SetRecvBufferSize(int32_t AValue) {
  FRecvBufferSize = std::max(AValue, 1);
}

void TIdIOHandler::SetSendBufferSize(int32_t AValue) {
  FSendBufferSize = std::max(AValue, 1);
}

void TIdIOHandler::SetDefStringEncoding(TEncoding* AValue) {
  FDefStringEncoding = ResolveEncoding(AValue);
}

// What is left of ATimeout (no limit stays no limit) since AStartTicks, never below 0.
int32_t TIdIOHandler::RemainingTime(int32_t ATimeout, uint32_t AStartTicks) {
  if (ATimeout < 0) {
    return ATimeout;
  }
  const uint32_t elapsed = TickSpan(AStartTicks, TickCountMs());
  return elapsed >= static_cast<uint32_t>(ATimeout) ? 0
                                                    : ATimeout - static_cast<int32_t>(elapsed);
}

int32_t TIdIOHandler::ResolveReadTimeout(int32_t ATimeout) const {
  if (ATimeout != IdTimeoutUseReadTimeout) {
    return ATimeout;
  }
  // A ReadTimeout of 0 or -1 both mean waiting without limit.
  return FReadTimeOut == IdTimeoutUseReadTimeout || FReadTimeOut == 0 ? IdTimeoutWaitForever
                                                                      : FReadTimeOut;
}

TEncoding* TIdIOHandler::EncodingOrDefault(TEncoding* AEncoding) const {
  return AEncoding != nullptr ? AEncoding : ResolveEncoding(FDefStringEncoding);
}

// ---- Reading from the source -------------------------------------------------------------------

int32_t TIdIOHandler::FillInputBuffer(bool ARaiseExceptionIfDisconnected, int32_t ATimeout,
                                      bool ARaiseExceptionOnTimeout) {
  return FillInputBufferUpTo(ARaiseExceptionIfDisconnected, ATimeout, ARaiseExceptionOnTimeout,
                             FRecvBufferSize);
}

int32_t TIdIOHandler::FillInputBufferUpTo(bool ARaiseExceptionIfDisconnected, int32_t ATimeout,
                                          bool ARaiseExceptionOnTimeout, int32_t AMaxReceive) {
  const int32_t timeout = ResolveReadTimeout(ATimeout);
  CheckForDisconnect(ARaiseExceptionIfDisconnected, false);
  if (!HasSource()) {
    if (ARaiseExceptionIfDisconnected) {
      throw EIdException(std::string(RSNotConnected));
    }
    return 0;
  }
  for (;;) {
    // A wait without limit is the blocking receive itself: asking Readable first would only
    // add a readiness call per block to a download. With idle processing it still goes
    // through Readable, whose slices let the host run.
    const bool waitFirst = timeout != IdTimeoutWaitForever || TIdAntiFreezeBase::ShouldUse();
    if (waitFirst && !Readable(timeout)) {
      if (ARaiseExceptionOnTimeout) {
        throw EIdReadTimeout(std::string(RSReadTimeout));
      }
      return -1;
    }
    TReceiveResult result;
    if (FOpened) {
      if (!HasSource()) {
        throw EIdClosedSocket(std::string(RSClosedSocket));
      }
      result = ReceiveIntoInputBuffer(AMaxReceive);
    } else if (ARaiseExceptionIfDisconnected) {
      throw EIdNotConnected(std::string(RSNotConnected));
    }
    // Only the source running dry means the peer closed: an intercept that keeps a whole
    // block to itself (to decode it with the next one) has not ended the connection.
    if (result.Received == 0) {
      FClosedGracefully = true;
    }
    CheckForDisconnect(ARaiseExceptionIfDisconnected, false);
    if (result.Added != 0) {
      return result.Added;
    }
    // Reading on would find the same end again (or spin on a transport that keeps its
    // source after the close), so a recorded close ends the fill.
    if (FClosedGracefully || !HasSource()) {
      return 0;
    }
  }
}

TIdIOHandler::TReceiveResult TIdIOHandler::ReceiveIntoInputBuffer(int32_t AMaxReceive) {
  const int32_t want = std::clamp(AMaxReceive, 1, FRecvBufferSize);
  // The transport writes straight into the buffer's free tail: no staging copy.
  const std::span<uint8_t> room = FInputBuffer->Reserve(want);
  const int32_t received = ReceiveChecked(room);
  if (received <= 0) {
    FInputBuffer->Commit(0);
    return {received, 0};
  }
  if (FIntercept == nullptr) {
    FInputBuffer->Commit(received);
    return {received, received};
  }
  TBytes block(room.begin(), room.begin() + received);
  FInputBuffer->Commit(0);
  FIntercept->Receive(block);
  FInputBuffer->Write(std::span<const uint8_t>(block));
  return {received, static_cast<int32_t>(block.size())};
}

int32_t TIdIOHandler::ReceiveChecked(std::span<uint8_t> VBuffer) {
  int32_t received = 0;
  try {
    received = ReceiveFromSource(VBuffer);
  } catch (const EIdSocketError& e) {
    return HandleReceiveFailure(e.LastError(), std::current_exception());
  }
  if (received < 0) {
    return HandleReceiveFailure(GStack() != nullptr ? GStack()->WSGetLastError() : 0, nullptr);
  }
  if (static_cast<size_t>(received) > VBuffer.size()) {
    throw EIdException(std::string(RSTransportOverran));
  }
  return received;
}

// A connection shut down (10058) or aborted (10053) under the reader still lets it deliver
// what it has buffered; the next read that needs more data reports the close. Every other
// failure is raised at once: AFailure when the transport raised one, else a socket error for
// AErrorCode.
int32_t TIdIOHandler::HandleReceiveFailure(int AErrorCode, const std::exception_ptr& AFailure) {
  const bool closed = AErrorCode == Id_WSAESHUTDOWN || AErrorCode == Id_WSAECONNABORTED;
  if (closed) {
    FClosedGracefully = true;
    Close();
  }
  if (!closed || InputBufferIsEmpty()) {
    if (AFailure) {
      std::rethrow_exception(AFailure);
    }
    TIdStack::RaiseSocketError(AErrorCode);
  }
  return 0;
}

// ---- Lines ---------------------------------------------------------------------------------

std::string TIdIOHandler::ReadLn(TEncoding* AEncoding) {
  return ReadLn("\n", IdTimeoutUseReadTimeout, -1, AEncoding);
}

std::string TIdIOHandler::ReadLn(const std::string& ATerminator, TEncoding* AEncoding) {
  return ReadLn(ATerminator, IdTimeoutUseReadTimeout, -1, AEncoding);
}

std::string TIdIOHandler::ReadLn(const std::string& ATerminator, int32_t ATimeout,
                                 int32_t AMaxLineLength, TEncoding* AEncoding) {
  TEncoding* encoding = EncodingOrDefault(AEncoding);
  const int32_t maxLength = AMaxLineLength < 0 ? FMaxLineLength : AMaxLineLength;
  const TBytes terminator = encoding->GetBytes(ATerminator.empty() ? "\n" : ATerminator);
  FReadLnSplit = false;
  FReadLnTimedOut = false;
  TLineSearch search{terminator, -1, 0};
  const uint32_t startTicks = TickCountMs();
  for (;;) {
    const bool found = FindTerminator(search);
    if (maxLength > 0 && LineTooLong(search, maxLength)) {
      if (FMaxLineAction == maException) {
        throw EIdReadLnMaxLineLengthExceeded(std::string(RSReadLnMaxLineLengthExceeded));
      }
      FReadLnSplit = true;
      return FInputBuffer->Extract(maxLength, encoding);
    }
    if (found) {
      return TakeLine(search, encoding);
    }
    // A peer close raises here even when an incomplete line is buffered.
    CheckForDisconnect(true, true);
    FReadLnTimedOut = FillInputBuffer(true, ATimeout, false) == -1;
    if (!FReadLnTimedOut && ATimeout >= 0) {
      FReadLnTimedOut = TickSpan(startTicks, TickCountMs()) >= static_cast<uint32_t>(ATimeout);
    }
    if (FReadLnTimedOut) {
      return {};
    }
  }
}

// Searches only the bytes not searched before, plus the tail where a terminator may have
// started to arrive.
bool TIdIOHandler::FindTerminator(TLineSearch& VSearch) {
  const int32_t size = FInputBuffer->Size();
  if (size == 0) {
    return false;
  }
  VSearch.TermPos =
      VSearch.StartPos < size ? FInputBuffer->IndexOf(VSearch.Terminator, VSearch.StartPos) : -1;
  const auto termLength = static_cast<int32_t>(VSearch.Terminator.size());
  VSearch.StartPos = std::max(size - (termLength - 1), 0);
  return VSearch.TermPos >= 0;
}

// A line whose terminator lies beyond the limit is too long. While no terminator has been
// found, every byte before StartPos is known to belong to the line, so once StartPos passes
// the limit the outcome is settled: deciding then keeps a peer that never sends a terminator
// from growing the buffer without bound.
bool TIdIOHandler::LineTooLong(const TLineSearch& ASearch, int32_t AMaxLength) const {
  if (ASearch.TermPos >= 0) {
    return ASearch.TermPos > AMaxLength;
  }
  return ASearch.StartPos > AMaxLength;
}

std::string TIdIOHandler::TakeLine(const TLineSearch& ASearch, TEncoding* AEncoding) {
  const int32_t termLength = static_cast<int32_t>(ASearch.Terminator.size());
  const std::span<const uint8_t> line = FInputBuffer->View(0, ASearch.TermPos);
  size_t length = line.size();
  // With the LF terminator one CR before it belongs to the line end (CR LF).
  const bool isLF = termLength == 1 && ASearch.Terminator[0] == kLF;
  if (isLF && length > 0 && line[length - 1] == kCR) {
    --length;
  }
  std::string text = AEncoding->GetString(line.data(), length);
  FInputBuffer->Remove(ASearch.TermPos + termLength);
  return text;
}

std::string TIdIOHandler::ReadLnSplit(bool& AWasSplit, const std::string& ATerminator,
                                      int32_t ATimeout, int32_t AMaxLineLength,
                                      TEncoding* AEncoding) {
  const TMaxLineActionScope scope(*this, maSplit);
  std::string line = ReadLn(ATerminator, ATimeout, AMaxLineLength, AEncoding);
  AWasSplit = FReadLnSplit;
  return line;
}

// One time-out for the whole wait: were it restarted by every blank line, a peer sending one
// now and then would hold the reader forever.
std::string TIdIOHandler::ReadLnWait(int32_t AFailCount, TEncoding* AEncoding, int32_t ATimeout) {
  const int32_t timeout = ResolveReadTimeout(ATimeout);
  const uint32_t startTicks = TickCountMs();
  for (int32_t attempt = 0; attempt < AFailCount; ++attempt) {
    const int32_t remaining = RemainingTime(timeout, startTicks);
    std::string line = Trim(ReadLn("\n", remaining, -1, AEncoding));
    if (!line.empty()) {
      return line;
    }
    if (FReadLnTimedOut) {
      throw EIdReadTimeout(std::string(RSReadTimeout));
    }
  }
  throw EIdReadLnWaitMaxAttemptsExceeded(std::string(RSReadLnWaitMaxAttemptsExceeded));
}

std::string TIdIOHandler::ReadLnRFC(bool& VMsgEnd, TEncoding* AEncoding) {
  return ReadLnRFC(VMsgEnd, "\n", ".", AEncoding);
}

std::string TIdIOHandler::ReadLnRFC(bool& VMsgEnd, const std::string& ALineTerminator,
                                    const std::string& ADelim, TEncoding* AEncoding) {
  std::string line = ReadLn(ALineTerminator, AEncoding);
  VMsgEnd = line == ADelim;
  // Undo the sender's dot stuffing (RFC 5321 section 4.5.2).
  if (!VMsgEnd && !line.empty() && line.front() == '.') {
    line.erase(0, 1);
  }
  return line;
}

void TIdIOHandler::ReadStrings(TStrings& ADest, int32_t AReadLinesCount, TEncoding* AEncoding) {
  const int32_t count = AReadLinesCount < 0 ? ReadLongInt() : AReadLinesCount;
  for (int32_t i = 0; i < count; ++i) {
    ADest.push_back(ReadLn(AEncoding));
  }
}

// ---- Bytes and values ------------------------------------------------------------------------

// Waits until the input buffer holds AByteCount bytes. Each receive asks for at most
// AMaxReceive bytes, which lets a stream read take exactly the bytes of its piece.
void TIdIOHandler::EnsureInputBytes(int32_t AByteCount, int32_t AMaxReceive) {
  while (FInputBuffer->Size() < AByteCount) {
    const int32_t missing = AByteCount - FInputBuffer->Size();
    const int32_t added = FillInputBufferUpTo(false, IdTimeoutUseReadTimeout, true,
                                              std::min(AMaxReceive, std::max(missing, 1)));
    if (added > 0 && FInputBuffer->Size() >= AByteCount) {
      break;
    }
    CheckForDisconnect(true, true);
  }
}

void TIdIOHandler::ReadBytes(TBytes& VBuffer, int32_t AByteCount, bool AAppend) {
  if (AByteCount > 0) {
    EnsureInputBytes(AByteCount, FRecvBufferSize);
    FInputBuffer->ExtractToBytes(VBuffer, AByteCount, AAppend);
  } else if (AByteCount < 0) {
    // ReadTimeout itself, not resolved as a default: 0 takes only what has arrived.
    FillInputBuffer(false, FReadTimeOut, false);
    CheckForDisconnect(true, true);
    FInputBuffer->ExtractToBytes(VBuffer, -1, AAppend);
  }
}

std::string TIdIOHandler::ReadString(int32_t ABytes, TEncoding* AEncoding) {
  if (ABytes <= 0) {
    return {};
  }
  EnsureInputBytes(ABytes, FRecvBufferSize);
  return FInputBuffer->Extract(ABytes, EncodingOrDefault(AEncoding));
}

template <typename T> T TIdIOHandler::ReadValue(bool AConvert) {
  constexpr auto width = static_cast<int32_t>(sizeof(T));
  EnsureInputBytes(width, FRecvBufferSize);
  const T value = LoadValue<T>(FInputBuffer->View(0, width).data(), AConvert);
  FInputBuffer->Remove(width);
  return value;
}

uint8_t TIdIOHandler::ReadByte() {
  return ReadValue<uint8_t>(false);
}

int16_t TIdIOHandler::ReadSmallInt(bool AConvert) {
  return ReadValue<int16_t>(AConvert);
}

int32_t TIdIOHandler::ReadLongInt(bool AConvert) {
  return ReadValue<int32_t>(AConvert);
}

uint32_t TIdIOHandler::ReadLongWord(bool AConvert) {
  return ReadValue<uint32_t>(AConvert);
}

int64_t TIdIOHandler::ReadInt64(bool AConvert) {
  return ReadValue<int64_t>(AConvert);
}

std::string TIdIOHandler::ReadChar(TEncoding* AEncoding) {
  TEncoding* encoding = EncodingOrDefault(AEncoding);
  uint8_t bytes[4] = {ReadByte()};
  // The single-byte encodings need one byte per character; UTF-8 says in its lead byte how
  // many follow.
  const int32_t length = encoding->CodePage() == kUtf8CodePage ? Utf8SequenceLength(bytes[0]) : 1;
  for (int32_t i = 1; i < length; ++i) {
    bytes[i] = ReadByte();
  }
  return encoding->GetString(bytes, static_cast<size_t>(length));
}

// ---- Streams -----------------------------------------------------------------------------------

void TIdIOHandler::ReadStream(TStream& AStream, int64_t AByteCount, bool AReadUntilDisconnect) {
  const bool countFromWire = AByteCount == -1 && !AReadUntilDisconnect;
  int64_t count = countFromWire ? ReadStreamCount() : AByteCount;
  const bool untilClose = AReadUntilDisconnect || count < 0;
  if (count >= 0) {
    PresizeStream(AStream, count, !countFromWire);
  }
  BeginWork(wmRead, untilClose ? 0 : count);
  try {
    count -= MoveBufferedToStream(AStream, untilClose ? -1 : count);
    for (;;) {
      const auto piece = static_cast<int32_t>(
          untilClose ? FRecvBufferSize : std::min<int64_t>(FRecvBufferSize, count));
      if (piece <= 0 || !ReadStreamPiece(AStream, piece, untilClose)) {
        break;
      }
      count -= piece;
      TIdAntiFreezeBase::DoProcess(true);
    }
  } catch (...) {
    FinishReadStream(AStream);
    throw;
  }
  FinishReadStream(AStream);
}

int64_t TIdIOHandler::ReadStreamCount() {
  return FLargeStream ? ReadInt64() : static_cast<int64_t>(ReadLongInt());
}

// Sizes the stream for the whole count in advance, keeping its position. A count the peer
// sent is checked but not allocated ahead: the peer must not choose how much memory or disk
// the reader commits before any data has arrived.
void TIdIOHandler::PresizeStream(TStream& AStream, int64_t ACount, bool AAllocate) {
  const int64_t position = AStream.Position();
  if (ACount > std::numeric_limits<int64_t>::max() - position) {
    throw EIdIOHandlerStreamDataTooLarge(std::string(RSDataTooLargeForStream));
  }
  if (AAllocate) {
    AStream.SetSize(position + ACount);
    AStream.SetPosition(position);
  }
}

// Moves what the input buffer already holds (at most AMax bytes when AMax is not negative)
// to the stream; returns the count moved.
int32_t TIdIOHandler::MoveBufferedToStream(TStream& AStream, int64_t AMax) {
  const int32_t buffered = FInputBuffer->Size();
  if (buffered == 0) {
    return 0;
  }
  const auto count = static_cast<int32_t>(AMax < 0 ? buffered : std::min<int64_t>(buffered, AMax));
  FInputBuffer->ExtractToStream(AStream, count);
  return count;
}

// Reads one piece into the stream, straight from the input buffer's storage. Returns false
// when the peer's close ended a read until close; the part of the piece that arrived is
// written in every case.
bool TIdIOHandler::ReadStreamPiece(TStream& AStream, int32_t APiece, bool AUntilClose) {
  try {
    EnsureInputBytes(APiece, APiece);
  } catch (const EIdConnClosedGracefully&) {
    MoveBufferedToStream(AStream, APiece);
    if (AUntilClose) {
      return false;
    }
    throw;
  } catch (...) {
    MoveBufferedToStream(AStream, APiece);
    throw;
  }
  FInputBuffer->ExtractToStream(AStream, APiece);
  return true;
}

// Ends the read's work bracket and cuts off what the advance sizing left unfilled.
void TIdIOHandler::FinishReadStream(TStream& AStream) {
  EndWork(wmRead);
  const int64_t position = AStream.Position();
  if (AStream.Size() > position) {
    AStream.SetSize(position);
  }
}

void TIdIOHandler::Discard(int64_t AByteCount) {
  if (AByteCount == 0) {
    return;
  }
  TIdDiscardStream sink;
  BeginWork(wmRead, std::max<int64_t>(AByteCount, 0));
  try {
    ReadStream(sink, AByteCount, false);
  } catch (...) {
    EndWork(wmRead);
    throw;
  }
  EndWork(wmRead);
}

void TIdIOHandler::DiscardAll() {
  TIdDiscardStream sink;
  ReadStream(sink, -1, true);
}

std::string TIdIOHandler::AllData(TEncoding* AEncoding) {
  BeginWork(wmRead);
  std::string result;
  try {
    try {
      if (Connected()) {
        // A time-out (-1) just waits again; only the peer's close (0) ends the loop.
        while (FillInputBuffer(false, kAllDataWaitMs, false) != 0) {
        }
      }
    } catch (
        const EIdException&) { // NOLINT(bugprone-empty-catch): the data read so far is the answer
    }
    result = InputBufferAsString(AEncoding);
  } catch (...) {
    EndWork(wmRead);
    throw;
  }
  EndWork(wmRead);
  return result;
}

std::string TIdIOHandler::WaitFor(const std::string& AString, bool ARemoveFromBuffer,
                                  bool AInclusive, TEncoding* AEncoding, int32_t ATimeout) {
  TEncoding* encoding = EncodingOrDefault(AEncoding);
  const TBytes target = encoding->GetBytes(AString);
  if (target.empty()) {
    return {};
  }
  TLineSearch search{target, -1, 0};
  while (!FindTerminator(search)) {
    CheckForDisconnect(true, true);
    FillInputBuffer(true, ATimeout, true);
  }
  std::string result = FInputBuffer->Extract(search.TermPos, encoding);
  if (ARemoveFromBuffer) {
    FInputBuffer->Remove(static_cast<int32_t>(target.size()));
  }
  if (AInclusive) {
    result += AString;
  }
  return result;
}

// ---- Capture and interactive input
// ---------------------------------------------------------------

void TIdIOHandler::Capture(TStream& ADest, const std::string& ADelim, bool AUsesDotTransparency,
                           TEncoding* AEncoding) {
  TEncoding* encoding = EncodingOrDefault(AEncoding);
  PerformCapture(
      [&ADest, encoding](const std::string& ALine) {
        const TBytes bytes = encoding->GetBytes(ALine + "\r\n");
        ADest.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
      },
      ADelim, AUsesDotTransparency, encoding);
}

void TIdIOHandler::Capture(TStrings& ADest, const std::string& ADelim, bool AUsesDotTransparency,
                           TEncoding* AEncoding) {
  PerformCapture([&ADest](const std::string& ALine) { ADest.push_back(ALine); }, ADelim,
                 AUsesDotTransparency, AEncoding);
}

// Lines beyond MaxCapturedLines are read and dropped, so the message is consumed up to its
// delimiter whatever the limit.
void TIdIOHandler::PerformCapture(const std::function<void(const std::string&)>& AOnLine,
                                  const std::string& ADelim, bool AUsesDotTransparency,
                                  TEncoding* AEncoding) {
  int32_t captured = 0;
  for (;;) {
    std::string line = ReadLn(AEncoding);
    if (FReadLnTimedOut) {
      throw EIdReadTimeout(std::string(RSReadTimeout));
    }
    if (line == ADelim) {
      return;
    }
    if (AUsesDotTransparency && line.starts_with("..")) {
      line.erase(0, 1);
    }
    if (FMaxCapturedLines < 0 || captured < FMaxCapturedLines) {
      AOnLine(line);
      ++captured;
    }
  }
}

std::string TIdIOHandler::InputLn(const std::string& AMask, bool AEcho, int32_t ATabWidth,
                                  int32_t AMaxLineLength, TEncoding* AEncoding) {
  TEncoding* encoding = EncodingOrDefault(AEncoding);
  const auto maxLength = static_cast<size_t>(AMaxLineLength < 0 ? FMaxLineLength : AMaxLineLength);
  std::string line;
  for (;;) {
    std::string ch = ReadChar(encoding);
    if (ch == "\r" || ch == "\n") {
      // A terminal sends CR LF or CR NUL for Enter: take the partner if it is already here.
      if (ch == "\r" && !InputBufferIsEmpty() &&
          (FInputBuffer->PeekByte(0) == kLF || FInputBuffer->PeekByte(0) == 0)) {
        FInputBuffer->Remove(1);
      }
      if (AEcho) {
        WriteLn(encoding);
      }
      return line;
    }
    if (ch == "\b" || ch == "\x7f") {
      EraseLastCharacter(line, AEcho, encoding);
      continue;
    }
    if (ch == "\t" && ATabWidth > 0) {
      ch.assign(static_cast<size_t>(ATabWidth) - line.size() % static_cast<size_t>(ATabWidth), ' ');
    }
    if (maxLength > 0 && line.size() + ch.size() > maxLength) {
      continue;
    }
    line += ch;
    if (AEcho) {
      Write(AMask.empty() ? ch : AMask, encoding);
    }
  }
}

void TIdIOHandler::EraseLastCharacter(std::string& VLine, bool AEcho, TEncoding* AEncoding) {
  if (VLine.empty()) {
    return;
  }
  // Step back over UTF-8 continuation bytes to the start of the last character.
  size_t start = VLine.size() - 1;
  while (start > 0 && (static_cast<uint8_t>(VLine[start]) & 0xC0) == 0x80) {
    --start;
  }
  VLine.erase(start);
  if (AEcho) {
    Write(std::string("\b \b"), AEncoding);
  }
}

// ---- Input buffer ------------------------------------------------------------------------------

std::string TIdIOHandler::InputBufferAsString(TEncoding* AEncoding) {
  return FInputBuffer->Extract(-1, EncodingOrDefault(AEncoding));
}

void TIdIOHandler::InputBufferToStream(TStream& AStream, int32_t AByteCount) {
  FInputBuffer->ExtractToStream(AStream, AByteCount);
}

bool TIdIOHandler::InputBufferIsEmpty() const {
  return FInputBuffer->Size() == 0;
}

// ---- TIdDiscardStream
// -------------------------------------------------------------------------------

int32_t TIdDiscardStream::ReadIntoBytes(TBytes&, int32_t, int32_t) {
  return 0;
}

int32_t TIdDiscardStream::WriteFromBytes(const TBytes&, int32_t, int32_t ACount) {
  return ACount;
}

int64_t TIdDiscardStream::SeekPosition(int64_t, TSeekOrigin) {
  return 0;
}

void TIdDiscardStream::ChangeSize(int64_t) {}

int64_t TIdDiscardStream::ReadIntoSpan(std::span<uint8_t>) {
  return 0;
}

int64_t TIdDiscardStream::WriteFromSpan(std::span<const uint8_t> ABuffer) {
  return static_cast<int64_t>(ABuffer.size());
}

} // namespace ftpc
