// The ls command: a directory listing through MLSD where the server lists it, otherwise LIST
// read by the common Unix, DOS and EPLF parsers; names only, or one entry per line.
#pragma once

#include <string>

#include "examples/cli/Options.h"
#include "ftp/IdFTPListTypes.h"

namespace ftpc::cli {

// "TYPE SIZE TIME NAME[ -> TARGET]": TYPE d, -, l or ?; SIZE or -; TIME as
// YYYY-MM-DDTHH:MM:SSZ or -.
std::string LongListingLine(const TIdFTPListItem& AItem);

// Lists the URL's directory on standard output, leaving out "." and "..".
void RunList(const Invocation& AInvocation);

} // namespace ftpc::cli
