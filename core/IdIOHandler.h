// TIdIOHandler: the buffered endpoint every connection talks through. Received bytes collect
// in an input buffer and are consumed as lines, counted blocks, typed values or whole
// streams; every outgoing byte passes one Write entry point, optionally through a write
// buffer. The transport itself (a socket) comes from a subclass.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/IdComponent.h"
#include "base/IdException.h"
#include "base/IdExceptionCore.h"
#include "global/IdGlobal.h"
#include "global/IdStream.h"

namespace ftpc {

class TIdBuffer;
class TIdConnectionIntercept;
class TIdIOHandler;

// ---- Exceptions ------------------------------------------------------------------------------

FTPC_DECLARE_EXCEPTION(EIdReadTimeout, EIdException);
FTPC_DECLARE_EXCEPTION(EIdReadLnMaxLineLengthExceeded, EIdException);
FTPC_DECLARE_EXCEPTION(EIdReadLnWaitMaxAttemptsExceeded, EIdException);
FTPC_DECLARE_EXCEPTION(EIdNotConnected, EIdException);
FTPC_DECLARE_EXCEPTION(EIdClosedSocket, EIdException);
FTPC_DECLARE_EXCEPTION(EIdIOHandlerStreamDataTooLarge, EIdException);
FTPC_DECLARE_EXCEPTION(EIdIOHandlerRequiresLargeStream, EIdException);
FTPC_DECLARE_EXCEPTION(EIdNoDataToRead, EIdException);
FTPC_DECLARE_EXCEPTION(EIdFileNotFound, EIdException);

// ---- Limits and defaults ------------------------------------------------------------------------

inline constexpr int32_t IdMaxLineLengthDefault = 16384;
inline constexpr int32_t IdRecvBufferSizeDefault = 32768;
inline constexpr int32_t IdSendBufferSizeDefault = 32768;
// ReadLnWait's fail count when every blank line may be skipped.
inline constexpr int32_t IdFailCountUnlimited = 2147483647;
// Time-outs: -1 is the handler's ReadTimeout, -2 waits without limit.
inline constexpr int32_t IdTimeoutUseReadTimeout = -1;
inline constexpr int32_t IdTimeoutWaitForever = -2;

enum TIdMaxLineAction : uint8_t { maException, maSplit };

using TStrings = std::vector<std::string>;

// ---- Handler registry ---------------------------------------------------------------------------

// Describes an I/O handler class for the registry: its name, the class it derives from and
// how to create an instance (null for an abstract class). Each handler class offers its own
// descriptor through a static Class(). Create returns a handler the caller owns; a given
// AOwner also lists it among its components, so the caller destroys it before AOwner goes or
// releases it to AOwner.
struct TIdIOHandlerClass {
  std::string_view Name;
  const TIdIOHandlerClass* Parent = nullptr;
  std::unique_ptr<TIdIOHandler> (*Create)(TIdInitializerComponent* AOwner) = nullptr;

  // True when this class is AClass or derives from it.
  bool InheritsFrom(const TIdIOHandlerClass& AClass) const;
};

// ---- The handler
// ---------------------------------------------------------------------------------

class TIdIOHandler : public TIdComponent {
public:
  explicit TIdIOHandler(TIdInitializerComponent* AOwner = nullptr);
  ~TIdIOHandler() override;

  std::string ClassName() const override { return "TIdIOHandler"; }
  static const TIdIOHandlerClass& Class();

