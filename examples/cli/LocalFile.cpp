#include "examples/cli/LocalFile.h"

#include <filesystem>
#include <random>
#include <stdexcept>
#include <utility>

#include "examples/cli/Platform.h"

namespace ftpc::cli {

namespace {

constexpr int kTemporaryNameAttempts = 16;
constexpr unsigned kTemporarySuffixRange = 1000000;

std::string TemporaryNameFor(const std::string& ALocal) {
  // One per thread: the sessions of a tree copy make their files at the same time.
  thread_local std::mt19937_64 generator{std::random_device{}()};
  const std::filesystem::path local(ALocal);
  const std::string suffix = std::to_string(platform::ProcessId()) + "-" +
                             std::to_string(generator() % kTemporarySuffixRange);
  return (local.parent_path() / ("." + local.filename().string() + ".part-" + suffix)).string();
}

// A new file that never follows a link and never reuses a name that someone else holds.
std::pair<std::string, std::unique_ptr<TStream>> CreateTemporary(const std::string& ALocal) {
  for (int attempt = 0; attempt < kTemporaryNameAttempts; ++attempt) {
    std::string name = TemporaryNameFor(ALocal);
    if (auto stream = platform::CreateExclusive(name)) {
      return {std::move(name), std::move(stream)};
    }
  }
  throw std::runtime_error("cannot create a file beside '" + ALocal +
                           "': every temporary name tried is taken");
}

} // namespace

std::unique_ptr<TStream> OpenForUpload(const std::string& APath) {
  return platform::OpenRegularForReading(APath);
}

DownloadTarget DownloadTarget::Fresh(const std::string& ALocal) {
  auto [temporary, stream] = CreateTemporary(ALocal);
  const int cleanupSlot = platform::ArmInterruptCleanup(temporary);
  return DownloadTarget(ALocal, std::move(temporary), std::move(stream), cleanupSlot);
}

DownloadTarget DownloadTarget::Resumed(const std::string& ALocal) {
  std::unique_ptr<TStream> stream = platform::OpenRegularForWriting(ALocal);
  stream->Seek(0, soEnd);
  return DownloadTarget(ALocal, std::string(), std::move(stream), -1);
}

DownloadTarget::DownloadTarget(std::string ALocal, std::string ATemporary,
                               std::unique_ptr<TStream> AStream, int ACleanupSlot)
    : FLocal(std::move(ALocal)), FTemporary(std::move(ATemporary)), FStream(std::move(AStream)),
      FCleanupSlot(ACleanupSlot) {}

DownloadTarget::DownloadTarget(DownloadTarget&& AOther) noexcept
    : FLocal(std::move(AOther.FLocal)), FTemporary(std::exchange(AOther.FTemporary, {})),
      FStream(std::move(AOther.FStream)), FCleanupSlot(std::exchange(AOther.FCleanupSlot, -1)) {}

DownloadTarget::~DownloadTarget() {
  FStream.reset();
  if (!FTemporary.empty()) {
    platform::RemoveFile(FTemporary);
    platform::DisarmInterruptCleanup(FCleanupSlot);
  }
}

void DownloadTarget::Commit(bool AReplace) {
  FStream.reset();
  if (FTemporary.empty()) {
    return;
  }
  platform::Rename(FTemporary, FLocal, AReplace);
  FTemporary.clear();
  platform::DisarmInterruptCleanup(std::exchange(FCleanupSlot, -1));
}

} // namespace ftpc::cli
