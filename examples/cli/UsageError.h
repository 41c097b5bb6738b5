// The error of a command line the client program cannot run as written (exit status 2).
#pragma once

#include <stdexcept>

namespace ftpc::cli {

class UsageError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

} // namespace ftpc::cli
