#include "ftp/IdFTPSiteToSite.h"

#include "base/IdResourceStrings.h"
#include "ftp/IdFTP.h"

namespace ftpc {

void CheckSiteToSite(const TIdFTPSiteFacts& ASource, const TIdFTPSiteFacts& ADest) {
  if (ADest.UsingNATFastTrack) {
    throw EIdFTPSToSNATFastTrack(std::string(RSFTPSToSNATFastTrack));
  }
  if (ASource.IPVersion != ADest.IPVersion) {
    throw EIdFTPSToSIPProtoMustBeSame(std::string(RSFTPSToSIPProtoMustBeSame));
  }
  if (ASource.TransferMode != ADest.TransferMode) {
    throw EIdFTPSToSTransModesMustBeSame(std::string(RSFTPSToSTransModesMustBeSame));
  }
  if (ASource.UsingSFTP != ADest.UsingSFTP) {
    throw EIdFTPSToSNoDataProtection(std::string(RSFTPSToSNoDataProtection));
  }
  if (ADest.UsingSFTP && !ASource.HasSSCN && !ADest.HasSSCN && ADest.IPVersion == Id_IPv4 &&
      !ADest.HasCPSV) {
    throw EIdFTPSToSNATFastTrack(std::string(RSFTPSSCNNotSupported));
  }
}

} // namespace ftpc
