// The checks made before a server-to-server transfer (RFC 959 5.2), as a function of what each
// session knows about itself, so that their order can be checked without two connections.
#pragma once

#include "ftp/IdFTPCommon.h"
#include "global/IdGlobal.h"

namespace ftpc {

// What the checks look at on one side.
struct TIdFTPSiteFacts {
  bool UsingNATFastTrack = false;
  TIdIPVersion IPVersion = Id_IPv4;
  TIdFTPTransferMode TransferMode = dmStream;
  bool UsingSFTP = false;
  bool HasSSCN = false; // the server lists SSCN
  bool HasCPSV = false; // the server lists CPSV
};

// Raises, in this order: EIdFTPSToSNATFastTrack when the destination has sent "EPSV ALL";
// EIdFTPSToSIPProtoMustBeSame for different IP versions; EIdFTPSToSTransModesMustBeSame for
// different transfer modes; EIdFTPSToSNoDataProtection when only one side runs TLS;
// EIdFTPSToSNATFastTrack ("SSCN not supported") when both run TLS over IPv4 and neither server
// lists SSCN nor the destination CPSV.
void CheckSiteToSite(const TIdFTPSiteFacts& ASource, const TIdFTPSiteFacts& ADest);

} // namespace ftpc
