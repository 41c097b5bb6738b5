// CRC-32 as a 32-bit running hash: the reflected form with polynomial EDB88320, initial value
// all ones and a final complement (ISO 3309, the checksum of the XCRC command).
#pragma once

#include "hash/IdHash.h"

namespace ftpc {

class TIdHashCRC32 : public TIdHash32 {
public:
  void HashStart(uint32_t& VRunningHash) override;
  void HashByte(uint32_t& VRunningHash, uint8_t AByte) override;
  void HashEnd(uint32_t& VRunningHash) override;
  // Same value as HashByte over each byte, eight bytes at a time through extra tables, or
  // sixty-four at a time with carry-less multiplication where the processor has it.
  void HashBuffer(uint32_t& VRunningHash, const void* AData, size_t ALength) override;

  std::string ClassName() const override { return "TIdHashCRC32"; }
};

} // namespace ftpc
