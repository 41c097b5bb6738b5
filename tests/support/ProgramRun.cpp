#include "support/ProgramRun.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/TempDir.h"

namespace ftpc::test {

namespace {

constexpr Millis kWaitSlice(5);

// Only async-signal-safe calls run in the child: the test process has other threads.
[[noreturn]] void ExecProgram(const char* AProgram, char* const* AArgv, int AOut, int AErr) {
  const int in = ::open("/dev/null", O_RDONLY);
  if (in < 0 || ::dup2(in, 0) < 0 || ::dup2(AOut, 1) < 0 || ::dup2(AErr, 2) < 0) {
    ::_exit(127);
  }
  ::execv(AProgram, AArgv);
  ::_exit(127);
}

// Waits (bounded) for the child to end; kills it when the time is up.
bool WaitForExit(pid_t APid, Millis ATimeout, int& VStatus) {
  const auto deadline = Clock::now() + ATimeout;
  for (;;) {
    const pid_t done = ::waitpid(APid, &VStatus, WNOHANG);
    if (done == APid || (done < 0 && errno != EINTR)) {
      return done == APid;
    }
    if (Clock::now() >= deadline) {
      ::kill(APid, SIGKILL);
      ::waitpid(APid, &VStatus, 0);
      return false;
    }
    ::poll(nullptr, 0, static_cast<int>(kWaitSlice.count()));
  }
}

} // namespace

ProgramRun RunProgram(const std::string& AProgram, const std::vector<std::string>& AArgs,
                      Millis ATimeout) {
  TempDir dir("ftpc-program-run.");
  std::vector<char*> argv{const_cast<char*>(AProgram.c_str())};
  for (const std::string& arg : AArgs) {
    argv.push_back(const_cast<char*>(arg.c_str()));
  }
  argv.push_back(nullptr);
  const FileDescriptor out(::open(dir.File("stdout").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600));
  const FileDescriptor err(::open(dir.File("stderr").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600));
  ProgramRun run;
  const pid_t pid = out.Valid() && err.Valid() ? ::fork() : -1;
  if (pid == 0) {
    ExecProgram(AProgram.c_str(), argv.data(), out.Get(), err.Get());
  }
  int status = 0;
  if (pid > 0 && WaitForExit(pid, ATimeout, status) && WIFEXITED(status)) {
    run.Exited = true;
    run.ExitCode = WEXITSTATUS(status);
  }
  run.Out = ReadTextFile(dir.File("stdout"));
  run.Err = ReadTextFile(dir.File("stderr"));
  return run;
}

std::string BuildDir() {
  return std::filesystem::read_symlink("/proc/self/exe").parent_path().string();
}

} // namespace ftpc::test
