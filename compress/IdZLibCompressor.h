// The MODE Z engine over zlib: deflates an upload onto the data connection and inflates a
// download from it. Its own target (ftpc_compress); give it to TIdFTP::SetCompressor.
#pragma once

#include <string>

#include "base/IdException.h"
#include "ftp/IdZLibCompressorBase.h"

namespace ftpc {

// zlib refused its parameters or the data: the message carries zlib's code and text.
FTPC_DECLARE_EXCEPTION(EIdZLibError, EIdException);

class TIdZLibCompressor : public TIdZLibCompressorBase {
public:
  using TIdZLibCompressorBase::TIdZLibCompressorBase;
  std::string ClassName() const override { return "TIdZLibCompressor"; }
  void CompressFTPToIO(TStream& AInStream, TIdIOHandler& AIOHandler, int32_t ALevel,
                       int32_t AWindowBits, int32_t AMemLevel, int32_t AStrategy) override;
  // Raises EIdZLibError for corrupt data, and when the connection closes before the end of
  // the compressed stream (a cut-off download must not pass for a complete one).
  void DecompressFTPFromIO(TIdIOHandler& AIOHandler, TStream& AOutputStream,
                           int32_t AWindowBits) override;
};

} // namespace ftpc
