#include "support/TestProcess.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace ftpc::test {

namespace {

constexpr Millis kPollInterval(10);

struct ProcStat {
  pid_t Pid = 0;
  pid_t Parent = 0;
  pid_t Group = 0;
  char State = '?';
};

// Fields of /proc/<pid>/stat after "pid (comm)"; comm may itself hold blanks and parentheses.
bool ReadProcStat(pid_t APid, ProcStat& VStat) {
  std::ifstream in("/proc/" + std::to_string(APid) + "/stat");
  std::string text;
  if (!std::getline(in, text)) {
    return false;
  }
  const size_t close = text.rfind(')');
  if (close == std::string::npos || close + 2 >= text.size()) {
    return false;
  }
  VStat.Pid = APid;
  VStat.State = text[close + 2];
  return std::sscanf(text.c_str() + close + 3, "%d %d", &VStat.Parent, &VStat.Group) == 2;
}

std::vector<ProcStat> AllProcesses() {
  std::vector<ProcStat> all;
  DIR* dir = ::opendir("/proc");
  if (dir == nullptr) {
    return all;
  }
  while (const dirent* entry = ::readdir(dir)) {
    char* end = nullptr;
    const long pid = std::strtol(entry->d_name, &end, 10);
    ProcStat stat;
    if (pid > 0 && *end == '\0' && ReadProcStat(static_cast<pid_t>(pid), stat)) {
      all.push_back(stat);
    }
  }
  ::closedir(dir);
  return all;
}

// Blocks the caller for one poll interval (the processes give no event to wait on).
void PollPause() { ::poll(nullptr, 0, static_cast<int>(kPollInterval.count())); }

std::vector<char*> ArgvPointers(const std::vector<std::string>& AArgv) {
  std::vector<char*> pointers;
  for (const std::string& arg : AArgv) {
    pointers.push_back(const_cast<char*>(arg.c_str()));
  }
  pointers.push_back(nullptr);
  return pointers;
}

pid_t Spawn(const std::vector<std::string>& AArgv, const std::string& ALogPath, bool ANewSession,
            std::string& VError) {
  if (AArgv.empty()) {
    VError = "empty command";
    return -1;
  }
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  posix_spawn_file_actions_init(&actions);
  posix_spawnattr_init(&attributes);
  posix_spawn_file_actions_addopen(&actions, 0, ALogPath.c_str(), O_RDWR | O_CREAT | O_APPEND, 0644);
  posix_spawn_file_actions_adddup2(&actions, 0, 1);
  posix_spawn_file_actions_adddup2(&actions, 0, 2);
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);
  sigset_t defaults;
  sigemptyset(&defaults);
  for (const int sig : {SIGPIPE, SIGTERM, SIGINT, SIGHUP, SIGCHLD, SIGALRM, SIGUSR1, SIGUSR2}) {
    sigaddset(&defaults, sig);
  }
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setsigmask(&attributes, &none);
  short flags = POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK;
  if (ANewSession) {
    flags |= POSIX_SPAWN_SETSID;
  }
  posix_spawnattr_setflags(&attributes, flags);
  std::vector<char*> argv = ArgvPointers(AArgv);
  pid_t pid = -1;
  const int error = ::posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (error != 0) {
    VError = "cannot start " + AArgv[0] + ": " + ErrnoText(error);
    return -1;
  }
  return pid;
}

// Waits until none of APids is alive (reaping APid's own child) or the deadline passes.
bool WaitUntilGone(pid_t ARoot, const std::vector<pid_t>& APids, Clock::time_point ADeadline) {
  for (;;) {
    ChildExited(ARoot);
    const bool anyAlive = std::any_of(APids.begin(), APids.end(), ProcessAlive);
    if (!anyAlive || Clock::now() >= ADeadline) {
      return !anyAlive;
    }
    PollPause();
  }
}

void SignalAll(pid_t ARoot, const std::vector<pid_t>& APids, int ASignal) {
  ::kill(-ARoot, ASignal);
  for (const pid_t pid : APids) {
    if (ProcessAlive(pid)) {
      ::kill(pid, ASignal);
    }
  }
}

} // namespace

pid_t SpawnDaemon(const std::vector<std::string>& AArgv, const std::string& ALogPath,
                  std::string& VError) {
  return Spawn(AArgv, ALogPath, true, VError);
}

int RunCommand(const std::vector<std::string>& AArgv, const std::string& ALogPath, Millis ATimeout) {
  std::string error;
  const pid_t pid = Spawn(AArgv, ALogPath, false, error);
  if (pid < 0) {
    return -1;
  }
  const auto deadline = Clock::now() + ATimeout;
  int status = 0;
  for (;;) {
    const pid_t done = ::waitpid(pid, &status, WNOHANG);
    if (done == pid) {
      return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    if (done < 0 && errno != EINTR) {
      return -1;
    }
    if (Clock::now() >= deadline) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      return -1;
    }
    PollPause();
  }
}

std::vector<pid_t> ProcessTree(pid_t APid) {
  const std::vector<ProcStat> all = AllProcesses();
  std::multimap<pid_t, pid_t> children;
  std::vector<pid_t> tree{APid};
  for (const ProcStat& process : all) {
    children.emplace(process.Parent, process.Pid);
    if (process.Group == APid && process.Pid != APid) {
      tree.push_back(process.Pid);
    }
  }
  for (size_t i = 0; i < tree.size(); ++i) {
    const auto range = children.equal_range(tree[i]);
    for (auto it = range.first; it != range.second; ++it) {
      if (std::find(tree.begin(), tree.end(), it->second) == tree.end()) {
        tree.push_back(it->second);
      }
    }
  }
  return tree;
}

bool ProcessAlive(pid_t APid) {
  ProcStat stat;
  return ReadProcStat(APid, stat) && stat.State != 'Z' && stat.State != 'X';
}

bool ChildExited(pid_t APid) {
  int status = 0;
  const pid_t done = ::waitpid(APid, &status, WNOHANG);
  return done == APid || (done < 0 && errno == ECHILD);
}

std::vector<pid_t> StopProcessTree(pid_t APid, Millis AGrace) {
  // Collected first: session processes that left the group (setsid) are found only while their
  // parent still lives.
  const std::vector<pid_t> tree = ProcessTree(APid);
  SignalAll(APid, tree, SIGTERM);
  if (!WaitUntilGone(APid, tree, Clock::now() + AGrace)) {
    SignalAll(APid, tree, SIGKILL);
    WaitUntilGone(APid, tree, Clock::now() + AGrace);
  }
  std::vector<pid_t> survivors;
  std::copy_if(tree.begin(), tree.end(), std::back_inserter(survivors), ProcessAlive);
  return survivors;
}

} // namespace ftpc::test
