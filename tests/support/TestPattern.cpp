#include "support/TestPattern.h"

#include <algorithm>
#include <fstream>
#include <vector>

namespace ftpc::test {

namespace {

constexpr size_t kPatternBlock = 64 * 1024;

// splitmix64: every 8-byte word of the pattern is the mix of its index.
uint64_t MixWord(uint64_t AIndex) {
  uint64_t z = AIndex + 0x9e3779b97f4a7c15ULL;
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
  return z ^ (z >> 31);
}

uint8_t WordByte(uint64_t AWord, uint64_t APosition) {
  return static_cast<uint8_t>((AWord >> ((APosition % 8) * 8)) & 0xFF);
}

char PatternByte(uint64_t APosition) {
  return static_cast<char>(WordByte(MixWord(APosition / 8), APosition));
}

} // namespace

// Whole words are mixed once for their eight bytes; only a ragged head and tail go byte by
// byte. Multi-gigabyte transfers spend most of their checking time here.
void FillPattern(uint64_t AOffset, char* VOut, size_t ALength) {
  size_t i = 0;
  for (; i < ALength && (AOffset + i) % 8 != 0; ++i) {
    VOut[i] = PatternByte(AOffset + i);
  }
  for (; i + 8 <= ALength; i += 8) {
    const uint64_t word = MixWord((AOffset + i) / 8);
    for (size_t b = 0; b < 8; ++b) {
      VOut[i + b] = static_cast<char>(WordByte(word, b));
    }
  }
  for (; i < ALength; ++i) {
    VOut[i] = PatternByte(AOffset + i);
  }
}

std::string PatternBytes(size_t ASize) {
  std::string out(ASize, '\0');
  FillPattern(0, out.data(), ASize);
  return out;
}

void Fnv1a64::Update(const char* AData, size_t ALength) {
  for (size_t i = 0; i < ALength; ++i) {
    FHash ^= static_cast<uint8_t>(AData[i]);
    FHash *= 0x100000001b3ULL;
  }
}

uint64_t Checksum(const std::string& AData) {
  Fnv1a64 hash;
  hash.Update(AData);
  return hash.Value();
}

uint64_t PatternChecksum(uint64_t ASize) {
  std::vector<char> block(kPatternBlock);
  Fnv1a64 hash;
  for (uint64_t offset = 0; offset < ASize; offset += kPatternBlock) {
    const size_t length = static_cast<size_t>(std::min<uint64_t>(kPatternBlock, ASize - offset));
    FillPattern(offset, block.data(), length);
    hash.Update(block.data(), length);
  }
  return hash.Value();
}

bool WritePatternFile(const std::string& APath, uint64_t ASize) {
  std::ofstream out(APath, std::ios::binary | std::ios::trunc);
  std::vector<char> block(kPatternBlock);
  for (uint64_t offset = 0; out && offset < ASize; offset += kPatternBlock) {
    const size_t length = static_cast<size_t>(std::min<uint64_t>(kPatternBlock, ASize - offset));
    FillPattern(offset, block.data(), length);
    out.write(block.data(), static_cast<std::streamsize>(length));
  }
  out.close();
  return static_cast<bool>(out);
}

} // namespace ftpc::test
