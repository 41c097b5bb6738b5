#include <gtest/gtest.h>

#include <functional>

#include "global/IdGlobal.h"

namespace ftpc {
namespace {

TEST(CopyBytes, CopiesBetweenArrays) {
  const TBytes source = {1, 2, 3, 4, 5};
  TBytes dest(4, 0);
  CopyBytes(source, 1, dest, 2, 2);
  EXPECT_EQ(dest, (TBytes{0, 0, 2, 3}));
  CopyBytes(source, 5, dest, 4, 0); // an empty run at the very end is fine
  EXPECT_EQ(dest, (TBytes{0, 0, 2, 3}));
}

TEST(CopyBytes, OverlappingRunsInOneArray) {
  TBytes bytes = {1, 2, 3, 4, 5, 6};
  CopyBytes(bytes, 2, bytes, 0, 4); // compacting towards the front
  EXPECT_EQ(bytes, (TBytes{3, 4, 5, 6, 5, 6}));
  bytes = {1, 2, 3, 4, 5, 6};
  CopyBytes(bytes, 0, bytes, 2, 4); // moving towards the back
  EXPECT_EQ(bytes, (TBytes{1, 2, 1, 2, 3, 4}));
}

TEST(CopyBytes, RejectsRunsOutsideEitherArray) {
  struct Case {
    int SourceIndex;
    int DestIndex;
    int Length;
  };
  const Case cases[] = {
      {-1, 0, 1},       {0, -1, 1},       {0, 0, -1},      {4, 0, 2}, // source too short
      {0, 3, 2},        {6, 0, 0},        {0, 5, 0},       // dest too short / past the ends
      {1, 0, INT32_MAX}, {INT32_MAX, 0, 1}, {0, INT32_MAX, 1},
  };
  const TBytes source(5, 7);
  for (const Case& c : cases) {
    TBytes dest(4, 0);
    EXPECT_THROW(CopyBytes(source, c.SourceIndex, dest, c.DestIndex, c.Length),
                 EIdAssertionFailure)
        << c.SourceIndex << " " << c.DestIndex << " " << c.Length;
    EXPECT_EQ(dest, TBytes(4, 0));
  }
}

TEST(TypedBytes, ValuesRoundTripAtAnOffset) {
  TBytes bytes(1 + 16, 0xAA);
  CopyWordToBytes(0xBEEF, bytes, 1);
  EXPECT_EQ(BytesToWord(bytes, 1), 0xBEEF);
  CopyLongWordToBytes(0xDEADBEEF, bytes, 1);
  EXPECT_EQ(BytesToLongWord(bytes, 1), 0xDEADBEEFu);
  CopyInt64ToBytes(-2, bytes, 1);
  EXPECT_EQ(BytesToInt64(bytes, 1), -2);
  const TIdIPv6Address address = {0x2001, 0xdb8, 0, 0, 0, 0, 0xff00, 0x42};
  CopyIPv6ToBytes(address, bytes, 1);
  EXPECT_EQ(BytesToIPv6(bytes, 1), address);
  EXPECT_EQ(bytes[0], 0xAA); // the byte before the value is untouched
}

TEST(TypedBytes, ValueToBytesHasTheValueSize) {
  EXPECT_EQ(ValueToBytes(uint8_t{9}), TBytes{9});
  EXPECT_EQ(BytesToWord(ValueToBytes(uint16_t{0x1234})), 0x1234);
  EXPECT_EQ(ValueToBytes(uint32_t{1}).size(), 4u);
  EXPECT_EQ(BytesToInt64(ValueToBytes(int64_t{-5})), -5);
}

TEST(TypedBytes, RejectReadsAndWritesPastTheEnd) {
  TBytes bytes(3);
  const std::function<void()> calls[] = {
      [&] { CopyWordToBytes(1, bytes, 2); },     [&] { CopyLongWordToBytes(1, bytes, 0); },
      [&] { CopyInt64ToBytes(1, bytes, 0); },    [&] { CopyIPv6ToBytes({}, bytes, 0); },
      [&] { (void)BytesToWord(bytes, 2); },      [&] { (void)BytesToWord(bytes, -1); },
      [&] { (void)BytesToLongWord(bytes, 0); },  [&] { (void)BytesToInt64(bytes, 0); },
      [&] { (void)BytesToIPv6(bytes, 0); },      [&] { CopyWordToBytes(1, bytes, -1); },
  };
  for (const auto& call : calls) {
    EXPECT_THROW(call(), EIdAssertionFailure);
  }
}

TEST(SliceBytes, CopiesClippedRuns) {
  const TBytes bytes = {1, 2, 3, 4};
  EXPECT_EQ(SliceBytes(bytes, -1, 0), bytes);
  EXPECT_EQ(SliceBytes(bytes, 2, 1), (TBytes{2, 3}));
  EXPECT_EQ(SliceBytes(bytes, 10, 2), (TBytes{3, 4}));
  EXPECT_EQ(SliceBytes(bytes, -1, 4), TBytes{});
  EXPECT_EQ(SliceBytes(bytes, 1, 9), TBytes{});
  EXPECT_THROW(SliceBytes(bytes, 1, -1), EIdAssertionFailure);
}

TEST(FillBytes, SetsLeadingBytes) {
  TBytes bytes(4, 0);
  FillBytes(bytes, 3, 0x20);
  EXPECT_EQ(bytes, (TBytes{0x20, 0x20, 0x20, 0}));
  EXPECT_THROW(FillBytes(bytes, 5, 1), EIdAssertionFailure);
  EXPECT_THROW(FillBytes(bytes, -1, 1), EIdAssertionFailure);
}

TEST(Hex, UpperCaseDigits) {
  const TBytes bytes = {0x00, 0xAB, 0x7F, 0xFF};
  EXPECT_EQ(BytesToHex(bytes), "00AB7FFF");
  EXPECT_EQ(BytesToHex(bytes, 2, 1), "AB7F");
  EXPECT_EQ(BytesToHex(bytes, -1, 3), "FF");
  EXPECT_EQ(BytesToHex(bytes, 5, 9), "");
  EXPECT_EQ(LongWordToHex(0xFC06405A), "FC06405A");
  EXPECT_EQ(LongWordToHex(0x1), "00000001");
}

} // namespace
} // namespace ftpc