  // ---- Registry (process-wide) ----
  // Makes AClass the default handler class and registers it.
  static void SetDefaultClass(const TIdIOHandlerClass& AClass);
  // Adds AClass to the registered classes unless it is there already.
  static void RegisterIOHandler(const TIdIOHandlerClass& AClass);
  // The current default class, or null before one is set.
  static const TIdIOHandlerClass* DefaultClass();
  // A new instance of the default class, owned by the caller (a given AOwner also lists it,
  // as for TIdIOHandlerClass::Create). Raises EIdException "No IOHandler of type %s is
  // installed." when no creatable default class is set.
  static std::unique_ptr<TIdIOHandler>
  MakeDefaultIOHandler(TIdInitializerComponent* AOwner = nullptr);
  // A new ownerless instance of the most recently registered class that is ABaseType or
  // derives from it; raises "No IOHandler of type %s is installed." when there is none.
  // AOwner is accepted for symmetry and not used.
  static std::unique_ptr<TIdIOHandler> MakeIOHandler(const TIdIOHandlerClass& ABaseType,
                                                     TIdInitializerComponent* AOwner = nullptr);

  // ---- Lifecycle ----
  // Clears ClosedGracefully, empties both buffers and marks the handler opened.
  virtual void Open();
  // Tells the intercept to disconnect, clears Opened and empties the write buffer. The input
  // buffer keeps what was received, so it can still be read after the peer closed.
  virtual void Close();
  // Marks the handler as closed by the peer.
  virtual void CloseGracefully();
  // Called on a handler that a listener has just given an accepted connection; nothing here.
  virtual void AfterAccept();
  // Whether reads can still deliver data: opened, and not (closed by the peer, or lacking an
  // input buffer) with nothing buffered. Checks for a disconnect first.
  virtual bool Connected();

  // ---- The source (supplied by the transport subclass) ----
  // Whether the source has data (or has ended) within AMSec milliseconds (-2: no limit).
  virtual bool Readable(int32_t AMSec = IdTimeoutUseReadTimeout) = 0;
  // Whether a source exists.
  virtual bool HasSource() = 0;
  // Whether the connection is lost: ClosedGracefully is set (then the source is closed and
  // hsDisconnected reported) or there is no source. When lost and ARaiseExceptionIfDisconnected,
  // raises EIdConnClosedGracefully if AIgnoreBuffer or the input buffer is empty. The socket
  // handler replaces this with its socket-level version.
  virtual void CheckForDisconnect(bool ARaiseExceptionIfDisconnected = true,
                                  bool AIgnoreBuffer = false);
  // When Connected, one fill without raising; whether it added bytes.
  virtual bool CheckForDataOnSource(int32_t ATimeout = 0);

  // Reads from the source into the input buffer: the count added, 0 when the source ended,
  // -1 when the wait timed out without raising. ATimeout -1 means ReadTimeout.
  int32_t FillInputBuffer(bool ARaiseExceptionIfDisconnected = true,
                          int32_t ATimeout = IdTimeoutUseReadTimeout,
                          bool ARaiseExceptionOnTimeout = true);

  // ---- Lines ----
  // A line ended by LF (one CR before it dropped), with the default time-out and limit.
  std::string ReadLn(TEncoding* AEncoding = nullptr);
  // A line ended by ATerminator (empty: LF), with the default time-out and limit.
  std::string ReadLn(const std::string& ATerminator, TEncoding* AEncoding = nullptr);
  // The full form. An empty terminator means LF; a negative AMaxLineLength means
  // MaxLineLength, 0 no limit. On time-out returns "" with ReadLnTimedout set. A peer close
  // before the terminator raises EIdConnClosedGracefully and leaves the bytes buffered.
  virtual std::string ReadLn(const std::string& ATerminator, int32_t ATimeout,
                             int32_t AMaxLineLength = -1, TEncoding* AEncoding = nullptr);
  // ReadLn with the over-long-line action forced to maSplit for this call.
  std::string ReadLnSplit(bool& AWasSplit, const std::string& ATerminator = "",
                          int32_t ATimeout = IdTimeoutUseReadTimeout, int32_t AMaxLineLength = -1,
                          TEncoding* AEncoding = nullptr);
  // The next line that is not blank, trimmed. Raises EIdReadTimeout on time-out and
  // EIdReadLnWaitMaxAttemptsExceeded after AFailCount blank lines. ATimeout (-1: ReadTimeout)
  // covers the whole call: blank lines do not restart it.
  virtual std::string ReadLnWait(int32_t AFailCount = IdFailCountUnlimited,
                                 TEncoding* AEncoding = nullptr,
                                 int32_t ATimeout = IdTimeoutUseReadTimeout);
  // One line of a dot-terminated message: the line equal to ADelim sets VMsgEnd; any other
  // line starting with "." loses that first dot.
  std::string ReadLnRFC(bool& VMsgEnd, TEncoding* AEncoding = nullptr);
  std::string ReadLnRFC(bool& VMsgEnd, const std::string& ALineTerminator,
                        const std::string& ADelim = ".", TEncoding* AEncoding = nullptr);
  // Appends AReadLinesCount lines to ADest; a negative count is first read from the wire as
  // a 32-bit network-order integer.
  void ReadStrings(TStrings& ADest, int32_t AReadLinesCount = -1, TEncoding* AEncoding = nullptr);

