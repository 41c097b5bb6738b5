// Helpers for the socket stack tests: a fixture holding a stack use, bounded waits and
// descriptors that close themselves.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <thread>

#include "stack/IdStack.h"

namespace ftpc::testing {

class StackFixture : public ::testing::Test {
protected:
  TIdStack& Stack() { return FUser.Stack(); }

private:
  TIdStackUser FUser;
};

// Polls APredicate until it holds or ALimit has passed.
inline bool WaitUntil(const std::function<bool()>& APredicate,
                      std::chrono::milliseconds ALimit = std::chrono::seconds(10)) {
  const auto deadline = std::chrono::steady_clock::now() + ALimit;
  while (!APredicate()) {
    if (std::chrono::steady_clock::now() > deadline) {
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// Closes a descriptor when it goes out of scope.
class ScopedFd {
public:
  explicit ScopedFd(int AFd = -1) : FFd(AFd) {}
  ScopedFd(const ScopedFd&) = delete;
  ScopedFd& operator=(const ScopedFd&) = delete;
  ~ScopedFd() { Reset(); }
  int Get() const { return FFd; }
  int Release() {
    const int fd = FFd;
    FFd = -1;
    return fd;
  }
  void Reset(int AFd = -1) {
    if (FFd >= 0) {
      close(FFd);
    }
    FFd = AFd;
  }

private:
  int FFd;
};

struct LoopbackCase {
  TIdIPVersion Version;
  const char* Address;  // what the caller passes
  const char* Reported; // what the stack reports back
};

inline const LoopbackCase kLoopbacks[] = {
    {Id_IPv4, "127.0.0.1", "127.0.0.1"},
    {Id_IPv6, "::1", "0:0:0:0:0:0:0:1"},
};

inline std::string PrintLoopback(const ::testing::TestParamInfo<LoopbackCase>& AInfo) {
  return AInfo.param.Version == Id_IPv4 ? "IPv4" : "IPv6";
}

} // namespace ftpc::testing
