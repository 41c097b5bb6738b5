#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include "core/IOHandlerTestKit.h"
#include "core/IdAntiFreezeBase.h"
#include "core/IdIOHandler.h"
#include "core/IdIntercept.h"
#include "stack/IdStack.h"
#include "stack/IdStackConsts.h"

namespace ftpc {
namespace {

using test::TConnectedPair;
using test::TWorkLog;

// ---- Text and values ----------------------------------------------------------------------------

TEST(IOHandlerWrite, LineGoesOutAsOneBlock) {
  TConnectedPair pair;
  pair.Handler->WriteLn("NOOP");
  EXPECT_EQ(pair.Peer->ReceiveExactly(6), "NOOP\r\n");
  EXPECT_EQ(pair.Handler->SendSizes, (std::vector<size_t>{6}));
}

struct RFCLineCase {
  const char* Name;
  std::string Line;
  std::string Wire;
};

class WriteLnRFCStuffing : public ::testing::TestWithParam<RFCLineCase> {};

TEST_P(WriteLnRFCStuffing, DoublesOnlyALeadingDot) {
  TConnectedPair pair;
  pair.Handler->WriteLnRFC(GetParam().Line);
  EXPECT_EQ(pair.Peer->ReceiveExactly(GetParam().Wire.size()), GetParam().Wire);
}

INSTANTIATE_TEST_SUITE_P(IOHandler, WriteLnRFCStuffing,
                         ::testing::Values(RFCLineCase{"leading_dot", ".hidden", "..hidden\r\n"},
                                           RFCLineCase{"inner_dot", "a.b", "a.b\r\n"},
                                           RFCLineCase{"dot_only", ".", "..\r\n"},
                                           RFCLineCase{"empty", "", "\r\n"}),
                         [](const auto& AInfo) { return std::string(AInfo.param.Name); });

TEST(IOHandlerWrite, RFCStringsEndWithTheTerminatorLine) {
  TConnectedPair pair;
  pair.Handler->WriteRFCStrings({".a", "b"});
  EXPECT_EQ(pair.Peer->ReceiveExactly(12), "..a\r\nb\r\n.\r\n");
}

TEST(IOHandlerWrite, ValuesInNetworkOrderOnRequest) {
  TConnectedPair pair;
  pair.Handler->Write(static_cast<int16_t>(0x0102));
  pair.Handler->Write(static_cast<int32_t>(-2));
  pair.Handler->Write(static_cast<uint32_t>(0x80000001u));
  pair.Handler->Write(static_cast<int64_t>(0x0000000100000002LL));
  pair.Handler->Write(static_cast<uint8_t>(0x7F));
  pair.Handler->Write('c');
  pair.Handler->Write(static_cast<int32_t>(0x01020304), false);
  std::string hostOrder(4, '\0');
  const int32_t value = 0x01020304;
  std::memcpy(hostOrder.data(), &value, 4);
  EXPECT_EQ(pair.Peer->ReceiveExactly(24), std::string("\x01\x02"
                                                       "\xFF\xFF\xFF\xFE"
                                                       "\x80\x00\x00\x01"
                                                       "\x00\x00\x00\x01\x00\x00\x00\x02"
                                                       "\x7F"
                                                       "c",
                                                       20) +
                                               hostOrder);
}

TEST(IOHandlerWrite, EmptyTextSendsNothingAndChecksNothing) {
  test::TTestIOHandler closed(-1);
  EXPECT_NO_THROW(closed.Write(std::string()));
  EXPECT_TRUE(closed.SendSizes.empty());
}

TEST(IOHandlerWrite, TextUsesTheGivenOrDefaultEncoding) {
  TConnectedPair pair;
  pair.Handler->Write("\xC3\xA9");
  pair.Handler->Write("\xC3\xA9", Latin1Encoding());
  pair.Handler->Write("\xC3\xA9", UTF8Encoding());
  EXPECT_EQ(pair.Peer->ReceiveExactly(4), "?\xE9\xC3\xA9");
}

TEST(IOHandlerWrite, OffsetAndLengthAreClippedToTheArray) {
  TConnectedPair pair;
  const TBytes bytes{'a', 'b', 'c', 'd'};
  pair.Handler->Write(bytes, 2, 1);
  pair.Handler->Write(bytes, 100, 3);
  pair.Handler->Write(bytes, -1, 10);
  EXPECT_EQ(pair.Peer->ReceiveAvailable(100), "bcd");
}

// ---- The direct send
// ------------------------------------------------------------------------------

TEST(IOHandlerWriteDirect, PartialSendsLoopAndReportEachPiece) {
  TConnectedPair pair;
  TWorkLog log;
  log.Attach(*pair.Handler);
  pair.Handler->MaxSendChunk = 4;
  TMemoryStream stream;
  stream.Write("0123456789", 10);
  pair.Handler->Write(stream);
  EXPECT_EQ(pair.Peer->ReceiveExactly(10), "0123456789");
  EXPECT_EQ(pair.Handler->SendSizes, (std::vector<size_t>{4, 4, 2}));
  EXPECT_EQ(log.Write, (std::vector<std::string>{"begin:10", "4", "8", "10", "end"}));
}

TEST(IOHandlerWriteDirect, ClosedConnectionRaisesBeforeSending) {
  TConnectedPair pair;
  pair.Peer->Close();
  EXPECT_EQ(pair.Handler->FillInputBuffer(false, 1000, false), 0);
  EXPECT_THROW(pair.Handler->WriteLn("QUIT"), EIdConnClosedGracefully);
  EXPECT_TRUE(pair.Handler->SendSizes.empty());
}

TEST(IOHandlerWriteDirect, LostConnectionClosesTheHandlerAndRaises) {
  for (const int code : {Id_WSAESHUTDOWN, Id_WSAECONNABORTED, Id_WSAECONNRESET}) {
    TConnectedPair pair;
    pair.Handler->FailNextSend = code;
    try {
      pair.Handler->WriteLn("x");
      FAIL() << "no exception for " << code;
    } catch (const EIdSocketError& e) {
      EXPECT_EQ(e.LastError(), code);
    }
    EXPECT_TRUE(pair.Handler->ClosedGracefully()) << code;
    EXPECT_FALSE(pair.Handler->Opened()) << code;
  }
}

TEST(IOHandlerWriteDirect, OtherSendFailuresLeaveTheHandlerOpen) {
  TConnectedPair pair;
  pair.Handler->FailNextSend = Id_WSAENOBUFS;
  EXPECT_THROW(pair.Handler->WriteLn("x"), EIdSocketError);
  EXPECT_FALSE(pair.Handler->ClosedGracefully());
  EXPECT_TRUE(pair.Handler->Opened());
}

TEST(IOHandlerWriteDirect, InterceptMayReplaceTheBlock) {
  TConnectedPair pair;
  TIdConnectionIntercept intercept;
  intercept.SetOnSend([](TObject*, TBytes& VBuffer) {
    VBuffer.insert(VBuffer.begin(), '<');
    VBuffer.push_back('>');
  });
  pair.Handler->SetIntercept(&intercept);
  pair.Handler->WriteLn("hi");
  EXPECT_EQ(pair.Peer->ReceiveExactly(6), "<hi\r\n>");
}

// ---- Write buffering
// ----------------------------------------------------------------------------------

TEST(IOHandlerWriteBuffer, ThresholdSendsWholePiecesAndKeepsTheRest) {
  TConnectedPair pair;
  pair.Handler->WriteBufferOpen(10);
  pair.Handler->Write(std::string(25, 'w'));
  EXPECT_EQ(pair.Handler->SendSizes, (std::vector<size_t>{10, 10}));
  EXPECT_EQ(pair.Peer->ReceiveExactly(20), std::string(20, 'w'));
  pair.Handler->Write(std::string("xy"));
  EXPECT_EQ(pair.Handler->SendSizes.size(), 2u);
  pair.Handler->WriteBufferClose();
  EXPECT_EQ(pair.Handler->SendSizes, (std::vector<size_t>{10, 10, 7}));
  EXPECT_EQ(pair.Peer->ReceiveExactly(7), "wwwwwxy");
  EXPECT_FALSE(pair.Handler->WriteBufferingActive());
}

TEST(IOHandlerWriteBuffer, CancelSendsNothing) {
  TConnectedPair pair;
  pair.Handler->WriteBufferOpen();
  pair.Handler->WriteLn("USER x");
  pair.Handler->WriteBufferCancel();
  EXPECT_FALSE(pair.Handler->WriteBufferingActive());
  EXPECT_TRUE(pair.Handler->SendSizes.empty());
  pair.Handler->WriteLn("NOOP");
  EXPECT_EQ(pair.Peer->ReceiveExactly(6), "NOOP\r\n");
}

TEST(IOHandlerWriteBuffer, FlushSendsTheHeadAndReopenEmpties) {
  TConnectedPair pair;
  pair.Handler->WriteBufferOpen();
  pair.Handler->Write(std::string("abcdef"));
  pair.Handler->WriteBufferFlush(2);
  pair.Handler->WriteBufferFlush(100);
  pair.Handler->Write(std::string("gh"));
  pair.Handler->WriteBufferOpen(); // empties what is buffered
  pair.Handler->Write(std::string("ij"));
  pair.Handler->WriteBufferClose();
  EXPECT_EQ(pair.Handler->SendSizes, (std::vector<size_t>{2, 4, 2}));
  EXPECT_EQ(pair.Peer->ReceiveExactly(8), "abcdefij");
}

TEST(IOHandlerWriteBuffer, HandlerOpenAndCloseEmptyButKeepBuffering) {
  TConnectedPair pair;
  pair.Handler->WriteBufferOpen();
  pair.Handler->Write(std::string("dropped"));
  pair.Handler->Open();
  EXPECT_TRUE(pair.Handler->WriteBufferingActive());
  pair.Handler->WriteBufferClose();
  EXPECT_TRUE(pair.Handler->SendSizes.empty());
}

TEST(IOHandlerWriteStrings, ListGoesOutAsOneBlockWithOptionalCount) {
  TConnectedPair pair;
  pair.Handler->Write(TStrings{"a", "bc"}, true);
  EXPECT_EQ(pair.Handler->SendSizes, (std::vector<size_t>{11}));
  EXPECT_EQ(pair.Peer->ReceiveExactly(11), std::string("\0\0\0\2a\r\nbc\r\n", 11));
}

// A handler whose Write fails on the chosen call, to break a list half-way.
class TFailingWriteHandler : public test::TTestIOHandler {
public:
  using TIdIOHandler::Write;
  using TTestIOHandler::TTestIOHandler;
  int FailOnCall = -1;
  void Write(const TBytes& ABuffer, int32_t ALength, int32_t AOffset) override {
    if (FailOnCall-- == 0) {
      throw EIdException("write failed");
    }
    TTestIOHandler::Write(ABuffer, ALength, AOffset);
  }
};

TEST(IOHandlerWriteStrings, FailedListSendsNothingAndClosesBuffering) {
  TFailingWriteHandler handler(-1);
  handler.FailOnCall = 1;
  EXPECT_THROW(handler.Write(TStrings{"one", "two", "three"}), EIdException);
  EXPECT_FALSE(handler.WriteBufferingActive());
  EXPECT_TRUE(handler.SendSizes.empty());
}

TEST(IOHandlerWriteStrings, ListInsideOpenBufferingStaysBuffered) {
  TConnectedPair pair;
  pair.Handler->WriteBufferOpen();
  pair.Handler->Write(TStrings{"a"});
  EXPECT_TRUE(pair.Handler->WriteBufferingActive());
  EXPECT_TRUE(pair.Handler->SendSizes.empty());
  pair.Handler->WriteBufferClose();
  EXPECT_EQ(pair.Peer->ReceiveExactly(3), "a\r\n");
}

// ---- Stream uploads
// -----------------------------------------------------------------------------------

struct UploadCase {
  const char* Name;
  int64_t StartPosition;
  int64_t Size;
  bool WriteByteCount;
  bool LargeStream;
  std::string Wire;
};

class StreamUpload : public ::testing::TestWithParam<UploadCase> {};

TEST_P(StreamUpload, SendsTheChosenRange) {
  const UploadCase& c = GetParam();
  TConnectedPair pair;
  pair.Handler->SetLargeStream(c.LargeStream);
  TMemoryStream stream;
  stream.Write("0123456789", 10);
  stream.SetPosition(c.StartPosition);
  pair.Handler->Write(stream, c.Size, c.WriteByteCount);
  EXPECT_EQ(pair.Peer->ReceiveAvailable(100), c.Wire);
}

INSTANTIATE_TEST_SUITE_P(
    IOHandler, StreamUpload,
    ::testing::Values(UploadCase{"zero_rewinds", 10, 0, false, false, "0123456789"},
                      UploadCase{"negative_is_rest", 6, -1, false, false, "6789"},
                      UploadCase{"positive_from_position", 2, 3, false, false, "234"},
                      UploadCase{"count_32bit", 8, -1, true, false,
                                 std::string("\0\0\0\2"
                                             "89",
                                             6)},
                      UploadCase{"count_64bit", 8, -1, true, true,
                                 std::string("\0\0\0\0\0\0\0\2"
                                             "89",
                                             10)}),
    [](const auto& AInfo) { return std::string(AInfo.param.Name); });

// A stream that claims a size without holding the bytes.
class THugeStream : public TStream {
public:
  int64_t Read(void*, int64_t) override { return 0; }
  int64_t Write(const void*, int64_t) override { return 0; }
  int64_t Seek(int64_t, TSeekOrigin) override { return 0; }
  void SetSize(int64_t) override {}
  int64_t Size() override { return 3LL << 30; }
};

TEST(IOHandlerStreamUpload, StreamsOf2GiBNeedLargeStream) {
  TConnectedPair pair;
  THugeStream stream;
  EXPECT_THROW(pair.Handler->Write(stream, 0, true), EIdIOHandlerRequiresLargeStream);
  EXPECT_TRUE(pair.Handler->SendSizes.empty());
}

TEST(IOHandlerStreamUpload, ShortStreamRaisesAndStillEndsTheWork) {
  TConnectedPair pair;
  TWorkLog log;
  log.Attach(*pair.Handler);
  TMemoryStream stream;
  stream.Write("abc", 3);
  stream.SetPosition(0);
  EXPECT_THROW(pair.Handler->Write(stream, 5), EIdNoDataToRead);
  EXPECT_EQ(log.Write.back(), "end");
  EXPECT_EQ(pair.Peer->ReceiveExactly(3), "abc");
}

TEST(IOHandlerStreamUpload, LargeUploadIsCutIntoSendBufferPieces) {
  TConnectedPair pair;
  pair.Handler->SetSendBufferSize(1000);
  TMemoryStream stream;
  const std::string data(2500, 'u');
  stream.Write(data.data(), 2500);
  std::thread reader([&pair, &data] { EXPECT_EQ(pair.Peer->ReceiveExactly(2500), data); });
  pair.Handler->Write(stream);
  reader.join();
  EXPECT_EQ(pair.Handler->SendSizes, (std::vector<size_t>{1000, 1000, 500}));
}

TEST(IOHandlerWriteFile, SendsTheWholeFileAndReturnsItsSize) {
  const std::filesystem::path path = std::filesystem::temp_directory_path() /
                                     ("iohandler-writefile-" + std::to_string(::getpid()));
  {
    std::ofstream file(path, std::ios::binary);
    file << "file body";
  }
  TConnectedPair pair;
  EXPECT_EQ(pair.Handler->WriteFile(path.string()), 9);
  EXPECT_EQ(pair.Peer->ReceiveExactly(9), "file body");
  std::filesystem::remove(path);
  try {
    pair.Handler->WriteFile(path.string());
    FAIL() << "no exception";
  } catch (const EIdFileNotFound& e) {
    EXPECT_EQ(e.Message(), "File \"" + path.string() + "\" not found");
  }
}

// ---- Idle processing -------------------------------------------------------------------------------

class TCountingAntiFreeze : public TIdAntiFreezeBase {
public:
  int32_t Calls = 0;
  void Process() override { ++Calls; }
};

TEST(IOHandlerAntiFreeze, RunsAfterEachStreamPieceAndEachPartialSend) {
  TConnectedPair pair;
  TCountingAntiFreeze antiFreeze;
  pair.Peer->Send(std::string(3 * IdRecvBufferSizeDefault, 'p'));
  TIdDiscardStream sink;
  pair.Handler->ReadStream(sink, 3 * IdRecvBufferSizeDefault);
  EXPECT_EQ(antiFreeze.Calls, 3);

  antiFreeze.SetOnlyWhenIdle(false); // sends are not idle time
  pair.Handler->MaxSendChunk = 2;
  pair.Handler->WriteLn("abcd");
  EXPECT_EQ(antiFreeze.Calls, 6);
}

} // namespace
} // namespace ftpc
