// The reply model: code assignment and validity, copying between reply classes, the reply
// error, default texts and the reply-class descriptors.
#include <gtest/gtest.h>

#include "core/IdReplyFTP.h"
#include "global/IdGlobal.h"

namespace ftpc {
namespace {

using Lines = std::vector<std::string>;

TEST(ReplyCode, ValidityPerClass) {
  struct Case {
    std::string Code;
    bool Rfc;
  };
  const Case cases[] = {
      {"220", true},  {"", true},     {"   ", true},   {" 220 ", true}, {"100", true},
      {"999", true},  {"22", false},  {"2201", false}, {"+OK", false},  {"abc", false},
      {"099", false}, {"1000", false}, {"-220", false}, {"0", false},
  };
  for (const Case& c : cases) {
    TIdReplyRFC rfc;
    TIdReplyFTP ftp;
    TIdReply base;
    for (TIdReply* reply : {static_cast<TIdReply*>(&rfc), static_cast<TIdReply*>(&ftp)}) {
      if (c.Rfc) {
        EXPECT_NO_THROW(reply->SetCode(c.Code)) << c.Code;
        EXPECT_EQ(reply->Code(), c.Code);
      } else {
        EXPECT_THROW(reply->SetCode(c.Code), EIdException) << c.Code;
      }
    }
    EXPECT_NO_THROW(base.SetCode(c.Code)) << c.Code; // the neutral reply takes any code
  }
}

TEST(ReplyCode, SameCodeKeepsTextOtherCodeClearsIt) {
  TIdReplyFTP reply;
  reply.SetReply(550, "No such file");
  reply.SetCode("550");
  EXPECT_EQ(reply.Text(), Lines{"No such file"});
  reply.SetNumericCode(550);
  EXPECT_EQ(reply.Text(), Lines{"No such file"});
  reply.SetCode("226");
  EXPECT_TRUE(reply.Text().empty());
  EXPECT_EQ(reply.NumericCode(), 226);
}

TEST(ReplyCode, RefusedCodeLeavesTheReplyAlone) {
  TIdReplyRFC reply;
  reply.SetReply(250, "kept");
  try {
    reply.SetCode("25");
    FAIL() << "accepted 25";
  } catch (const EIdException& e) {
    EXPECT_STREQ(e.what(), "Reply Code is not valid: 25");
  }
  EXPECT_EQ(reply.Code(), "250");
  EXPECT_EQ(reply.Text(), Lines{"kept"});
}

TEST(ReplyCode, NumericCodeOfTextCodes) {
  TIdReply reply;
  reply.SetCode("abc");
  EXPECT_EQ(reply.NumericCode(), 0);
  reply.SetCode(" 42 ");
  EXPECT_EQ(reply.NumericCode(), 42);
  reply.SetCode("");
  EXPECT_EQ(reply.NumericCode(), 0);
}

TEST(ReplyExists, PerClass) {
  TIdReply base;
  EXPECT_FALSE(base.ReplyExists());
  base.SetText({"text only"});
  EXPECT_FALSE(base.ReplyExists()); // the neutral reply looks at the code alone
  base.SetCode("x");
  EXPECT_TRUE(base.ReplyExists());

  TIdReplyRFC rfc;
  EXPECT_FALSE(rfc.ReplyExists());
  rfc.SetCode("200");
  EXPECT_TRUE(rfc.ReplyExists());
  rfc.Clear();
  rfc.SetText({"text only"});
  EXPECT_TRUE(rfc.ReplyExists());
}

TEST(ReplySetReply, SplitsTextAtAnyLineBreak) {
  struct Case {
    std::string Text;
    Lines Expected;
  };
  const Case cases[] = {
      {"a\r\nb\nc\rd", {"a", "b", "c", "d"}},
      {"one\r\n", {"one"}},
      {"", {}},
      {"\r\n", {""}},
      {"a\n\nb", {"a", "", "b"}},
      {"a\r", {"a"}},
  };
  for (const Case& c : cases) {
    TIdReplyFTP reply;
    reply.SetReply(200, c.Text);
    EXPECT_EQ(reply.Code(), "200");
    EXPECT_EQ(reply.Text(), c.Expected) << c.Text;
  }
}

TEST(ReplySetReply, SameCodeStillReplacesText) {
  TIdReplyFTP reply;
  reply.SetReply("200", "first\nlines");
  reply.SetReply("200", "second");
  EXPECT_EQ(reply.Text(), Lines{"second"});
}

TEST(ReplyFTP, ClearLeavesTheLineFormat) {
  TIdReplyFTP reply;
  reply.SetFormattedReply({"211-Features:", " MDTM", "211 End"});
  reply.Clear();
  EXPECT_EQ(reply.Code(), "");
  EXPECT_TRUE(reply.Text().empty());
  EXPECT_EQ(reply.ReplyFormat(), rfIndentMidLines);
}

// ---- Assign -------------------------------------------------------------------------------

TEST(ReplyAssign, CopiesWhatBothClassesShare) {
  TIdReplyFTP ftp;
  ftp.SetFormattedReply({"211-Features:", " MDTM", "211 End"});

  TIdReplyFTP ftpCopy;
  ftpCopy.Assign(ftp);
  EXPECT_EQ(ftpCopy.Code(), "211");
  EXPECT_EQ(ftpCopy.Text(), ftp.Text());
  EXPECT_EQ(ftpCopy.ReplyFormat(), rfIndentMidLines);

  TIdReplyRFC rfcCopy;
  rfcCopy.Assign(ftp);
  EXPECT_EQ(rfcCopy.Code(), "211");
  EXPECT_EQ(rfcCopy.Text(), ftp.Text());

  TIdReply baseCopy;
  baseCopy.Assign(ftp);
  EXPECT_EQ(baseCopy.Code(), "211");
  EXPECT_EQ(baseCopy.Text(), ftp.Text());

  TIdReplyFTP fromRfc;
  fromRfc.SetReplyFormat(rfIndentMidLines);
  fromRfc.Assign(rfcCopy);
  EXPECT_EQ(fromRfc.ReplyFormat(), rfIndentMidLines); // an RFC reply carries no format
  EXPECT_EQ(fromRfc.Text(), ftp.Text());
}

TEST(ReplyAssign, NumericCopyNormalisesTheCodeText) {
  TIdReply base;
  base.SetCode(" 220 ");
  base.SetText({"hi"});
  TIdReplyRFC rfc;
  rfc.Assign(base); // base source: the code text itself
  EXPECT_EQ(rfc.Code(), " 220 ");
  TIdReplyFTP ftp;
  ftp.Assign(rfc); // RFC source: the numeric code
  EXPECT_EQ(ftp.Code(), "220");
  EXPECT_EQ(ftp.Text(), Lines{"hi"});
}

TEST(ReplyAssign, EmptyCodeIntoNumericReplyIsRefusedAsZero) {
  TIdReplyRFC empty;
  for (TIdReplyRFC* target : {new TIdReplyRFC, static_cast<TIdReplyRFC*>(new TIdReplyFTP)}) {
    const std::unique_ptr<TIdReplyRFC> owner(target);
    try {
      target->Assign(empty);
      ADD_FAILURE() << "accepted an empty code";
    } catch (const EIdException& e) {
      EXPECT_STREQ(e.what(), "Reply Code is not valid: 0");
    }
  }
}

TEST(ReplyAssign, BaseTextCodeMustSuitTheTarget) {
  TIdReply base;
  base.SetCode("+OK");
  TIdReplyRFC rfc;
  EXPECT_THROW(rfc.Assign(base), EIdException);
}

TEST(ReplyAssign, SelfAssignKeepsEverything) {
  TIdReplyFTP reply;
  reply.SetReply(" 226", "Done");
  reply.Assign(reply);
  EXPECT_EQ(reply.Code(), " 226");
  EXPECT_EQ(reply.Text(), Lines{"Done"});
  TIdReplyRFC rfc;
  rfc.SetReply(" 250", "ok");
  rfc.Assign(rfc);
  EXPECT_EQ(rfc.Text(), Lines{"ok"});
}

// ---- Reply error --------------------------------------------------------------------------

TEST(ReplyError, CarriesCodeAndText) {
  struct Case {
    std::string Code;
    std::string Text;
    int ErrorCode;
    std::string Message;
  };
  const Case cases[] = {
      {"550", "No such file", 550, "No such file\r\n"},
      {"226", "a\nb", 226, "a\r\nb\r\n"},
      {"421", "", 421, ""},
      {"", "", 0, ""},
  };
  for (const Case& c : cases) {
    TIdReplyFTP reply;
    reply.SetReply(c.Code, c.Text);
    try {
      reply.RaiseReplyError();
    } catch (const EIdReplyRFCError& e) {
      EXPECT_EQ(e.ErrorCode(), c.ErrorCode);
      EXPECT_EQ(e.what(), c.Message);
      EXPECT_EQ(e.ClassName(), "EIdReplyRFCError");
    }
  }
}

TEST(ReplyError, NeutralReplyHasNoProtocolOperations) {
  TIdReply reply;
  EXPECT_THROW(reply.RaiseReplyError(), EIdAssertionFailure);
  EXPECT_THROW(reply.SetFormattedReply({"200 OK"}), EIdAssertionFailure);
  reply.SetCode("200");
  EXPECT_TRUE(reply.FormattedReply().empty());
}

// ---- Default texts ------------------------------------------------------------------------

TEST(ReplyTable, DuplicateCodesAreRefused) {
  TIdReplies table(nullptr, TIdReplyRFC::ReplyClass());
  table.Add(500, "Syntax error");
  TIdReply* notFound = table.Add("550", "Not found");
  try {
    table.Add(500, "Again");
    FAIL() << "duplicate accepted";
  } catch (const EIdException& e) {
    EXPECT_STREQ(e.what(), "Reply Code already exists: 500");
  }
  EXPECT_EQ(table.Count(), 2); // the refused element is gone again
  EXPECT_THROW(table.Add("5", "bad"), EIdException);
  EXPECT_EQ(table.Count(), 2);
  // Renaming an element onto another's code is refused and changes nothing.
  EXPECT_THROW(notFound->SetCode("500"), EIdException);
  EXPECT_EQ(notFound->Code(), "550");
  EXPECT_EQ(notFound->Text(), Lines{"Not found"});
  EXPECT_EQ(notFound->DisplayName(), "550 Not found");
}

TEST(ReplyTable, FindAndUpdateText) {
  TIdReplies table(nullptr, TIdReplyFTP::ReplyClass());
  TIdReply* first = table.Add(421, "Service not available");
  table.Add(530, "Not logged in");
  EXPECT_EQ(table.Find("421"), first);
  EXPECT_EQ(table.Find("421", first), nullptr);
  EXPECT_EQ(table.Find(""), nullptr);
  EXPECT_EQ(table.Find(" 421"), nullptr); // exact code text only
  EXPECT_EQ(table.Items(0)->ClassName(), "TIdReplyFTP");

  TIdReplyFTP reply(nullptr, &table);
  reply.SetCode("530");
  reply.UpdateText();
  EXPECT_EQ(reply.Text(), Lines{"Not logged in"});
  reply.SetText({"Server text"});
  reply.UpdateText();
  EXPECT_EQ(reply.Text(), Lines{"Server text"}); // only an empty reply takes the default
  reply.SetCode("200");
  reply.UpdateText();
  EXPECT_TRUE(reply.Text().empty());
}

TEST(ReplyTable, IndexesAreChecked) {
  TIdReplies table(nullptr, TIdReplyRFC::ReplyClass());
  table.Add();
  EXPECT_EQ(table.Items(0)->Code(), "");
  EXPECT_EQ(table.Items(0)->DisplayName(), "");
  EXPECT_THROW(table.Items(1), EIdAssertionFailure);
  EXPECT_THROW(table.Delete(-1), EIdAssertionFailure);
  table.Delete(0);
  EXPECT_EQ(table.Count(), 0);
}

// ---- Reply classes ------------------------------------------------------------------------

TEST(ReplyClass, DescriptorsCreateTheirClassAndTestEnds) {
  struct Case {
    const TIdReplyClass* Class;
    std::string Name;
    bool EndsAtBareCode;
  };
  const Case cases[] = {
      {&TIdReply::ReplyClass(), "TIdReply", false},
      {&TIdReplyRFC::ReplyClass(), "TIdReplyRFC", true},
      {&TIdReplyFTP::ReplyClass(), "TIdReplyFTP", true},
  };
  for (const Case& c : cases) {
    const std::unique_ptr<TIdReply> reply = c.Class->CreateWithReplyTexts(nullptr, nullptr);
    EXPECT_EQ(reply->ClassName(), c.Name);
    EXPECT_EQ(c.Class->Name, c.Name);
    EXPECT_EQ(reply->Collection(), nullptr);
    EXPECT_EQ(reply->ReplyTexts(), nullptr);
    EXPECT_EQ(c.Class->IsEndMarker("226"), c.EndsAtBareCode);
  }
  // The classes differ where a line is not three digits and a space.
  EXPECT_TRUE(TIdReplyRFC::ReplyClass().IsEndMarker("abc def"));
  EXPECT_FALSE(TIdReplyFTP::ReplyClass().IsEndMarker("abc def"));
  const auto ftp = TIdReplyFTP::ReplyClass().CreateWithReplyTexts(nullptr, nullptr);
  EXPECT_EQ(static_cast<TIdReplyFTP*>(ftp.get())->ReplyFormat(), rfNormal);
}

} // namespace
} // namespace ftpc
