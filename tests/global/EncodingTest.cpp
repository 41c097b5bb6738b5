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

// Every byte of a sequence that is not a shortest-form Unicode scalar value decodes to '?', so
// no overlong form can turn into '/', '.' or a line break.
TEST(UTF8Encoding, DecodesOnlyShortestFormScalarValues) {
  const struct {
    TBytes Bytes;
    std::string Text;
  } cases[] = {
      {{0xC0, 0xAF}, "??"},                                   // overlong '/'
      {{0xE0, 0x80, 0xAF}, "???"},                            // overlong '/'
      {{0xC0, 0x8A}, "??"},                                   // overlong LF
      {{0xF0, 0x80, 0x80, 0xAF}, "????"},                     // overlong '/'
      {{0xED, 0xA0, 0x80}, "???"},                            // surrogate U+D800
      {{0xF4, 0x90, 0x80, 0x80}, "????"},                     // U+110000
      {{0xC2, 0x80}, "\xC2\x80"},                             // U+0080
      {{0xE0, 0xA0, 0x80}, "\xE0\xA0\x80"},                   // U+0800
      {{0xED, 0x9F, 0xBF}, "\xED\x9F\xBF"},                   // U+D7FF
      {{0xF0, 0x90, 0x80, 0x80}, "\xF0\x90\x80\x80"},         // U+10000
      {{0xF4, 0x8F, 0xBF, 0xBF}, "\xF4\x8F\xBF\xBF"},         // U+10FFFF
  };
  for (const auto& c : cases) {
    EXPECT_EQ(UTF8Encoding()->GetString(c.Bytes), c.Text) << c.Text;
  }
}

TEST(FormatInvariant, FormatsPlaceholders) {
  EXPECT_EQ(FormatInvariant("Socket Error # %d", {10061}), "Socket Error # 10061");
  EXPECT_EQ(FormatInvariant("%s:%u", {"host", 21u}), "host:21");
  EXPECT_EQ(FormatInvariant("%.8X|%%|%5s", {255, "ab"}), "000000FF|%|   ab");
  EXPECT_EQ(FormatInvariant("missing %s"), "missing %s");
}

} // namespace
} // namespace ftpc
