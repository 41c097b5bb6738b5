// ftpc-cli: the everyday client program of the library. See Options.cpp for its command line,
// or run it with --help.
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "core/IdReplyRFC.h"
#include "examples/cli/Commands.h"
#include "examples/cli/Options.h"
#include "examples/cli/Listing.h"
#include "examples/cli/Platform.h"
#include "examples/cli/Tree.h"

namespace {

using namespace ftpc::cli;

constexpr int kExitSuccess = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitNoVerification = 3;
constexpr int kExitDigestsDiffer = 4;

// Messages from the library may span lines (socket errors, multi-line replies): each line
// break becomes one space, and trailing blanks go.
std::string OneLine(const std::string& AText) {
  std::string line;
  for (const char c : AText) {
    if (c == '\n') {
      line += ' ';
    } else if (c != '\r') {
      line += c;
    }
  }
  line.erase(line.find_last_not_of(' ') + 1);
  return line;
}

int Fail(int AStatus, const std::string& AReason) {
  std::fprintf(stderr, "%s: %s\n", kProgramName, OneLine(AReason).c_str());
  return AStatus;
}

// A refused command shows the server's code with its text.
std::string Reason(const std::exception& AError) {
  if (const auto* reply = dynamic_cast<const ftpc::EIdReplyRFCError*>(&AError)) {
    return std::to_string(reply->ErrorCode()) + " " + reply->what();
  }
  return AError.what();
}

int Verify(const Invocation& AInvocation) {
  switch (RunVerify(AInvocation)) {
  case VerifyOutcome::Same:
    return kExitSuccess;
  case VerifyOutcome::NoCommand:
    return Fail(kExitNoVerification, "the server offers no verification command");
  case VerifyOutcome::Differs:
    break;
  }
  return Fail(kExitDigestsDiffer, "'" + AInvocation.Local + "' differs from the server's copy");
}

// Each file that failed is named on stderr; the others were copied.
int Tree(bool (*ARunTree)(const Invocation&, const TreeFailureReport&),
         const Invocation& AInvocation) {
  const bool copied = ARunTree(AInvocation, [](const std::string& APath, const std::exception& AWhy) {
    Fail(kExitFailed, "'" + APath + "': " + Reason(AWhy));
  });
  return copied ? kExitSuccess : kExitFailed;
}

int Run(const Invocation& AInvocation) {
  switch (AInvocation.Cmd) {
  case Command::Help:
    std::fputs(HelpText(), stdout);
    break;
  case Command::Get:
    if (AInvocation.Opts.Recursive) {
      return Tree(RunGetTree, AInvocation);
    }
    RunGet(AInvocation);
    break;
  case Command::Put:
    if (AInvocation.Opts.Recursive) {
      return Tree(RunPutTree, AInvocation);
    }
    RunPut(AInvocation);
    break;
  case Command::List:
    RunList(AInvocation);
    break;
  case Command::Verify:
    return Verify(AInvocation);
  }
  return kExitSuccess;
}

} // namespace

int main(int argc, char** argv) {
  platform::IgnoreBrokenPipes();
  Invocation invocation;
  try {
    invocation = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const UsageError& error) {
    Fail(kExitUsage, error.what());
    std::fprintf(stderr, "Try '%s --help'.\n", kProgramName);
    return kExitUsage;
  }
  try {
    return Run(invocation);
  } catch (const std::exception& error) {
    return Fail(kExitFailed, Reason(error));
  }
}
