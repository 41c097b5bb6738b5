// What the FTP session asks of a deflate engine for MODE Z. The engine is a plug-in supplied by
// the application (compress/ offers one over zlib); the library itself never compresses.
#pragma once

#include <cstdint>
#include <string>

#include "core/IdComponent.h"
#include "core/IdIOHandler.h"
#include "global/IdStream.h"

namespace ftpc {

class TIdZLibCompressorBase : public TIdBaseComponent {
public:
  using TIdBaseComponent::TIdBaseComponent;
  std::string ClassName() const override { return "TIdZLibCompressorBase"; }
  // Asked before every transfer in MODE Z.
  virtual bool IsReady() { return true; }
  // Reads AInStream from its position to its end, writes deflated bytes to AIOHandler.
  virtual void CompressFTPToIO(TStream& AInStream, TIdIOHandler& AIOHandler, int32_t ALevel,
                               int32_t AWindowBits, int32_t AMemLevel, int32_t AStrategy) = 0;
  // Reads deflated bytes from AIOHandler until it closes, writes inflated bytes to the stream.
  virtual void DecompressFTPFromIO(TIdIOHandler& AIOHandler, TStream& AOutputStream,
                                   int32_t AWindowBits) = 0;
};

} // namespace ftpc
