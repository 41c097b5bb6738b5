#include "examples/cli/Transcript.h"

#include <cctype>
#include <cstdio>

namespace ftpc::cli {

namespace {

constexpr std::string_view kPasswordCommand = "PASS ";
constexpr std::string_view kPasswordMask = "****";

void PrintLine(const char* APrefix, std::string_view ALine) {
  if (!ALine.empty() && ALine.back() == '\r') {
    ALine.remove_suffix(1);
  }
  const std::string shown = MaskPassword(ALine);
  std::fprintf(stderr, "%s%s\n", APrefix, shown.c_str());
}

} // namespace

std::string MaskPassword(std::string_view ALine) {
  if (ALine.size() < kPasswordCommand.size()) {
    return std::string(ALine);
  }
  for (size_t i = 0; i < kPasswordCommand.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(ALine[i])) != kPasswordCommand[i]) {
      return std::string(ALine);
    }
  }
  return std::string(ALine.substr(0, kPasswordCommand.size())) + std::string(kPasswordMask);
}

void Transcript::LineCollector::Add(const TBytes& ABlock) {
  Pending.append(ABlock.begin(), ABlock.end());
  size_t start = 0;
  for (size_t end = Pending.find('\n'); end != std::string::npos; end = Pending.find('\n', start)) {
    PrintLine(Prefix, std::string_view(Pending).substr(start, end - start));
    start = end + 1;
  }
  Pending.erase(0, start);
}

Transcript::Transcript() : FIntercept(std::make_unique<TIdConnectionIntercept>()) {
  FIntercept->SetOnSend([this](TObject*, TBytes& VBuffer) { FSent.Add(VBuffer); });
  FIntercept->SetOnReceive([this](TObject*, TBytes& VBuffer) { FReceived.Add(VBuffer); });
}

} // namespace ftpc::cli
