#include "ftp/IdFTPCommon.h"

namespace ftpc {

namespace {

// The first word of the trimmed text.
std::string FirstWord(const std::string& AValue) {
  std::string rest = Trim(AValue);
  return CutToken(rest, " ");
}

} // namespace

void TIdFtpProxySettings::Assign(const TIdFtpProxySettings& ASource) {
  FProxyType = ASource.FProxyType;
  FHost = ASource.FHost;
  FUserName = ASource.FUserName;
  FPassword = ASource.FPassword;
  FPort = ASource.FPort;
}

void TIdFTPClientIdentifier::SetClientName(const std::string& AValue) {
  FClientName = FirstWord(AValue);
}

void TIdFTPClientIdentifier::SetClientVersion(const std::string& AValue) {
  FClientVersion = FirstWord(AValue);
}

std::string TIdFTPClientIdentifier::ClntOutput() const {
  if (FClientName.empty()) {
    return {};
  }
  std::string result = FClientName;
  if (!FClientVersion.empty()) {
    result += " " + FClientVersion;
    if (!FPlatformDescription.empty()) {
      result += " " + FPlatformDescription;
    }
  }
  return result;
}

void TIdFTPClientIdentifier::Assign(const TIdFTPClientIdentifier& ASource) {
  SetClientName(ASource.FClientName);
  SetClientVersion(ASource.FClientVersion);
  SetPlatformDescription(ASource.FPlatformDescription);
}

void TIdFTPTZInfo::Assign(const TIdFTPTZInfo& ASource) {
  FGMTOffset = ASource.FGMTOffset;
  FGMTOffsetAvailable = ASource.FGMTOffsetAvailable;
}

} // namespace ftpc
