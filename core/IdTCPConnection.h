// TIdTCPConnection: the connection of a command/reply protocol. It owns (or borrows) the I/O
// handler all bytes pass through and runs the exchange every protocol command uses: write one
// command line, read reply lines until the reply class says the reply is complete, parse them
// into the last reply and check its code against the codes the caller accepts.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "core/IdComponent.h"
#include "core/IdReply.h"

namespace ftpc {

class TIdConnectionIntercept;
class TIdIOHandler;
class TIdIOHandlerSocket;
struct TIdIOHandlerClass;

// A command line that holds CR or LF: sent as it is, it would carry a second command.
FTPC_DECLARE_EXCEPTION(EIdCommandLineHasLineBreak, EIdException);

// The class-reference form of RaiseExceptionForLastCmdResult: throws a new exception of one
// class with the given message. RaiseAs<E> is one for any exception class E.
using TIdExceptionRaiser = void (*)(const std::string& AMessage);
template <typename E> void RaiseAs(const std::string& AMessage) { throw E(AMessage); }

// A reply beyond IdMaxReplyLines lines or IdMaxReplyBytes bytes of text.
FTPC_DECLARE_EXCEPTION(EIdReplyTooLarge, EIdException);

// Bounds on one reply, so that a server cannot grow memory or hold the reader without end (an
// endless run of "220-" lines, or blank lines now and then). A STAT listing of a large
// directory is one reply, so they are generous. With a read time-out set, the whole reply must
// arrive within IdReplyReadTimeouts read time-outs; without one it may take any time.
inline constexpr size_t IdMaxReplyLines = 500000;
inline constexpr size_t IdMaxReplyBytes = 32 * 1024 * 1024;
inline constexpr int32_t IdReplyReadTimeouts = 20;

// Reply codes accepted by a command; an empty list accepts every code.
using TIdReplyCodes = std::vector<int16_t>;

class TIdTCPConnection : public TIdComponent {
public:
  // A connection without handler that parses replies with DefaultReplyClass.
  explicit TIdTCPConnection(TIdInitializerComponent* AOwner = nullptr);
  // Closes the handler directly (no goodbye to the peer) and destroys it when owned.
  ~TIdTCPConnection() override;

  std::string ClassName() const override { return "TIdTCPConnection"; }
  // The RFC reply class ("nnn text" lines, "nnn-" continuing).
  static const TIdReplyClass& DefaultReplyClass();

  // ---- Command exchange ----------------------------------------------------------------
  // Writes AOut as one line in AEncoding (null: the handler's default), reads the reply and
  // returns its code. Raises EIdCommandLineHasLineBreak, sending nothing, when the line holds
  // CR or LF; EIdNotConnected without a handler; the reply error when the code is not in
  // AResponse (LastCmdResult then holds the rejected reply).
  virtual int16_t SendCmd(const std::string& AOut, const TIdReplyCodes& AResponse,
                          TEncoding* AEncoding = nullptr);
  int16_t SendCmd(const std::string& AOut, std::initializer_list<int16_t> AResponse,
                  TEncoding* AEncoding = nullptr);
  // A negative AResponse accepts every code.
  int16_t SendCmd(const std::string& AOut, int16_t AResponse = -1, TEncoding* AEncoding = nullptr);
  // Compares the reply's code text with AResponse ignoring case; empty accepts every code.
  std::string SendCmd(const std::string& AOut, const std::string& AResponse,
                      TEncoding* AEncoding = nullptr);
  // Writes one command line without reading a reply, with the same line checks as SendCmd.
  void SendCmdLine(const std::string& AOut, TEncoding* AEncoding = nullptr);

  // Reads one reply (GetInternalResponse) and returns its code. Raises the reply error when
  // the code is not in AAllowedResponses (empty or -1: every code), EIdRangeError for a code
  // outside 16 bits, and the handler's read errors (EIdReadTimeout, EIdConnClosedGracefully).
  virtual int16_t GetResponse(const TIdReplyCodes& AAllowedResponses,
                              TEncoding* AEncoding = nullptr);
  int16_t GetResponse(std::initializer_list<int16_t> AAllowedResponses,
                      TEncoding* AEncoding = nullptr);
  int16_t GetResponse(int16_t AAllowedResponse = -1, TEncoding* AEncoding = nullptr);
  // The same with the reply's code text compared to AAllowedResponse ignoring case.
  virtual std::string GetResponse(const std::string& AAllowedResponse,
                                  TEncoding* AEncoding = nullptr);

  // Returns AResponse when the list is empty or holds it; raises the reply error otherwise.
  virtual int16_t CheckResponse(int16_t AResponse, const TIdReplyCodes& AAllowedResponses);
  // The same for code texts, compared ignoring case; empty accepts every code.
  virtual std::string CheckResponse(const std::string& AResponse,
                                    const std::string& AAllowedResponse);

