#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <future>
#include <thread>

#include "core/IOHandlerTestKit.h"
#include "core/IdBuffer.h"
#include "core/IdIOHandler.h"
#include "core/IdIntercept.h"
#include "stack/IdStack.h"
#include "stack/IdStackConsts.h"

namespace ftpc {
namespace {

using test::TConnectedPair;
using test::TTestIOHandler;
using test::TWorkLog;

// ---- Lines ---------------------------------------------------------------------------------

struct LineCase {
  const char* Name;
  std::string Input;
  std::string Terminator;
  std::vector<std::string> Lines;
};

// Every case runs with several receive sizes, so terminators arrive split across reads.
class ReadLnTerminators : public ::testing::TestWithParam<std::tuple<LineCase, int32_t>> {};

TEST_P(ReadLnTerminators, SplitsLinesAtTheTerminator) {
  const auto& [c, recvSize] = GetParam();
  TConnectedPair pair;
  pair.Handler->SetRecvBufferSize(recvSize);
  pair.Peer->Send(c.Input);
  for (const std::string& expected : c.Lines) {
    EXPECT_EQ(pair.Handler->ReadLn(c.Terminator, nullptr), expected) << c.Name;
  }
  EXPECT_TRUE(pair.Handler->InputBufferIsEmpty()) << c.Name;
}

const LineCase kLineCases[] = {
    {"crlf", "abc\r\n", "", {"abc"}},
    {"bare_lf", "abc\n", "", {"abc"}},
    {"only_one_cr_dropped", "ab\r\r\n", "", {"ab\r"}},
    {"empty_lines", "\r\n\n", "", {"", ""}},
    {"mixed_ends", "one\r\ntwo\nthree\r\n", "", {"one", "two", "three"}},
    {"cr_kept_before_other_terminator", "ab\r.", ".", {"ab\r"}},
    {"explicit_crlf_keeps_lone_cr", "x\ry\r\n", "\r\n", {"x\ry"}},
    {"multi_byte_terminator", "abcENDdefEND", "END", {"abc", "def"}},
    {"terminator_prefix_repeats", "aEEND", "END", {"aE"}},
};

std::string LineCaseName(const ::testing::TestParamInfo<ReadLnTerminators::ParamType>& AInfo) {
  return std::string(std::get<0>(AInfo.param).Name) + "_recv" +
         std::to_string(std::get<1>(AInfo.param));
}

INSTANTIATE_TEST_SUITE_P(IOHandler, ReadLnTerminators,
                         ::testing::Combine(::testing::ValuesIn(kLineCases),
                                            ::testing::Values(1, 2, 3, 32768)),
                         LineCaseName);

TEST(IOHandlerReadLn, TimeoutZeroWithNothingBufferedReturnsEmptyAndFlagsTimeout) {
  TConnectedPair pair;
  EXPECT_EQ(pair.Handler->ReadLn("", 0), "");
  EXPECT_TRUE(pair.Handler->ReadLnTimedout());
  pair.Peer->Send("late\r\n");
  EXPECT_EQ(pair.Handler->ReadLn(), "late");
  EXPECT_FALSE(pair.Handler->ReadLnTimedout());
}

TEST(IOHandlerReadLn, StalledPartialLineTimesOutAndStaysBuffered) {
  TConnectedPair pair;
  pair.Peer->Send("partial");
  EXPECT_EQ(pair.Handler->ReadLn("", 50), "");
  EXPECT_TRUE(pair.Handler->ReadLnTimedout());
  pair.Peer->Send(" line\n");
  EXPECT_EQ(pair.Handler->ReadLn(), "partial line");
}

TEST(IOHandlerReadLn, PeerCloseBeforeTerminatorRaisesAndKeepsTheBytes) {
  TConnectedPair pair;
  pair.Peer->Send("first\nabc");
  pair.Peer->Close();
  EXPECT_EQ(pair.Handler->ReadLn(), "first");
  EXPECT_THROW(pair.Handler->ReadLn(), EIdConnClosedGracefully);
  EXPECT_TRUE(pair.Handler->ClosedGracefully());
  EXPECT_EQ(pair.Handler->InputBufferAsString(), "abc");
}

TEST(IOHandlerReadLn, ConnectedWhileUnreadBytesRemainAfterPeerClose) {
  TConnectedPair pair;
  pair.Peer->Send("one\ntwo\n");
  pair.Peer->Close();
  EXPECT_EQ(pair.Handler->ReadLn(), "one");
  pair.Handler->FillInputBuffer(false, 1000, false); // notices the close
  EXPECT_TRUE(pair.Handler->Connected());
  EXPECT_EQ(pair.Handler->ReadLn(), "two");
  EXPECT_FALSE(pair.Handler->Connected());
}

struct LengthCase {
  const char* Name;
  int32_t Limit;
  std::string Line;
  bool TooLong;
};

class ReadLnLengthLimit : public ::testing::TestWithParam<LengthCase> {};

TEST_P(ReadLnLengthLimit, CountsBytesUpToTheTerminator) {
  const LengthCase& c = GetParam();
  TConnectedPair pair;
  pair.Handler->SetMaxLineLength(c.Limit);
  pair.Peer->Send(c.Line);
  if (c.TooLong) {
    EXPECT_THROW(pair.Handler->ReadLn(), EIdReadLnMaxLineLengthExceeded);
  } else {
    EXPECT_NO_THROW(pair.Handler->ReadLn());
  }
}

INSTANTIATE_TEST_SUITE_P(IOHandler, ReadLnLengthLimit,
                         ::testing::Values(LengthCase{"lf_at_limit", 5, "abcde\n", false},
                                           LengthCase{"cr_counts", 5, "abcde\r\n", true},
                                           LengthCase{"one_over", 5, "abcdef\n", true},
                                           LengthCase{"no_limit", 0, std::string(70000, 'x') + "\n",
                                                      false}),
                         [](const auto& AInfo) { return std::string(AInfo.param.Name); });

TEST(IOHandlerReadLn, OverLongLineRaisesAndStaysForASplitRead) {
  TConnectedPair pair;
  const std::string line(20000, 'q');
  pair.Peer->Send(line + "\r\n");
  EXPECT_THROW(pair.Handler->ReadLn(), EIdReadLnMaxLineLengthExceeded);
  EXPECT_GT(pair.Handler->InputBuffer()->Size(), IdMaxLineLengthDefault);

  bool split = false;
  EXPECT_EQ(pair.Handler->ReadLnSplit(split), std::string(IdMaxLineLengthDefault, 'q'));
  EXPECT_TRUE(split);
  EXPECT_EQ(pair.Handler->MaxLineAction(), maException); // restored after the call
  EXPECT_EQ(pair.Handler->ReadLnSplit(split), std::string(20000 - IdMaxLineLengthDefault, 'q'));
  EXPECT_FALSE(split);
}

TEST(IOHandlerReadLn, SplitActionReturnsTheLineInLimitSizedParts) {
  TConnectedPair pair;
  pair.Handler->SetMaxLineAction(maSplit);
  pair.Peer->Send(std::string(20000, 's') + "\n");
  EXPECT_EQ(pair.Handler->ReadLn().size(), static_cast<size_t>(IdMaxLineLengthDefault));
  EXPECT_TRUE(pair.Handler->ReadLnSplit());
  EXPECT_EQ(pair.Handler->ReadLn().size(), 20000u - IdMaxLineLengthDefault);
  EXPECT_FALSE(pair.Handler->ReadLnSplit());
}

// A peer that streams bytes without ever sending a terminator must not make the reader buffer
// them without bound (or wait for a terminator that never comes).
TEST(IOHandlerReadLn, UnterminatedFloodIsRejectedOnceTheLimitIsPassed) {
  TConnectedPair pair;
  pair.Handler->SetReadTimeout(5000);
  pair.Handler->SetMaxLineLength(1000);
  pair.Peer->Send(std::string(200000, 'f'));
  EXPECT_THROW(pair.Handler->ReadLn(), EIdReadLnMaxLineLengthExceeded);
  EXPECT_LT(pair.Handler->InputBuffer()->Size(), 1000 + IdRecvBufferSizeDefault + 1);
}

TEST(IOHandlerReadLn, DecodesWithTheGivenOrDefaultEncoding) {
  TConnectedPair pair;
  pair.Peer->Send("caf\xE9\r\ncaf\xC3\xA9\r\n");
  pair.Handler->SetDefStringEncoding(Latin1Encoding());
  EXPECT_EQ(pair.Handler->ReadLn(), "caf\xC3\xA9");
  EXPECT_EQ(pair.Handler->ReadLn(UTF8Encoding()), "caf\xC3\xA9");
  pair.Handler->SetDefStringEncoding(nullptr);
  EXPECT_EQ(pair.Handler->DefStringEncoding(), ASCIIEncoding());
}

TEST(IOHandlerReadLnWait, SkipsBlankLinesAndTrims) {
  TConnectedPair pair;
  pair.Peer->Send("\r\n   \r\n\t\r\n  220 ready  \r\n");
  EXPECT_EQ(pair.Handler->ReadLnWait(), "220 ready");
}

TEST(IOHandlerReadLnWait, GivesUpAfterTheFailCount) {
  TConnectedPair pair;
  pair.Peer->Send("\r\n\r\nlate\r\n");
  EXPECT_THROW(pair.Handler->ReadLnWait(2), EIdReadLnWaitMaxAttemptsExceeded);
  EXPECT_EQ(pair.Handler->ReadLnWait(), "late");
}

TEST(IOHandlerReadLnWait, RaisesOnTimeout) {
  TConnectedPair pair;
  pair.Handler->SetReadTimeout(30);
  EXPECT_THROW(pair.Handler->ReadLnWait(), EIdReadTimeout);
}

TEST(IOHandlerReadLnRFC, UndoesDotStuffingAndSeesTheEnd) {
  TConnectedPair pair;
  pair.Peer->Send("..hidden\r\ntext\r\n.x\r\n.\r\n");
  bool end = false;
  EXPECT_EQ(pair.Handler->ReadLnRFC(end), ".hidden");
  EXPECT_FALSE(end);
  EXPECT_EQ(pair.Handler->ReadLnRFC(end), "text");
  EXPECT_EQ(pair.Handler->ReadLnRFC(end), "x");
  EXPECT_FALSE(end);
  EXPECT_EQ(pair.Handler->ReadLnRFC(end), ".");
  EXPECT_TRUE(end);
}

TEST(IOHandlerReadStrings, ReadsACountedList) {
  TConnectedPair pair;
  pair.Peer->Send(std::string("\0\0\0\2a\r\nb\r\n", 10));
  TStrings lines{"kept"};
  pair.Handler->ReadStrings(lines);
  EXPECT_EQ(lines, (TStrings{"kept", "a", "b"}));
}

// ---- Bytes and values -------------------------------------------------------------------------

TEST(IOHandlerReadValues, ConvertFromNetworkOrderOnRequest) {
  TConnectedPair pair;
  pair.Peer->Send(std::string("\x01\x02"
                              "\xFF\xFF\xFF\xFE"
                              "\x80\x00\x00\x01"
                              "\x00\x00\x00\x01\x00\x00\x00\x02"
                              "\x7F"
                              "\x01\x02",
                              21));
  EXPECT_EQ(pair.Handler->ReadSmallInt(), 0x0102);
  EXPECT_EQ(pair.Handler->ReadLongInt(), -2);
  EXPECT_EQ(pair.Handler->ReadLongWord(), 0x80000001u);
  EXPECT_EQ(pair.Handler->ReadInt64(), 0x0000000100000002LL);
  EXPECT_EQ(pair.Handler->ReadByte(), 0x7F);
  const int16_t hostOrder = pair.Handler->ReadSmallInt(false);
  int16_t expected = 0;
  std::memcpy(&expected, "\x01\x02", 2);
  EXPECT_EQ(hostOrder, expected);
}

TEST(IOHandlerReadBytes, WaitsForTheWholeCountAcrossReads) {
  TConnectedPair pair;
  pair.Handler->SetRecvBufferSize(3);
  std::thread feeder([&pair] {
    pair.Peer->Send("0123");
    pair.Peer->Send("456789");
  });
  TBytes bytes{'>'};
  pair.Handler->ReadBytes(bytes, 10);
  feeder.join();
  EXPECT_EQ(test::BytesToString(bytes), ">0123456789");
  pair.Peer->Send("xyz");
  pair.Handler->ReadBytes(bytes, 2, false);
  EXPECT_EQ(test::BytesToString(bytes), "xy123456789");
  EXPECT_EQ(pair.Handler->ReadString(1), "z");
}

TEST(IOHandlerReadBytes, NegativeCountTakesWhatOneFillBrings) {
  TConnectedPair pair;
  pair.Peer->Send("abc");
  TBytes bytes;
  pair.Handler->ReadBytes(bytes, -1);
  EXPECT_EQ(test::BytesToString(bytes), "abc");
}

// ReadTimeout 0 is taken as it is: the read takes what has arrived and does not wait. Should
// it block, a late send after five seconds ends the test with the wrong bytes.
TEST(IOHandlerReadBytes, NegativeCountWithReadTimeoutZeroDoesNotWait) {
  TConnectedPair pair;
  pair.Handler->SetReadTimeout(0);
  std::promise<void> readDone;
  std::thread rescue([&pair, done = readDone.get_future()] {
    if (done.wait_for(std::chrono::seconds(5)) == std::future_status::timeout) {
      pair.Peer->Send("late");
    }
  });
  TBytes bytes;
  pair.Handler->ReadBytes(bytes, -1);
  readDone.set_value();
  rescue.join();
  EXPECT_TRUE(bytes.empty());
}

TEST(IOHandlerReadBytes, ShortByACloseRaisesAndLeavesTheData) {
  TConnectedPair pair;
  pair.Peer->Send("abc");
  pair.Peer->Close();
  TBytes bytes;
  EXPECT_THROW(pair.Handler->ReadBytes(bytes, 5), EIdConnClosedGracefully);
  EXPECT_TRUE(bytes.empty());
  EXPECT_EQ(pair.Handler->InputBuffer()->Size(), 3);
}

TEST(IOHandlerReadBytes, TimeoutRaises) {
  TConnectedPair pair;
  pair.Handler->SetReadTimeout(30);
  pair.Peer->Send("ab");
  TBytes bytes;
  EXPECT_THROW(pair.Handler->ReadBytes(bytes, 3), EIdReadTimeout);
  EXPECT_EQ(pair.Handler->InputBuffer()->Size(), 2);
}

TEST(IOHandlerReadChar, ReadsOneWholeCharacter) {
  TConnectedPair pair;
  pair.Peer->Send("\xC3\xA9x\xE9");
  EXPECT_EQ(pair.Handler->ReadChar(UTF8Encoding()), "\xC3\xA9");
  EXPECT_EQ(pair.Handler->ReadChar(), "x");
  EXPECT_EQ(pair.Handler->ReadChar(Latin1Encoding()), "\xC3\xA9");
}

// ---- Receive failures
// ----------------------------------------------------------------------------

TEST(IOHandlerReceiveFailure, ShutdownOrAbortDeliversBufferedDataFirst) {
  for (const int code : {Id_WSAESHUTDOWN, Id_WSAECONNABORTED}) {
    TConnectedPair pair;
    pair.Peer->Send("abc\r\nde");
    EXPECT_EQ(pair.Handler->ReadLn(), "abc");
    pair.Handler->FailNextReceive = code;
    EXPECT_THROW(pair.Handler->ReadLn(), EIdConnClosedGracefully) << code;
    EXPECT_TRUE(pair.Handler->ClosedGracefully());
    EXPECT_FALSE(pair.Handler->Opened());
    EXPECT_EQ(pair.Handler->InputBufferAsString(), "de");
  }
}

TEST(IOHandlerReceiveFailure, ShutdownWithNothingBufferedRaisesTheSocketError) {
  TConnectedPair pair;
  pair.Handler->FailNextReceive = Id_WSAECONNABORTED;
  try {
    pair.Handler->ReadLn();
    FAIL() << "no exception";
  } catch (const EIdSocketError& e) {
    EXPECT_EQ(e.LastError(), Id_WSAECONNABORTED);
  }
  EXPECT_FALSE(pair.Handler->Opened());
}

TEST(IOHandlerReceiveFailure, ResetIsRaisedAtOnceEvenWithDataBuffered) {
  TConnectedPair pair;
  pair.Peer->Send("partial");
  EXPECT_EQ(pair.Handler->ReadLn("", 0), "");
  pair.Peer->Reset();
  try {
    pair.Handler->ReadLn();
    FAIL() << "no exception";
  } catch (const EIdSocketError& e) {
    EXPECT_EQ(e.LastError(), Id_WSAECONNRESET);
  }
  EXPECT_EQ(pair.Handler->InputBufferAsString(), "partial");
}

TEST(IOHandlerFill, WithoutSourceRaisesOrReturnsZero) {
  TTestIOHandler handler(-1);
  EXPECT_EQ(handler.FillInputBuffer(false, 0, false), 0);
  EXPECT_THROW(handler.FillInputBuffer(true, 0, false), EIdConnClosedGracefully);
}

// An intercept may hold a block back (to decode it together with the next one); that must
// not read as the peer's close.
TEST(IOHandlerIntercept, SwallowedBlockIsNotAClose) {
  TConnectedPair pair;
  TIdConnectionIntercept intercept;
  TBytes held;
  intercept.SetOnReceive([&held](TObject*, TBytes& VBuffer) {
    if (held.empty()) {
      held.swap(VBuffer);
    } else {
      held.insert(held.end(), VBuffer.begin(), VBuffer.end());
      VBuffer.swap(held);
    }
  });
  pair.Handler->SetIntercept(&intercept);
  pair.Handler->SetRecvBufferSize(2);
  pair.Peer->Send("abcd");
  EXPECT_EQ(pair.Handler->FillInputBuffer(), 4);
  EXPECT_FALSE(pair.Handler->ClosedGracefully());
  EXPECT_EQ(pair.Handler->InputBufferAsString(), "abcd");
}

TEST(IOHandlerIntercept, FiltersEveryReceivedBlock) {
  TConnectedPair pair;
  TIdConnectionIntercept intercept;
  intercept.SetOnReceive([](TObject*, TBytes& VBuffer) {
    for (uint8_t& b : VBuffer) {
      b = static_cast<uint8_t>(std::toupper(b));
    }
  });
  pair.Handler->SetIntercept(&intercept);
  pair.Peer->Send("quiet\n");
  EXPECT_EQ(pair.Handler->ReadLn(), "QUIET");
}

TEST(IOHandlerIntercept, ReferenceIsClearedWhenTheInterceptGoes) {
  TConnectedPair pair;
  {
    TIdConnectionIntercept intercept;
    pair.Handler->SetIntercept(&intercept);
  }
  EXPECT_EQ(pair.Handler->Intercept(), nullptr);
}

// ---- Streams
// -------------------------------------------------------------------------------------

std::string Pattern(size_t ASize) {
  std::string data(ASize, '\0');
  for (size_t i = 0; i < ASize; ++i) {
    data[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
  }
  return data;
}

std::string Contents(TMemoryStream& AStream) {
  return test::BytesToString(AStream.Memory());
}

class ReadStreamUntilClose : public ::testing::TestWithParam<int32_t> {};

TEST_P(ReadStreamUntilClose, WritesEverythingAndEndsNormally) {
  TConnectedPair pair;
  pair.Handler->SetRecvBufferSize(GetParam());
  const std::string data = Pattern(70000);
  std::thread feeder([&pair, &data] {
    pair.Peer->Send(data);
    pair.Peer->Close();
  });
  TMemoryStream stream;
  pair.Handler->ReadStream(stream, -1, true);
  feeder.join();
  EXPECT_EQ(stream.Size(), 70000);
  EXPECT_EQ(stream.Position(), 70000);
  EXPECT_TRUE(Contents(stream) == data);
}

INSTANTIATE_TEST_SUITE_P(IOHandler, ReadStreamUntilClose, ::testing::Values(1000, 32768, 100000));

TEST(IOHandlerReadStream, CountedReadShortByACloseWritesWhatCameAndRaises) {
  TConnectedPair pair;
  pair.Peer->Send(Pattern(60));
  pair.Peer->Close();
  TMemoryStream stream;
  EXPECT_THROW(pair.Handler->ReadStream(stream, 100), EIdConnClosedGracefully);
  EXPECT_EQ(Contents(stream), Pattern(60));
  EXPECT_EQ(stream.Size(), stream.Position()); // the advance sizing was cut off
}

TEST(IOHandlerReadStream, CountedReadStopsAtTheCountAndTakesBufferedBytesFirst) {
  TConnectedPair pair;
  pair.Peer->Send("head\n" + std::string(150, 'b') + "tail\n");
  EXPECT_EQ(pair.Handler->ReadLn(), "head");
  TMemoryStream stream;
  stream.Write("x", 1);
  pair.Handler->ReadStream(stream, 150);
  EXPECT_EQ(Contents(stream), "x" + std::string(150, 'b'));
  EXPECT_EQ(pair.Handler->ReadLn(), "tail");
}

TEST(IOHandlerReadStream, CountComesFromTheWireWhenNotGiven) {
  for (const bool large : {false, true}) {
    TConnectedPair pair;
    pair.Handler->SetLargeStream(large);
    const std::string prefix =
        large ? std::string("\0\0\0\0\0\0\0\3", 8) : std::string("\0\0\0\3", 4);
    pair.Peer->Send(prefix + "xyzrest");
    TMemoryStream stream;
    pair.Handler->ReadStream(stream);
    EXPECT_EQ(Contents(stream), "xyz") << large;
  }
}

// The size the peer announces must not make the reader allocate it before the data exists.
TEST(IOHandlerReadStream, AnnouncedCountIsNotAllocatedInAdvance) {
  TConnectedPair pair;
  pair.Peer->Send(std::string("\x7F\xFF\xFF\xFF", 4) + "abc");
  pair.Peer->Close();
  TMemoryStream stream;
  EXPECT_THROW(pair.Handler->ReadStream(stream), EIdConnClosedGracefully);
  EXPECT_EQ(Contents(stream), "abc");
  EXPECT_LT(stream.Memory().capacity(), 1u << 20);
}

TEST(IOHandlerReadStream, CountPastTheLargestStreamSizeIsRejected) {
  TConnectedPair pair;
  TMemoryStream stream;
  stream.Write("x", 1);
  EXPECT_THROW(pair.Handler->ReadStream(stream, INT64_MAX), EIdIOHandlerStreamDataTooLarge);
}

TEST(IOHandlerReadStream, ReportsReadWorkInOneBracket) {
  TConnectedPair pair;
  TWorkLog log;
  log.Attach(*pair.Handler);
  pair.Peer->Send(Pattern(70000));
  TMemoryStream stream;
  pair.Handler->ReadStream(stream, 70000);
  EXPECT_EQ(log.Read, (std::vector<std::string>{"begin:70000", "32768", "65536", "70000", "end"}));
}

TEST(IOHandlerReadStream, TimeoutWritesThePartialPieceAndRaises) {
  TConnectedPair pair;
  pair.Handler->SetReadTimeout(30);
  pair.Peer->Send("12345");
  TMemoryStream stream;
  EXPECT_THROW(pair.Handler->ReadStream(stream, 10), EIdReadTimeout);
  EXPECT_EQ(Contents(stream), "12345");
  EXPECT_EQ(stream.Size(), 5);
}

TEST(IOHandlerDiscard, DropsExactlyTheCount) {
  TConnectedPair pair;
  TWorkLog log;
  log.Attach(*pair.Handler);
  pair.Peer->Send(std::string(40000, 'd') + "next\n");
  pair.Handler->Discard(40000);
  EXPECT_EQ(pair.Handler->ReadLn(), "next");
  EXPECT_EQ(log.Read.front(), "begin:40000");
  pair.Handler->Discard(0);
}

TEST(IOHandlerDiscard, NegativeCountsReadAsReadStreamDoes) {
  TConnectedPair pair;
  pair.Peer->Send(std::string("\0\0\0\3abcnext\n", 12) + "tail");
  pair.Handler->Discard(-1); // the count comes from the wire
  EXPECT_EQ(pair.Handler->ReadLn(), "next");
  pair.Peer->Close();
  pair.Handler->Discard(-2); // until the peer closes
  EXPECT_TRUE(pair.Handler->InputBufferIsEmpty());
}

TEST(IOHandlerDiscard, AllDropsUntilClose) {
  TConnectedPair pair;
  pair.Peer->Send(Pattern(50000));
  pair.Peer->Close();
  pair.Handler->DiscardAll();
  EXPECT_TRUE(pair.Handler->InputBufferIsEmpty());
}

TEST(IOHandlerAllData, ReturnsEverythingUntilClose) {
  TConnectedPair pair;
  std::thread feeder([&pair] {
    pair.Peer->Send("line one\r\n");
    pair.Peer->Send("line two");
    pair.Peer->Close();
  });
  EXPECT_EQ(pair.Handler->AllData(), "line one\r\nline two");
  feeder.join();
}

TEST(IOHandlerWaitFor, ReturnsTextBeforeTheMarker) {
  TConnectedPair pair;
  pair.Handler->SetRecvBufferSize(2);
  pair.Peer->Send("login: user\npassword: ");
  EXPECT_EQ(pair.Handler->WaitFor("login:"), "");
  EXPECT_EQ(pair.Handler->WaitFor("\n", true, true), " user\n");
  EXPECT_EQ(pair.Handler->WaitFor(": ", false), "password");
  EXPECT_EQ(pair.Handler->InputBufferAsString(), ": ");
}

TEST(IOHandlerCapture, CollectsLinesUpToTheDelimiter) {
  TConnectedPair pair;
  pair.Peer->Send("one\r\n..two\r\nthree\r\n.\r\nafter\r\n");
  pair.Handler->SetMaxCapturedLines(2);
  TStrings lines;
  pair.Handler->Capture(lines);
  EXPECT_EQ(lines, (TStrings{"one", ".two"}));
  EXPECT_EQ(pair.Handler->ReadLn(), "after");
}

TEST(IOHandlerInputLn, EditsAndEchoes) {
  TConnectedPair pair;
  pair.Peer->Send("ab\bc\r\n");
  EXPECT_EQ(pair.Handler->InputLn("*"), "ac");
  EXPECT_EQ(pair.Peer->ReceiveAvailable(100), "**\b \b*\r\n");
  EXPECT_TRUE(pair.Handler->InputBufferIsEmpty());
}

// ---- Registry
// ----------------------------------------------------------------------------------------

class TOtherTestIOHandler : public test::TTestIOHandler {
public:
  using TTestIOHandler::TTestIOHandler;
  static const TIdIOHandlerClass& Class() {
    static const TIdIOHandlerClass cls{
        "TOtherTestIOHandler", &TTestIOHandler::Class(),
        [](TIdInitializerComponent*) -> std::unique_ptr<TIdIOHandler> {
          return std::make_unique<TOtherTestIOHandler>(-1);
        }};
    return cls;
  }
};

TEST(IOHandlerRegistry, MakeIOHandlerCreatesTheLatestMatchingClass) {
  TIdIOHandler::RegisterIOHandler(test::TTestIOHandler::Class());
  TIdIOHandler::RegisterIOHandler(TOtherTestIOHandler::Class());
  TIdIOHandler::RegisterIOHandler(test::TTestIOHandler::Class()); // already there: no change
  const std::unique_ptr<TIdIOHandler> made =
      TIdIOHandler::MakeIOHandler(test::TTestIOHandler::Class());
  EXPECT_NE(dynamic_cast<TOtherTestIOHandler*>(made.get()), nullptr);
  EXPECT_EQ(made->Owner(), nullptr);
}

TEST(IOHandlerRegistry, UnknownBaseTypeNamesTheType) {
  static const TIdIOHandlerClass unknown{"TIdIOHandlerUnknown", &TIdIOHandler::Class(), nullptr};
  try {
    static_cast<void>(TIdIOHandler::MakeIOHandler(unknown));
    FAIL() << "no exception";
  } catch (const EIdException& e) {
    EXPECT_STREQ(e.what(), "No IOHandler of type TIdIOHandlerUnknown is installed.");
  }
}

TEST(IOHandlerRegistry, DefaultClassIsCreatedWithItsOwner) {
  const TIdIOHandlerClass* previous = TIdIOHandler::DefaultClass();
  TIdIOHandler::SetDefaultClass(test::TTestIOHandler::Class());
  TIdComponent owner;
  const std::unique_ptr<TIdIOHandler> made = TIdIOHandler::MakeDefaultIOHandler(&owner);
  EXPECT_EQ(made->Owner(), &owner);
  EXPECT_NE(dynamic_cast<test::TTestIOHandler*>(made.get()), nullptr);
  if (previous != nullptr) {
    TIdIOHandler::SetDefaultClass(*previous);
  }
}

} // namespace
} // namespace ftpc
