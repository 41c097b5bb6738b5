// Enumerations and small settings objects shared by the FTP session and its callers.
#pragma once

#include <cstdint>
#include <string>

#include "base/IdException.h"
#include "global/IdGlobal.h"

namespace ftpc {

enum TIdFTPTransferType : uint8_t { ftASCII, ftBinary };
enum TIdFTPTransferMode : uint8_t { dmStream, dmDeflate };
enum TIdFTPDataStructure : uint8_t { dsFile, dsRecord, dsPage };
enum TIdFTPDataPortSecurity : uint8_t { ftpdpsClear, ftpdpsPrivate };
enum TAuthCmd : uint8_t { tAuto, tAuthTLS, tAuthSSL, tAuthTLSC, tAuthTLSP };
enum TIdFtpProxyType : uint8_t {
  fpcmNone,
  fpcmUserSite,
  fpcmSite,
  fpcmOpen,
  fpcmUserPass,
  fpcmTransparent,
  fpcmUserHostFireWallID,
  fpcmNovellBorder,
  fpcmHttpProxyWithFtp,
  fpcmCustomProxy
};

// The text before the first space of ALine (the whole text when there is none).
std::string FirstWordOf(std::string_view ALine);

// The FTP proxy in front of the server (USER/SITE/OPEN style gateways).
class TIdFtpProxySettings : public TObject {
public:
  TIdFtpProxyType ProxyType() const { return FProxyType; }
  void SetProxyType(TIdFtpProxyType AValue) { FProxyType = AValue; }
  const std::string& Host() const { return FHost; }
  void SetHost(const std::string& AValue) { FHost = AValue; }
  const std::string& UserName() const { return FUserName; }
  void SetUserName(const std::string& AValue) { FUserName = AValue; }
  const std::string& Password() const { return FPassword; }
  void SetPassword(const std::string& AValue) { FPassword = AValue; }
  uint16_t Port() const { return FPort; }
  void SetPort(uint16_t AValue) { FPort = AValue; }
  // Copies all five values.
  void Assign(const TIdFtpProxySettings& ASource);
  std::string ClassName() const override { return "TIdFtpProxySettings"; }

private:
  TIdFtpProxyType FProxyType = fpcmNone;
  std::string FHost;
  std::string FUserName;
  std::string FPassword;
  uint16_t FPort = 0;
};

// The client description sent with CLNT.
class TIdFTPClientIdentifier : public TObject {
public:
  const std::string& ClientName() const { return FClientName; }
  // Keeps only the first word of the trimmed value.
  void SetClientName(const std::string& AValue);
  const std::string& ClientVersion() const { return FClientVersion; }
  // Keeps only the first word of the trimmed value.
  void SetClientVersion(const std::string& AValue);
  const std::string& PlatformDescription() const { return FPlatformDescription; }
  void SetPlatformDescription(const std::string& AValue) { FPlatformDescription = AValue; }
  // "name [version [platform]]", empty when there is no name.
  std::string ClntOutput() const;
  void Assign(const TIdFTPClientIdentifier& ASource);
  std::string ClassName() const override { return "TIdFTPClientIdentifier"; }

private:
  std::string FClientName;
  std::string FClientVersion;
  std::string FPlatformDescription;
};

// The server's offset from UTC (a day fraction added to UTC to get the server's time).
class TIdFTPTZInfo : public TObject {
public:
  TDateTime GMTOffset() const { return FGMTOffset; }
  void SetGMTOffset(TDateTime AValue) { FGMTOffset = AValue; }
  bool GMTOffsetAvailable() const { return FGMTOffsetAvailable; }
  void SetGMTOffsetAvailable(bool AValue) { FGMTOffsetAvailable = AValue; }
  void Assign(const TIdFTPTZInfo& ASource);
  std::string ClassName() const override { return "TIdFTPTZInfo"; }

private:
  TDateTime FGMTOffset = 0;
  bool FGMTOffsetAvailable = false;
};

} // namespace ftpc
