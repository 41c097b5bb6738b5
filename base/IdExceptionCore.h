// Exceptions shared by the connection layers: the silent family and the graceful close.
#pragma once

#include "base/IdException.h"

namespace ftpc {

// Conditions that a caller usually expects and handles quietly.
FTPC_DECLARE_EXCEPTION(EIdSilentException, EIdException);
// The peer closed the connection, or there is no socket to read from any more.
FTPC_DECLARE_EXCEPTION(EIdConnClosedGracefully, EIdSilentException);

} // namespace ftpc