  // ---- Bytes and values ----
  // Exactly AByteCount bytes (waiting for them), or with a negative count whatever one fill
  // brings, waiting ReadTimeout as it is (0: not at all). AAppend as for
  // TIdBuffer::ExtractToBytes.
  virtual void ReadBytes(TBytes& VBuffer, int32_t AByteCount, bool AAppend = true);
  // ABytes bytes as text in AEncoding (null: the default encoding).
  std::string ReadString(int32_t ABytes, TEncoding* AEncoding = nullptr);
  // One value of its size; AConvert takes it from network byte order. Like ReadBytes they wait
  // for the bytes and raise EIdReadTimeout / EIdConnClosedGracefully when they do not come.
  uint8_t ReadByte();
  int16_t ReadSmallInt(bool AConvert = true);
  int32_t ReadLongInt(bool AConvert = true);
  uint32_t ReadLongWord(bool AConvert = true);
  int64_t ReadInt64(bool AConvert = true);
  // One character (as UTF-8 text), read byte by byte until the bytes form one.
  std::string ReadChar(TEncoding* AEncoding = nullptr);

  // ---- Streams ----
  // Reads AByteCount bytes into AStream, or until the peer closes when AReadUntilDisconnect
  // or the count is negative. AByteCount -1 without AReadUntilDisconnect reads the count from
  // the wire first (64-bit with LargeStream, else 32-bit). A counted read pre-sizes the stream
  // and any unfilled rest is cut off again.
  virtual void ReadStream(TStream& AStream, int64_t AByteCount = -1,
                          bool AReadUntilDisconnect = false);
  // Reads and drops AByteCount bytes; a negative count reads as ReadStream does (-1: the
  // count from the wire, else until the peer closes); 0 does nothing.
  void Discard(int64_t AByteCount);
  // Reads and drops everything until the peer closes.
  void DiscardAll();
  // Everything until the peer closes, as one string; never raises for the close.
  virtual std::string AllData(TEncoding* AEncoding = nullptr);

  // Fills until AString occurs in the input buffer and returns the text before it (with it
  // when AInclusive); ARemoveFromBuffer also removes AString itself.
  std::string WaitFor(const std::string& AString, bool ARemoveFromBuffer = true,
                      bool AInclusive = false, TEncoding* AEncoding = nullptr,
                      int32_t ATimeout = IdTimeoutUseReadTimeout);

  // ---- Line capture and interactive input (text protocols; unused by the FTP client) ----
  // Lines up to the line equal to ADelim (not included); with AUsesDotTransparency a leading
  // doubled dot is undone. At most MaxCapturedLines lines are kept when that is not negative.
  void Capture(TStream& ADest, const std::string& ADelim = ".", bool AUsesDotTransparency = true,
               TEncoding* AEncoding = nullptr);
  void Capture(TStrings& ADest, const std::string& ADelim = ".", bool AUsesDotTransparency = true,
               TEncoding* AEncoding = nullptr);
  // Reads a line byte by byte as typed at a terminal: backspace edits, CR or LF ends it;
  // echoes each character (or AMask) when AEcho.
  virtual std::string InputLn(const std::string& AMask = "", bool AEcho = true,
                              int32_t ATabWidth = 8, int32_t AMaxLineLength = -1,
                              TEncoding* AEncoding = nullptr);

