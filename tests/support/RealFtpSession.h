// What the tests that move files through real FTP servers share: a logged-in session in a
// chosen data-connection mode, and byte-exact comparison of large files by checksum (so memory
// stays constant whatever their size).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "ftp/IdFTP.h"
#include "support/RealFtpServers.h"

namespace ftpc::test {

// PASV and PORT exist on IPv4 only; EPSV and EPRT work on both.
enum class DataMode { Pasv, Epsv, Port, Eprt };

const char* DataModeName(DataMode AMode);

// A session connected and logged in to AServer as the test user, in binary type, over IPv6 when
// the server listens on an IPv6 address; through AProxy when one is given.
std::unique_ptr<TIdFTP> LoggedInSession(const RealFtpServer& AServer, DataMode AMode,
                                        TIdCustomTransparentProxy* AProxy = nullptr);

// "<checksum>/<size>" of a file's bytes ("<checksum>/0" when it cannot be read), and the same
// text for the first ASize pattern bytes: equal texts mean equal contents.
std::string FileChecksumText(const std::string& APath);
std::string PatternChecksumText(uint64_t ASize);

} // namespace ftpc::test
