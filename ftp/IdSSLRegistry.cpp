#include "ftp/IdSSLRegistry.h"

#include <algorithm>

#include "global/IdGlobal.h"

namespace ftpc {

TIdSSLRegistry& TIdSSLRegistry::Instance() {
  static TIdSSLRegistry registry;
  return registry;
}

namespace {

// The entry named AProductName in AEntries (const or not), or its end.
template <typename TEntries> auto FindEntry(TEntries& AEntries, const std::string& AProductName) {
  return std::find_if(AEntries.begin(), AEntries.end(), [&](const TIdSSLRegEntry& AEntry) {
    return TextEqualsIgnoreCase(AEntry.ProductName, AProductName);
  });
}

} // namespace

void TIdSSLRegistry::Register(TIdSSLRegEntry AEntry) {
  const std::lock_guard guard(FLock);
  const auto existing = FindEntry(FEntries, AEntry.ProductName);
  if (existing != FEntries.end()) {
    *existing = std::move(AEntry);
  } else {
    FEntries.push_back(std::move(AEntry));
  }
}

void TIdSSLRegistry::Unregister(const std::string& AProductName) {
  const std::lock_guard guard(FLock);
  const auto existing = FindEntry(FEntries, AProductName);
  if (existing != FEntries.end()) {
    FEntries.erase(existing);
  }
}

std::optional<TIdSSLRegEntry> TIdSSLRegistry::Find(const std::string& AProductName) const {
  const std::lock_guard guard(FLock);
  const auto existing = FindEntry(FEntries, AProductName);
  if (existing == FEntries.end()) {
    return std::nullopt;
  }
  return *existing;
}

size_t TIdSSLRegistry::Count() const {
  const std::lock_guard guard(FLock);
  return FEntries.size();
}

} // namespace ftpc