  // ---- Input buffer ----
  // What was received and not yet read (owned by the handler).
  TIdBuffer* InputBuffer() const { return FInputBuffer.get(); }
  // Takes the whole input buffer as text.
  std::string InputBufferAsString(TEncoding* AEncoding = nullptr);
  // Moves AByteCount bytes (-1: all) from the input buffer to AStream.
  void InputBufferToStream(TStream& AStream, int32_t AByteCount = -1);
  bool InputBufferIsEmpty() const;

  // ---- Writing ----
  // The single entry point for outgoing bytes: ALength bytes of ABuffer from AOffset (-1: to
  // the end; clipped to what ABuffer holds). Appends to the write buffer when one is open,
  // else sends at once.
  virtual void Write(const TBytes& ABuffer, int32_t ALength = -1, int32_t AOffset = 0);
  // Sends at once, bypassing the write buffer: through the intercept, looping over partial
  // sends, reporting write work.
  void WriteDirect(const TBytes& ABuffer, int32_t ALength = -1, int32_t AOffset = 0);
  // The text's bytes; an empty text sends nothing and checks nothing.
  virtual void Write(const std::string& AOut, TEncoding* AEncoding = nullptr);
  void Write(const char* AOut, TEncoding* AEncoding = nullptr) {
    Write(std::string(AOut), AEncoding);
  }
  // CR LF alone.
  void WriteLn(TEncoding* AEncoding = nullptr);
  // The text followed by CR LF, as one block.
  virtual void WriteLn(const std::string& AOut, TEncoding* AEncoding = nullptr);
  void WriteLn(const char* AOut, TEncoding* AEncoding = nullptr) {
    WriteLn(std::string(AOut), AEncoding);
  }
  // As WriteLn, with a leading "." doubled (dot stuffing).
  virtual void WriteLnRFC(const std::string& AOut = "", TEncoding* AEncoding = nullptr);
  // Each line with WriteLn, optionally preceded by the line count (32-bit, network order),
  // collected in the write buffer and sent together unless buffering was already open.
  virtual void Write(const TStrings& AValue, bool AWriteLinesCount = false,
                     TEncoding* AEncoding = nullptr);
  // Each line with WriteLnRFC, then "." when AWriteTerminator.
  void WriteRFCStrings(const TStrings& AStrings, bool AWriteTerminator = true,
                       TEncoding* AEncoding = nullptr);
  // One value of its size; AConvert puts it in network byte order. A char is written as text.
  void Write(uint8_t AValue);
  void Write(char AValue, TEncoding* AEncoding = nullptr);
  void Write(int16_t AValue, bool AConvert = true);
  void Write(int32_t AValue, bool AConvert = true);
  void Write(uint32_t AValue, bool AConvert = true);
  void Write(int64_t AValue, bool AConvert = true);
  // Uploads from a stream: ASize < 0 the rest from the current position, 0 the whole stream
  // from its start, > 0 that many bytes from the current position. With AWriteByteCount the
  // size goes first (64-bit with LargeStream, else 32-bit). Sizes of 2 GiB and more need
  // LargeStream.
  virtual void Write(TStream& AStream, int64_t ASize = 0, bool AWriteByteCount = false);
  // Sends a whole file; returns its size. Raises EIdFileNotFound for a missing file.
  virtual int64_t WriteFile(const std::string& AFile, bool AEnableTransferFile = false);

