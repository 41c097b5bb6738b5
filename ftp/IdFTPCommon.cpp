#include "ftp/IdFTPCommon.h"

namespace ftpc {

std::string FirstWordOf(std::string_view ALine) { return std::string(ALine.substr(0, ALine.find(' '))); }

void TIdFtpProxySettings::Assign(const TIdFtpProxySettings& ASource) {
  FProxyType = ASource.FProxyType;
  FHost = ASource.FHost;
  FUserName = ASource.FUserName;
  FPassword = ASource.FPassword;
  FPort = ASource.FPort;
}

void TIdFTPClientIdentifier::SetClientName(const std::string& AValue) {
  FClientName = FirstWordOf(Trim(AValue));
}

void TIdFTPClientIdentifier::SetClientVersion(const std::string& AValue) {
  FClientVersion = FirstWordOf(Trim(AValue));
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