  // Reads one reply into LastCmdResult without checking its code: lines that are blank after
  // trimming are skipped, and the reply ends at the first line the reply class calls an end
  // marker. Raises EIdNotConnected without a handler, EIdReplyTooLarge beyond the reply bounds,
  // EIdReadTimeout when the time for the whole reply has run out, and the handler's read errors.
  virtual void GetInternalResponse(TEncoding* AEncoding = nullptr);
  // Raises the reply class's error for LastCmdResult (EIdReplyRFCError with its code and text).
  [[noreturn]] virtual void RaiseExceptionForLastCmdResult();
  // Raises a new exception made by AException, whose message is the last reply's text lines,
  // each followed by CR LF.
  [[noreturn]] virtual void RaiseExceptionForLastCmdResult(TIdExceptionRaiser AException);

  // Writes each header line with its first "=" replaced by ": ", then an empty line, in one
  // block unless the handler is already buffering; on failure nothing of it is sent.
  void WriteHeader(const std::vector<std::string>& AHeader);
  // Writes the lines dot-stuffed, then the terminating "." line. Raises EIdNotConnected
  // without a handler.
  void WriteRFCStrings(const std::vector<std::string>& AStrings);

  // ---- Connection state ----------------------------------------------------------------
  // Lets the handler look for the peer's close. With ARaiseExceptionIfDisconnected, raises
  // EIdConnClosedGracefully when the peer closed and nothing is left buffered, and
  // EIdException "Not Connected" without a handler.
  virtual void CheckForGracefulDisconnect(bool ARaiseExceptionIfDisconnected = true);
  // A handler is set and reports itself connected (which may read pending input).
  virtual bool Connected();
  // Disconnect with peer notification.
  void Disconnect() { Disconnect(true); }
  // With ANotifyPeer and a live connection, says goodbye first (DisconnectNotifyPeer); then
  // closes an open handler with the disconnecting/disconnected statuses and OnDisconnected.
  // A failure of the goodbye is raised after the close.
  virtual void Disconnect(bool ANotifyPeer);
  // Creates and owns a handler of ABaseType (null: the default class). Raises EIdException
  // when connected.
  void CreateIOHandler(const TIdIOHandlerClass* ABaseType = nullptr);

  // ---- Properties ----------------------------------------------------------------------
  // The server's greeting; the setter copies AValue.
  TIdReply& Greeting() { return *FGreeting; }
  void SetGreeting(const TIdReply& AValue) { FGreeting->Assign(AValue); }
  // The last reply read, also after it was refused.
  TIdReply& LastCmdResult() { return *FLastCmdResult; }
  // Whether this connection owns the current handler.
  bool ManagedIOHandler() const { return FManagedIOHandler != nullptr; }
  // true: this connection takes over the current handler (prefer the owning SetIOHandler);
  // false: it lets go of it without destroying it.
  void SetManagedIOHandler(bool AValue);
  // The handler when it is a socket handler, else null.
  TIdIOHandlerSocket* Socket() const { return FSocket; }
  TIdIOHandler* IOHandler() const { return FIOHandler; }
  // Borrows AValue (null: none): the giver keeps it and destroys it; its destruction is
  // noticed. A managed handler that is replaced is destroyed. Raises EIdException when AValue
  // has an intercept other than this connection's.
  virtual void SetIOHandler(TIdIOHandler* AValue);
  // Takes AValue over: as the borrowing form, then the connection owns it and destroys it when
  // it replaces it or goes itself. A handler that the borrowing form refused is destroyed; one
  // it kept while raising (a subclass's type check) stays owned.
  void SetIOHandler(std::unique_ptr<TIdIOHandler> AValue);
  // The handler's intercept, or the connection's own without a handler.
  TIdConnectionIntercept* Intercept() const;
  // Watches the intercept (not owned) and passes it to the handler. Raises EIdException when
  // the handler already has a different one.
  virtual void SetIntercept(TIdConnectionIntercept* AValue);
  // Fired after Disconnect closed the handler.
  const TNotifyEvent& OnDisconnected() const { return FOnDisconnected; }
  void SetOnDisconnected(TNotifyEvent AValue) { FOnDisconnected = std::move(AValue); }

protected:
  // Lets a protocol choose its reply class at construction.
  TIdTCPConnection(TIdInitializerComponent* AOwner, const TIdReplyClass& AReplyClass);

  virtual void DoOnDisconnected();
  // May rewrite a command line before it is written; unchanged here.
  virtual void PrepareCommandLine(std::string& VCommand);
  // Says goodbye to the peer before Disconnect closes; nothing here.
  virtual void DisconnectNotifyPeer();
  // Raises EIdNotConnected when no handler is set (the socket state is not looked at).
  void RequireIOHandler() const;
  void Notification(TIdInitializerComponent* AComponent, TOperation AOperation) override;

  const TIdReplyClass& ReplyClass() const { return *FReplyClass; }

private:
  const TIdReplyClass* FReplyClass;
  std::unique_ptr<TIdReply> FGreeting;
  std::unique_ptr<TIdReply> FLastCmdResult;
  TIdConnectionIntercept* FIntercept = nullptr; // not owned
  TIdIOHandler* FIOHandler = nullptr;           // owned only through FManagedIOHandler
  std::unique_ptr<TIdIOHandler> FManagedIOHandler;
  TIdIOHandlerSocket* FSocket = nullptr; // FIOHandler when it is a socket handler
  TNotifyEvent FOnDisconnected;

  std::string PreparedCommandLine(const std::string& AOut);
  void DetachIOHandler();
  void AttachIOHandler(TIdIOHandler* AValue);
};

} // namespace ftpc