  // ---- Write buffering ----
  // Creates (or empties) the write buffer; a positive AThreshold flushes whenever it holds
  // that many bytes, -1 never flushes on its own.
  virtual void WriteBufferOpen(int32_t AThreshold);
  void WriteBufferOpen() { WriteBufferOpen(-1); }
  // Sends AByteCount bytes (-1: all) from the head of the write buffer.
  virtual void WriteBufferFlush(int32_t AByteCount);
  void WriteBufferFlush() { WriteBufferFlush(-1); }
  // Flushes everything, then frees the buffer (also when the flush fails).
  virtual void WriteBufferClose();
  // Drops everything buffered and closes buffering.
  virtual void WriteBufferCancel();
  // Drops everything buffered; buffering stays open.
  virtual void WriteBufferClear();
  bool WriteBufferingActive() const { return FWriteBuffer != nullptr; }

  // ---- Properties ----
  // Getters and setters store and return values; none sends anything.
  bool LargeStream() const { return FLargeStream; }
  void SetLargeStream(bool AValue) { FLargeStream = AValue; }
  bool ClosedGracefully() const { return FClosedGracefully; }
  int32_t ConnectTimeout() const { return FConnectTimeout; }
  void SetConnectTimeout(int32_t AValue) { FConnectTimeout = AValue; }
  virtual std::string Destination() const;
  virtual void SetDestination(const std::string& AValue);
  const std::string& Host() const { return FHost; }
  virtual void SetHost(const std::string& AValue);
  TIdConnectionIntercept* Intercept() const { return FIntercept; }
  // Watches the intercept for destruction (the reference is then cleared).
  virtual void SetIntercept(TIdConnectionIntercept* AValue);
  int32_t MaxCapturedLines() const { return FMaxCapturedLines; }
  void SetMaxCapturedLines(int32_t AValue) { FMaxCapturedLines = AValue; }
  TIdMaxLineAction MaxLineAction() const { return FMaxLineAction; }
  void SetMaxLineAction(TIdMaxLineAction AValue) { FMaxLineAction = AValue; }
  int32_t MaxLineLength() const { return FMaxLineLength; }
  void SetMaxLineLength(int32_t AValue) { FMaxLineLength = AValue; }
  bool Opened() const { return FOpened; }
  int32_t Port() const { return FPort; }
  virtual void SetPort(int32_t AValue);
  bool ReadLnSplit() const { return FReadLnSplit; }
  bool ReadLnTimedout() const { return FReadLnTimedOut; }
  int32_t ReadTimeout() const { return FReadTimeOut; }
  void SetReadTimeout(int32_t AValue) { FReadTimeOut = AValue; }
  int32_t RecvBufferSize() const { return FRecvBufferSize; }
  // Sizes below 1 are stored as 1: a zero-length read would look like the end of data.
  void SetRecvBufferSize(int32_t AValue);
  int32_t SendBufferSize() const { return FSendBufferSize; }
  void SetSendBufferSize(int32_t AValue);
  int32_t WriteBufferThreshold() const { return FWriteBufferThreshold; }
  TEncoding* DefStringEncoding() const { return FDefStringEncoding; }
  // An unset encoding stores US-ASCII.
  void SetDefStringEncoding(TEncoding* AValue);

protected:
  // Reads up to VBuffer.size() bytes from the source into VBuffer; returns the count, 0 at
  // the end of data. A failure raises EIdSocketError (a negative count is taken as the
  // stack's last error).
  virtual int32_t ReceiveFromSource(std::span<uint8_t> VBuffer) = 0;
  // Sends from ABuffer; returns the count the transport took (possibly fewer). A failure
  // raises EIdSocketError (a negative count is taken as the stack's last error).
  virtual int32_t SendToTarget(std::span<const uint8_t> ABuffer) = 0;
  // The worker behind both Capture forms: each captured line goes to AOnLine.
  virtual void PerformCapture(const std::function<void(const std::string&)>& AOnLine,
                              const std::string& ADelim, bool AUsesDotTransparency,
                              TEncoding* AEncoding);

  void Notification(TIdInitializerComponent* AComponent, TOperation AOperation) override;

