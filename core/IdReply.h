// Server replies of line-oriented text protocols: a reply code with the text lines that came
// with it, the table of default texts, and the descriptor a connection uses to pick its reply
// class and to tell where a reply ends.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/IdException.h"

namespace ftpc {

class TIdReply;
class TIdReplies;

FTPC_DECLARE_EXCEPTION(EIdReplyError, EIdException);

// A reply class: the factory a connection creates its greeting and last-command replies with,
// and the per-line test that says a reply is complete. Each reply class hands out one
// descriptor (TIdReplyFTP::ReplyClass()), so descriptors compare by address.
struct TIdReplyClass {
  std::string_view Name;
  // Creates a reply inside ACollection (or none) that consults AReplyTexts (or nothing) for
  // default texts.
  std::unique_ptr<TIdReply> (*CreateWithReplyTexts)(TIdReplies* ACollection,
                                                    TIdReplies* AReplyTexts);
  // Whether ALine, looked at alone, ends a reply.
  bool (*IsEndMarker)(std::string_view ALine);
};

// The protocol-neutral reply: a code as text (empty: no reply) and text lines.
class TIdReply : public TObject {
public:
  // A collection passes itself for the elements it creates (TIdReplies::Add). AReplyTexts, when
  // set, must outlive the reply.
  explicit TIdReply(TIdReplies* ACollection = nullptr, TIdReplies* AReplyTexts = nullptr);
  TIdReply(const TIdReply&) = delete;
  TIdReply& operator=(const TIdReply&) = delete;

  static const TIdReplyClass& ReplyClass();
  // Never true: the neutral reply has no line format.
  static bool IsEndMarker(std::string_view ALine);

  // Copies code and text from ASource; derived classes copy what both sides share.
  virtual void Assign(const TIdReply& ASource);
  // Empties the text lines and the code.
  virtual void Clear();
  // Raises the protocol's reply error for this reply.
  [[noreturn]] virtual void RaiseReplyError() const;
  virtual bool ReplyExists() const;

  // The lines as the protocol writes them.
  virtual std::vector<std::string> FormattedReply() const;
  // Parses the lines a connection collected into code and text.
  virtual void SetFormattedReply(const std::vector<std::string>& AValue);

  // Assigns the code (clearing the reply when it changes), then replaces the text by AText
  // split at CR LF, CR or LF.
  void SetReply(int ACode, std::string_view AText);
  void SetReply(const std::string& ACode, std::string_view AText);
  // Fills in the default text of the code when the reply has none and a table is set.
  void UpdateText();

  const std::string& Code() const { return FCode; }
  // Raises EIdException when the code is not valid for the reply class, or when another
  // element of the reply's collection has it; a different code empties the reply first.
  void SetCode(const std::string& AValue);
  // The code as a number; 0 when it is empty or not a number.
  int NumericCode() const;
  void SetNumericCode(int AValue);
  const std::vector<std::string>& Text() const { return FText; }
  std::vector<std::string>& Text() { return FText; }
  void SetText(const std::vector<std::string>& AValue) { FText = AValue; }

  TIdReplies* Collection() const { return FCollection; }
  TIdReplies* ReplyTexts() const { return FReplyTexts; }
  // The code, and the first text line after a space when there is one.
  std::string DisplayName() const;
  // The first text line, empty when there is none.
  std::string FirstTextLine() const;
  // Every text line followed by CR LF (the form reply errors carry).
  std::string TextWithLineEnds() const;
  // The text lines joined with CR LF between them.
  std::string JoinedText() const;
  // The reply as the protocol writes it, its lines joined with CR LF between them.
  std::string FormattedText() const;

  std::string ClassName() const override { return "TIdReply"; }

protected:
  virtual bool CodeIsValid(std::string_view ACode) const;

  std::string FCode;
  TIdReplies* FReplyTexts;
  std::vector<std::string> FText;

private:
  TIdReplies* FCollection;
};

// An ordered collection of replies of one class that owns its elements; used as a table of
// default texts keyed by code.
class TIdReplies : public TObject {
public:
  TIdReplies(TObject* AOwner, const TIdReplyClass& AReplyClass);
  TIdReplies(const TIdReplies&) = delete;
  TIdReplies& operator=(const TIdReplies&) = delete;
  ~TIdReplies() override;

  // A new empty element.
  TIdReply* Add();
  // A new element with the code and text; when they are refused it is removed again and the
  // error passes on.
  TIdReply* Add(int ACode, std::string_view AText);
  TIdReply* Add(const std::string& ACode, std::string_view AText);
  // The first element whose code equals ACode exactly and which is not AIgnore; null for an
  // empty code or when none has it.
  TIdReply* Find(const std::string& ACode, const TIdReply* AIgnore = nullptr) const;
  // Copies the default text for AReply's code into AReply when AReply has no text.
  void UpdateText(TIdReply* AReply) const;

  int Count() const { return static_cast<int>(FItems.size()); }
  TIdReply* Items(int AIndex) const;
  void Delete(int AIndex);
  void Clear();

  TObject* Owner() const { return FOwner; }
  const TIdReplyClass& ReplyClass() const { return *FReplyClass; }
  std::string ClassName() const override { return "TIdReplies"; }

private:
  TObject* FOwner;
  const TIdReplyClass* FReplyClass;
  std::vector<std::unique_ptr<TIdReply>> FItems;
};

} // namespace ftpc
