#include <gtest/gtest.h>

#include "global/IdGlobal.h"

namespace ftpc {
namespace {

TEST(Latin1Encoding, EveryByteRoundTrips) {
  TBytes all(256);
  for (int i = 0; i < 256; ++i) {
    all[static_cast<size_t>(i)] = static_cast<uint8_t>(i);
  }
  const std::string text = Latin1Encoding()->GetString(all);
  EXPECT_EQ(Latin1Encoding()->GetBytes(text), all);
}

TEST(FormatInvariant, FormatsPlaceholders) {
  EXPECT_EQ(FormatInvariant("Socket Error # %d", {10061}), "Socket Error # 10061");
  EXPECT_EQ(FormatInvariant("%s:%u", {"host", 21u}), "host:21");
  EXPECT_EQ(FormatInvariant("%.8X|%%|%5s", {255, "ab"}), "000000FF|%|   ab");
  EXPECT_EQ(FormatInvariant("missing %s"), "missing %s");
}

} // namespace
} // namespace ftpc