  bool FLargeStream = false;
  bool FClosedGracefully = false;
  int32_t FConnectTimeout = 0;
  std::string FDestination;
  std::string FHost;
  std::unique_ptr<TIdBuffer> FInputBuffer;
  TIdConnectionIntercept* FIntercept = nullptr;
  int32_t FMaxCapturedLines = -1;
  TIdMaxLineAction FMaxLineAction = maException;
  int32_t FMaxLineLength = IdMaxLineLengthDefault;
  bool FOpened = false;
  int32_t FPort = 0;
  bool FReadLnSplit = false;
  bool FReadLnTimedOut = false;
  int32_t FReadTimeOut = IdTimeoutUseReadTimeout;
  int32_t FRecvBufferSize = IdRecvBufferSizeDefault;
  int32_t FSendBufferSize = IdSendBufferSizeDefault;
  std::unique_ptr<TIdBuffer> FWriteBuffer;
  int32_t FWriteBufferThreshold = 0;
  TEncoding* FDefStringEncoding;

private:
  struct TLineSearch;
  // What one receive brought: Received bytes from the source (0: the source ended) and the
  // bytes Added to the input buffer after the intercept.
  struct TReceiveResult {
    int32_t Received = 0;
    int32_t Added = 0;
  };

  static int32_t RemainingTime(int32_t ATimeout, uint32_t AStartTicks);
  int32_t ResolveReadTimeout(int32_t ATimeout) const;
  TEncoding* EncodingOrDefault(TEncoding* AEncoding) const;

  // Reading from the source.
  int32_t FillInputBufferUpTo(bool ARaiseExceptionIfDisconnected, int32_t ATimeout,
                              bool ARaiseExceptionOnTimeout, int32_t AMaxReceive);
  TReceiveResult ReceiveIntoInputBuffer(int32_t AMaxReceive);
  int32_t ReceiveChecked(std::span<uint8_t> VBuffer);
  int32_t HandleReceiveFailure(int AErrorCode, const std::exception_ptr& AFailure);
  void EnsureInputBytes(int32_t AByteCount, int32_t AMaxReceive);

  // Lines.
  bool FindTerminator(TLineSearch& VSearch);
  bool LineTooLong(const TLineSearch& ASearch, int32_t AMaxLength) const;
  std::string TakeLine(const TLineSearch& ASearch, TEncoding* AEncoding);
  template <typename T> T ReadValue(bool AConvert);
  void EraseLastCharacter(std::string& VLine, bool AEcho, TEncoding* AEncoding);

  // Streams.
  int64_t ReadStreamCount();
  void PresizeStream(TStream& AStream, int64_t ACount, bool AAllocate);
  int32_t MoveBufferedToStream(TStream& AStream, int64_t AMax);
  bool ReadStreamPiece(TStream& AStream, int32_t APiece, bool AUntilClose);
  void FinishReadStream(TStream& AStream);

  // Writing.
  void SendAll(std::span<const uint8_t> ABytes);
  int32_t SendChecked(std::span<const uint8_t> ABuffer);
  void NoteSendFailure(int AErrorCode);
  void FlushWriteBufferAtThreshold();
  int64_t StreamUploadSize(TStream& AStream, int64_t ASize);
  void WriteStreamBody(TStream& AStream, int64_t ASize);
};

// A stream that swallows everything written to it: writes report the full count, reads give
// nothing and seeks stay at position 0. Discard and DiscardAll read into one.
class TIdDiscardStream : public TIdBaseStream {
public:
  std::string ClassName() const override { return "TIdDiscardStream"; }

protected:
  int32_t ReadIntoBytes(TBytes& VBuffer, int32_t AOffset, int32_t ACount) override;
  int32_t WriteFromBytes(const TBytes& ABuffer, int32_t AOffset, int32_t ACount) override;
  int64_t SeekPosition(int64_t AOffset, TSeekOrigin AOrigin) override;
  void ChangeSize(int64_t ASize) override;
  int64_t ReadIntoSpan(std::span<uint8_t> VBuffer) override;
  int64_t WriteFromSpan(std::span<const uint8_t> ABuffer) override;
};

} // namespace ftpc
