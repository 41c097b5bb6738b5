#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <random>

#include "core/IdBuffer.h"
#include "global/IdStream.h"

namespace ftpc {
namespace {

TBytes Pattern(size_t ACount, uint8_t AFirst = 0) {
  TBytes bytes(ACount);
  for (size_t i = 0; i < ACount; ++i) {
    bytes[i] = static_cast<uint8_t>(AFirst + i);
  }
  return bytes;
}

TBytes Contents(const TIdBuffer& ABuffer) {
  const auto view = ABuffer.View();
  return {view.begin(), view.end()};
}

// A stream whose writes always fail, to show that a failed extraction keeps the data.
class TFailingStream : public TMemoryStream {
public:
  int64_t Write(const void* /*ABuffer*/, int64_t /*ACount*/) override { return 0; }
};

// ---- Growth and compaction --------------------------------------------------------------

struct TGrowthCase {
  const char* Name;
  std::function<void(TIdBuffer&)> Prepare;
  std::function<void(TIdBuffer&)> Act;
  int32_t ExpectedSize;
  int32_t ExpectedCapacity;
};

TEST(TIdBuffer, CapacityFollowsTheGrowthRules) {
  const TBytes block = Pattern(100);
  const std::vector<TGrowthCase> cases = {
      {"append to empty leaves no slack", [](TIdBuffer&) {}, [&](TIdBuffer& b) { b.Write(block); },
       100, 100},
      {"append without room grows by the growth factor", [&](TIdBuffer& b) { b.Write(block); },
       [&](TIdBuffer& b) { b.Write(block); }, 200, 200 + 2048},
      {"append with room keeps the capacity",
       [&](TIdBuffer& b) {
         b.Write(block);
         b.Write(block);
       },
       [&](TIdBuffer& b) { b.Write(block); }, 300, 200 + 2048},
      {"append after consuming reuses the head room",
       [&](TIdBuffer& b) {
         b.Write(block);
         b.Remove(60);
       },
       [&](TIdBuffer& b) { b.Write(Pattern(50)); }, 90, 100},
      {"typed append ends the storage at the new end",
       [&](TIdBuffer& b) {
         b.Write(block);
         b.Write(block);
       },
       [](TIdBuffer& b) { b.Write(uint32_t{7}); }, 204, 204},
      {"stream write sizes the storage to the content",
       [&](TIdBuffer& b) {
         b.Write(block);
         b.Write(block);
       },
       [](TIdBuffer& b) {
         TMemoryStream stream;
         stream.WriteBuffer(Pattern(30).data(), 30);
         b.Write(stream, 0);
       },
       230, 230},
      {"clear releases the storage", [&](TIdBuffer& b) { b.Write(block); },
       [](TIdBuffer& b) { b.Clear(); }, 0, 0},
      {"capacity can be raised", [&](TIdBuffer& b) { b.Write(block); },
       [](TIdBuffer& b) { b.SetCapacity(5000); }, 100, 5000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TIdBuffer buffer;
    c.Prepare(buffer);
    c.Act(buffer);
    EXPECT_EQ(buffer.Size(), c.ExpectedSize);
    EXPECT_EQ(buffer.Capacity(), c.ExpectedCapacity);
  }
}

TEST(TIdBuffer, CompactsOnlyOnceMoreThanGrowthFactorBytesWereConsumed) {
  TIdBuffer buffer;
  const TBytes data = Pattern(10000);
  buffer.Write(data);
  for (int i = 0; i < 2048; ++i) {
    buffer.Remove(1);
  }
  EXPECT_EQ(buffer.Capacity(), 10000);
  buffer.Remove(1); // the head passes the growth factor: compact, keep 2048 bytes of slack
  EXPECT_EQ(buffer.Size(), 7951);
  EXPECT_EQ(buffer.Capacity(), 7951 + 2048);
  EXPECT_EQ(Contents(buffer), TBytes(data.begin() + 2049, data.end()));
}

TEST(TIdBuffer, CapacityBelowSizeIsRejected) {
  TIdBuffer buffer;
  buffer.Write(Pattern(10));
  try {
    buffer.SetCapacity(9);
    FAIL() << "no exception";
  } catch (const EIdException& e) {
    EXPECT_STREQ(e.what(), "Capacity cannot be smaller than Size");
  }
  EXPECT_EQ(buffer.Capacity(), 10);
}

TEST(TIdBuffer, NegativeGrowthFactorCannotShrinkGrowthBelowTheData) {
  TIdBuffer buffer(-5000);
  EXPECT_EQ(buffer.GrowthFactor(), 0);
  buffer.Write(Pattern(10));
  buffer.Write(Pattern(10));
  EXPECT_EQ(buffer.Capacity(), 20);
}

// ---- Removal event ------------------------------------------------------------------------

TEST(TIdBuffer, RemovalEventReportsTheCountOfEveryRemoval) {
  struct TCase {
    const char* Name;
    std::function<void(TIdBuffer&)> Act;
    std::vector<int32_t> Expected;
  };
  const std::vector<TCase> cases = {
      {"remove all", [](TIdBuffer& b) { b.Remove(10); }, {10}},
      {"remove more than stored", [](TIdBuffer& b) { b.Remove(50); }, {50}},
      {"extract text", [](TIdBuffer& b) { (void)b.Extract(4); }, {4}},
      {"extract nothing", [](TIdBuffer& b) { (void)b.Extract(0); }, {}},
      {"extract bytes",
       [](TIdBuffer& b) {
         TBytes out;
         b.ExtractToBytes(out, 3);
       },
       {3}},
      {"extract zero bytes to a stream",
       [](TIdBuffer& b) {
         TMemoryStream s;
         b.ExtractToStream(s, 0);
       },
       {0}},
      {"typed extraction", [](TIdBuffer& b) { (void)b.ExtractToWord(); }, {2}},
      {"extraction at an index removes nothing",
       [](TIdBuffer& b) { (void)b.ExtractToWord(2); },
       {}},
      {"failed extraction", [](TIdBuffer& b) { EXPECT_ANY_THROW((void)b.Extract(11)); }, {}},
      {"negative remove", [](TIdBuffer& b) { b.Remove(-1); }, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    std::vector<int32_t> seen;
    TIdBuffer buffer([&](TObject* ASender, int32_t ABytes) {
      EXPECT_NE(ASender, nullptr);
      seen.push_back(ABytes);
    });
    buffer.Write(Pattern(10));
    c.Act(buffer);
    EXPECT_EQ(seen, c.Expected);
  }
}

TEST(TIdBuffer, RemovingEverythingReleasesTheStorage) {
  TIdBuffer buffer;
  buffer.Write(Pattern(10));
  buffer.Write(Pattern(10));
  buffer.Remove(20);
  EXPECT_EQ(buffer.Size(), 0);
  EXPECT_EQ(buffer.Capacity(), 0);
}

// ---- IndexOf ------------------------------------------------------------------------------

TEST(TIdBuffer, IndexOfBounds) {
  struct TCase {
    const char* Name;
    std::string Content;
    TBytes Terminator;
    int32_t Start;
    int32_t Expected; // -2: raises
    const char* Message;
  };
  const TBytes crlf = {'\r', '\n'};
  const std::vector<TCase> cases = {
      {"empty buffer skips every check", "", {}, 99, -1, nullptr},
      {"empty terminator", "abc", {}, 0, -2, "Buffer terminator must be specified."},
      {"start at size", "abc", crlf, 3, -2, "Buffer start position is invalid."},
      {"negative start", "abc", crlf, -1, -2, "Buffer start position is invalid."},
      {"found at the head", "\r\nx", crlf, 0, 0, nullptr},
      {"found at the end", "ab\r\n", crlf, 0, 2, nullptr},
      {"first byte is the last stored byte", "ab\r", crlf, 0, -1, nullptr},
      {"start skips an earlier match", "\r\nab\r\n", crlf, 1, 4, nullptr},
      {"partial match then full match", "\r\r\n", crlf, 0, 1, nullptr},
      {"terminator longer than the rest", "abc", {'b', 'c', 'd'}, 1, -1, nullptr},
      {"single byte", "abcabc", {'c'}, 3, 5, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TIdBuffer buffer;
    buffer.Write(c.Content);
    if (c.Expected == -2) {
      try {
        (void)buffer.IndexOf(c.Terminator, c.Start);
        ADD_FAILURE() << "no exception";
      } catch (const EIdException& e) {
        EXPECT_STREQ(e.what(), c.Message);
      }
    } else {
      EXPECT_EQ(buffer.IndexOf(c.Terminator, c.Start), c.Expected);
    }
  }
}

TEST(TIdBuffer, IndexOfTextUsesTheGivenEncoding) {
  TIdBuffer buffer;
  buffer.Write("caf\xC3\xA9!", UTF8Encoding());
  EXPECT_EQ(buffer.IndexOf("\xC3\xA9", 0, UTF8Encoding()), 3);
  EXPECT_EQ(buffer.IndexOf("\xC3\xA9", 0, Latin1Encoding()), -1); // one byte 0xE9 there
  buffer.SetEncoding(UTF8Encoding());
  EXPECT_EQ(buffer.IndexOf("!"), 5);
}

TEST(TIdBuffer, PeekByteChecksItsIndex) {
  TIdBuffer buffer;
  try {
    (void)buffer.PeekByte(0);
    FAIL() << "no exception";
  } catch (const EIdException& e) {
    EXPECT_STREQ(e.what(), "No bytes in buffer.");
  }
  buffer.Write(Pattern(3, 10));
  buffer.Remove(1);
  EXPECT_EQ(buffer.PeekByte(0), 11);
  for (const int32_t index : {-1, 2}) {
    try {
      (void)buffer.PeekByte(index);
      ADD_FAILURE() << "no exception for " << index;
    } catch (const EIdException& e) {
      EXPECT_STREQ(e.what(), "Index out of bounds.");
    }
  }
}

// ---- Extraction ---------------------------------------------------------------------------

TEST(TIdBuffer, FailedExtractionLeavesTheBufferUntouched) {
  struct TCase {
    const char* Name;
    std::function<void(TIdBuffer&)> Act;
    const char* Message;
  };
  const std::vector<TCase> cases = {
      {"text", [](TIdBuffer& b) { (void)b.Extract(5); }, "Not enough data in buffer. (5/3)"},
      {"bytes",
       [](TIdBuffer& b) {
         TBytes out;
         b.ExtractToBytes(out, 4);
       },
       "Not enough data in buffer. (4/3)"},
      {"stream",
       [](TIdBuffer& b) {
         TMemoryStream s;
         b.ExtractToStream(s, 9);
       },
       "Not enough data in buffer. (9/3)"},
      {"other buffer",
       [](TIdBuffer& b) {
         TIdBuffer other;
         b.ExtractToIdBuffer(other, 6);
       },
       "Not enough data in buffer. (6/3)"},
      {"long word", [](TIdBuffer& b) { (void)b.ExtractToLongWord(); },
       "Not enough data in buffer. (4/3)"},
      {"int64 at an index", [](TIdBuffer& b) { (void)b.ExtractToInt64(0); },
       "Index out of bounds."},
      {"bytes past the end at an index",
       [](TIdBuffer& b) {
         TBytes out;
         b.ExtractToBytes(out, 2, true, 2);
       },
       "Index out of bounds."},
      {"stream that refuses the bytes",
       [](TIdBuffer& b) {
         TFailingStream s;
         b.ExtractToStream(s);
       },
       nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TIdBuffer buffer;
    buffer.Write(TBytes{9, 9, 1, 2, 3});
    buffer.Remove(2);
    const int32_t capacity = buffer.Capacity();
    try {
      c.Act(buffer);
      ADD_FAILURE() << "no exception";
    } catch (const EIdException& e) {
      if (c.Message != nullptr) {
        EXPECT_STREQ(e.what(), c.Message);
      }
    }
    EXPECT_EQ(Contents(buffer), (TBytes{1, 2, 3}));
    EXPECT_EQ(buffer.Capacity(), capacity);
  }
}

TEST(TIdBuffer, ExtractToBytesAppendsOrOverwritesFromTheStart) {
  TIdBuffer buffer;
  buffer.Write(Pattern(20, 1));

  TBytes into(100, 0xEE);
  buffer.ExtractToBytes(into, 10, false);
  ASSERT_EQ(into.size(), 100u);
  EXPECT_EQ(TBytes(into.begin(), into.begin() + 10), Pattern(10, 1));
  EXPECT_EQ(into[10], 0xEE);

  TBytes shorter = {0xAA};
  buffer.ExtractToBytes(shorter, 3, false);
  EXPECT_EQ(shorter, Pattern(3, 11));

  TBytes appended = {0xAA};
  buffer.ExtractToBytes(appended, -1, true);
  EXPECT_EQ(appended, (TBytes{0xAA, 14, 15, 16, 17, 18, 19, 20}));
  EXPECT_EQ(buffer.Size(), 0);
}

TEST(TIdBuffer, ExtractionAtAnIndexCopiesWithoutRemoving) {
  TIdBuffer buffer;
  buffer.Write(Pattern(8));
  TBytes out;
  buffer.ExtractToBytes(out, 3, true, 4);
  EXPECT_EQ(out, (TBytes{4, 5, 6}));
  TMemoryStream stream;
  buffer.ExtractToStream(stream, -1, 6);
  EXPECT_EQ(stream.Memory(), (TBytes{6, 7}));
  EXPECT_EQ(buffer.Size(), 8);
}

TEST(TIdBuffer, ExtractDecodesWithTheChosenEncoding) {
  TIdBuffer buffer;
  buffer.Write(TBytes{'a', 0xE9, 'b', 0xC3, 0xA9});
  EXPECT_EQ(buffer.Extract(0), "");
  EXPECT_EQ(buffer.Extract(2), "a?"); // US-ASCII by default
  EXPECT_EQ(buffer.Extract(1, Latin1Encoding()), "b");
  buffer.SetEncoding(UTF8Encoding());
  EXPECT_EQ(buffer.AsString(), "\xC3\xA9");
  EXPECT_EQ(buffer.Extract(), "\xC3\xA9");
  EXPECT_EQ(buffer.Extract(), "");
}

TEST(TIdBuffer, ExtractToIdBufferMovesBytesIncludingIntoItself) {
  TIdBuffer source;
  TIdBuffer target;
  source.Write(Pattern(6));
  source.ExtractToIdBuffer(target, 4);
  EXPECT_EQ(Contents(target), Pattern(4));
  // Into itself: the head bytes move behind the rest.
  source.Write(Pattern(3, 100));
  source.ExtractToIdBuffer(source, 2);
  EXPECT_EQ(Contents(source), (TBytes{100, 101, 102, 4, 5}));
}

// ---- Writes -------------------------------------------------------------------------------

TEST(TIdBuffer, TypedValuesTravelInNetworkOrder) {
  TIdBuffer buffer;
  buffer.Write(uint8_t{0x01});
  buffer.Write(uint16_t{0x0203});
  buffer.Write(uint32_t{0x04050607});
  buffer.Write(int64_t{-2});
  const TIdIPv6Address address = {0x2001, 0x0db8, 0, 0, 0, 0, 0xff00, 0x0042};
  buffer.Write(address);
  const TBytes expected = {1,    2,    3,    4,    5,    6,    7,          // byte, word, long word
                           0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE, // int64 -2
                           0x20, 0x01, 0x0d, 0xb8, 0,    0,    0,    0,    // IPv6, first half
                           0,    0,    0,    0,    0xff, 0x00, 0x00, 0x42};
  EXPECT_EQ(Contents(buffer), expected);

  EXPECT_EQ(buffer.ExtractToByte(), 0x01);
  EXPECT_EQ(buffer.ExtractToWord(), 0x0203);
  EXPECT_EQ(buffer.ExtractToLongWord(), 0x04050607u);
  EXPECT_EQ(buffer.ExtractToInt64(), -2);
  TIdIPv6Address back{};
  buffer.ExtractToIPv6(-1, back);
  EXPECT_EQ(back, address);
  EXPECT_EQ(buffer.Size(), 0);
}

TEST(TIdBuffer, WriteClipsToTheSourceArray) {
  const TBytes source = Pattern(10);
  struct TCase {
    int32_t Length;
    int32_t Offset;
    TBytes Expected;
  };
  const std::vector<TCase> cases = {
      {-1, 0, Pattern(10)}, {4, 3, {3, 4, 5, 6}}, {-1, 7, {7, 8, 9}},
      {50, 8, {8, 9}},      {3, 10, {}},          {3, 20, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.Length << "@" << c.Offset);
    TIdBuffer buffer;
    buffer.Write(source, c.Length, c.Offset);
    EXPECT_EQ(Contents(buffer), c.Expected);
  }
  TIdBuffer buffer;
  EXPECT_THROW(buffer.Write(source, 1, -1), EIdException);
}

TEST(TIdBuffer, PositionedWritesOverwriteAndExtendButLeaveNoGap) {
  TIdBuffer buffer;
  buffer.Write(Pattern(6));
  buffer.Remove(2); // positions count from the head
  buffer.Write(TBytes{0xA, 0xB}, 1);
  EXPECT_EQ(Contents(buffer), (TBytes{2, 0xA, 0xB, 5}));
  buffer.Write(TBytes{0xC, 0xD, 0xE}, 3);
  EXPECT_EQ(Contents(buffer), (TBytes{2, 0xA, 0xB, 0xC, 0xD, 0xE}));
  buffer.Write(uint16_t{0x0102}, 0);
  EXPECT_EQ(buffer.ExtractToWord(0), 0x0102);
  EXPECT_THROW(buffer.Write(TBytes{1}, 7), EIdException);
  EXPECT_EQ(buffer.Size(), 6);
}

TEST(TIdBuffer, RefusesContentBeyondTheLargestSize) {
  TIdBuffer buffer;
  buffer.Write(Pattern(4));
  try {
    buffer.Write(TBytes{1}, TIdBuffer::MaxSize);
    FAIL() << "no exception";
  } catch (const EIdTooMuchDataInBuffer& e) {
    EXPECT_STREQ(e.what(), "Too much data in buffer.");
  }
  EXPECT_THROW((void)buffer.Reserve(TIdBuffer::MaxSize), EIdTooMuchDataInBuffer);
  EXPECT_EQ(Contents(buffer), Pattern(4));
}

TEST(TIdBuffer, StreamWriteChoosesItsCount) {
  struct TCase {
    int64_t Position;
    int64_t Count;
    TBytes Expected;
  };
  const std::vector<TCase> cases = {
      {5, 0, Pattern(8)}, // rewinds and takes everything
      {5, -1, {5, 6, 7}}, // the rest
      {2, 3, {2, 3, 4}},  // at most the count
      {6, 10, {6, 7}},    // clipped to the rest
      {8, -1, {}},        // nothing left
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.Count << " from " << c.Position);
    TMemoryStream stream;
    const TBytes data = Pattern(8);
    stream.WriteBuffer(data.data(), 8);
    stream.SetPosition(c.Position);
    TIdBuffer buffer;
    buffer.Write(stream, c.Count);
    EXPECT_EQ(Contents(buffer), c.Expected);
  }
}

TEST(TIdBuffer, ConstructsFromBytes) {
  const TBytes data = Pattern(5);
  TIdBuffer whole(data, -1);
  EXPECT_EQ(Contents(whole), data);
  EXPECT_EQ(whole.Capacity(), 5);
  TIdBuffer part(data, 3);
  EXPECT_EQ(Contents(part), Pattern(3));
  TIdBuffer longer(data, 9); // only the bytes that exist become content
  EXPECT_EQ(Contents(longer), data);
  EXPECT_EQ(longer.Capacity(), 9);
}

TEST(TIdBuffer, ReserveAndCommitBehaveLikeAWrite) {
  TIdBuffer buffer;
  auto room = buffer.Reserve(32768);
  ASSERT_EQ(room.size(), 32768u);
  room[0] = 'x';
  room[1] = 'y';
  buffer.Commit(2);
  EXPECT_EQ(buffer.Size(), 2);
  EXPECT_EQ(buffer.Capacity(), 2); // as an append to an empty buffer

  room = buffer.Reserve(100);
  room[0] = 'z';
  buffer.Commit(1);
  EXPECT_EQ(buffer.AsString(), "xyz");
  EXPECT_EQ(buffer.Capacity(), 3 + 2048);

  (void)buffer.Reserve(10);
  EXPECT_THROW(buffer.Commit(11), EIdException);
  buffer.Write("!");
  EXPECT_THROW(buffer.Commit(1), EIdException); // the reservation ended with the write
  EXPECT_EQ(buffer.AsString(), "xyz!");
}

// The content must match a plain queue through any mix of operations, whatever the storage
// does underneath (moves, growth, release).
TEST(TIdBuffer, MatchesAQueueThroughRandomOperations) {
  std::mt19937 random(12345);
  TIdBuffer buffer;
  std::deque<uint8_t> model;
  uint8_t next = 0;
  for (int step = 0; step < 20000; ++step) {
    const auto size = static_cast<int32_t>(model.size());
    switch (random() % 5) {
    case 0: {
      TBytes bytes(random() % 5000);
      for (auto& b : bytes) {
        b = next++;
      }
      buffer.Write(bytes);
      model.insert(model.end(), bytes.begin(), bytes.end());
      break;
    }
    case 1: {
      const auto count = static_cast<int32_t>(random() % 40000);
      auto room = buffer.Reserve(count);
      const int32_t used = count == 0 ? 0 : static_cast<int32_t>(random() % count);
      for (int32_t i = 0; i < used; ++i) {
        room[static_cast<size_t>(i)] = next;
        model.push_back(next++);
      }
      buffer.Commit(used);
      break;
    }
    case 2: {
      const int32_t count = size == 0 ? 0 : static_cast<int32_t>(random() % (size + 1));
      TBytes out;
      buffer.ExtractToBytes(out, count);
      ASSERT_TRUE(std::equal(out.begin(), out.end(), model.begin()));
      model.erase(model.begin(), model.begin() + count);
      break;
    }
    case 3: {
      const int32_t count = static_cast<int32_t>(random() % 300);
      buffer.Remove(count);
      model.erase(model.begin(), model.begin() + std::min(count, size));
      break;
    }
    default:
      if (size > 0) {
        const auto index = static_cast<int32_t>(random() % size);
        ASSERT_EQ(buffer.PeekByte(index), model[static_cast<size_t>(index)]);
      }
      break;
    }
    ASSERT_EQ(buffer.Size(), static_cast<int32_t>(model.size()));
    ASSERT_GE(buffer.Capacity(), buffer.Size());
  }
  const TBytes rest = Contents(buffer);
  EXPECT_TRUE(std::equal(rest.begin(), rest.end(), model.begin(), model.end()));
}

} // namespace
} // namespace ftpc
