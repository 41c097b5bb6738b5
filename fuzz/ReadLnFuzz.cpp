// Lines read from a fuzzed byte source delivered in chunks: ReadLn, ReadLnSplit, ReadLnWait and
// whole replies through the command exchange, with every over-long-line action, line limit,
// terminator and encoding. A line read with the LF terminator never holds a line break, so no
// byte sequence may decode into one.
#include <string>

#include "FuzzIOHandler.h"
#include "FuzzInput.h"
#include "core/IdIOHandler.h"
#include "core/IdReplyFTP.h"
#include "core/IdTCPConnection.h"

namespace {

using namespace ftpc;
using fuzz::TFuzzIOHandler;

// A connection whose replies are FTP replies, as the FTP session reads them.
class TFuzzConnection final : public TIdTCPConnection {
public:
  TFuzzConnection() : TIdTCPConnection(nullptr, TIdReplyFTP::ReplyClass()) {}
};

enum TMode : uint8_t { mdReadLn, mdReadLnSplit, mdReadLnWait, mdReply, mdModeCount };

constexpr const char* kTerminators[] = {"", "\r\n", ".", "END"};
constexpr size_t kMaxReadsPerInput = 100000;

TEncoding* EncodingOf(uint8_t AChoice) {
  switch (AChoice % 3) {
  case 0:
    return ASCIIEncoding();
  case 1:
    return Latin1Encoding();
  default:
    return UTF8Encoding();
  }
}

void RequireNoLineBreak(const std::string& ALine, bool ALFTerminated) {
  if (ALFTerminated) {
    fuzz::Require(ALine.find('\n') == std::string::npos);
  }
}

// One read in the chosen mode; false once nothing more can be read.
bool ReadOne(TFuzzIOHandler& AHandler, TFuzzConnection& AConnection, TMode AMode,
             const std::string& ATerminator, int32_t AFailCount) {
  const bool lfTerminated = ATerminator.empty();
  switch (AMode) {
  case mdReadLn:
    RequireNoLineBreak(AHandler.ReadLn(ATerminator, IdTimeoutUseReadTimeout), lfTerminated);
    return true;
  case mdReadLnSplit: {
    bool split = false;
    RequireNoLineBreak(AHandler.ReadLnSplit(split, ATerminator), lfTerminated);
    return true;
  }
  case mdReadLnWait:
    RequireNoLineBreak(AHandler.ReadLnWait(AFailCount), true);
    return true;
  default:
    AConnection.GetInternalResponse();
    for (const std::string& line : AConnection.LastCmdResult().Text()) {
      RequireNoLineBreak(line, true);
    }
    return true;
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize) {
  fuzz::TFuzzInput input(AData, ASize);
  const uint8_t options = input.TakeByte();
  const auto mode = static_cast<TMode>(options % mdModeCount);
  const std::string terminator = kTerminators[(options >> 2) & 3];
  const uint8_t maxLineLength = input.TakeByte();
  const size_t chunk = 1 + input.TakeByte() % 64;
  const int32_t failCount = 1 + (options >> 6);

  TFuzzIOHandler handler(input.Rest(), chunk);
  handler.SetMaxLineAction((options & 0x10) != 0 ? maSplit : maException);
  handler.SetMaxLineLength(maxLineLength); // 0: no limit
  handler.SetDefStringEncoding(EncodingOf(options >> 5));
  handler.Open();
  TFuzzConnection connection;
  connection.SetIOHandler(&handler);
  for (size_t reads = 0; reads < kMaxReadsPerInput; ++reads) {
    try {
      ReadOne(handler, connection, mode, terminator, failCount);
    } catch (const EIdConnClosedGracefully&) {
      break;
    } catch (const EIdReadLnMaxLineLengthExceeded&) {
      break; // the line stays in the buffer: reading again finds it again
    } catch (const EIdReadLnWaitMaxAttemptsExceeded&) {
      continue;
    } catch (const EIdReplyTooLarge&) {
      break;
    } catch (const EIdException&) {
      continue; // a reply without a valid code: its lines are consumed
    }
  }
  connection.SetIOHandler(nullptr);
  return 0;
}
