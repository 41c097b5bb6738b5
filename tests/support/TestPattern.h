// Deterministic test data of any size, generated block by block (constant memory), and the
// checksum the tests use to compare large transfers without keeping their bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace ftpc::test {

// Writes the pattern bytes [AOffset, AOffset + ALength) into VOut. The pattern never repeats
// with a short period, so a lost, doubled or reordered block changes the checksum.
void FillPattern(uint64_t AOffset, char* VOut, size_t ALength);

// The first ASize pattern bytes as a string (for small payloads).
std::string PatternBytes(size_t ASize);

// 64-bit FNV-1a, fed incrementally.
class Fnv1a64 {
public:
  void Update(const char* AData, size_t ALength);
  void Update(const std::string& AData) { Update(AData.data(), AData.size()); }
  uint64_t Value() const { return FHash; }

private:
  uint64_t FHash = 0xcbf29ce484222325ULL;
};

uint64_t Checksum(const std::string& AData);

// Checksum of the first ASize pattern bytes, computed in blocks.
uint64_t PatternChecksum(uint64_t ASize);

// Creates (or replaces) a file holding the first ASize pattern bytes; false on an I/O error.
bool WritePatternFile(const std::string& APath, uint64_t ASize);

} // namespace ftpc::test
