#include "examples/cli/Tree.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>
#include <vector>

#include "core/IdReplyRFC.h"
#include "examples/cli/LocalFile.h"
#include "examples/cli/Session.h"
#include "ftp/IdFTPListParseCommon.h"
#include "ftp/IdFTPListTypes.h"
#include "global/IdGlobal.h"
#include "global/IdGlobalProtocols.h"

namespace ftpc::cli {

namespace {

namespace fs = std::filesystem;

// The deepest directory a tree copy enters: a server that shows a link loop as directories
// must not keep it going for ever.
constexpr size_t kMaxTreeDepth = 64;
// "425 Can't open data connection": often passing, as when a server's passive ports are all
// taken for a moment by the connections of the files before. Such a file gets a second try.
constexpr int kDataConnectionRefused = 425;

// One file to copy: its path below the top of the tree on the server ("a/b.txt") and its
// local path.
struct TreeFile {
  std::string Remote;
  fs::path Local;
  TDateTime ModifiedGMT = 0; // the listing's exact time; 0 when it gave none
};

// The files found so far, handed out to the sessions. Pop waits for more until Close.
class FileQueue {
public:
  void Push(TreeFile AFile) {
    {
      const std::lock_guard guard(FLock);
      FFiles.push_back(std::move(AFile));
    }
    FReady.notify_one();
  }

  void Close() {
    {
      const std::lock_guard guard(FLock);
      FClosed = true;
    }
    FReady.notify_all();
  }

  // Nothing once the queue is closed and empty.
  std::optional<TreeFile> Pop() {
    std::unique_lock lock(FLock);
    FReady.wait(lock, [this] { return FClosed || !FFiles.empty(); });
    if (FFiles.empty()) {
      return std::nullopt;
    }
    TreeFile file = std::move(FFiles.front());
    FFiles.pop_front();
    return file;
  }

private:
  std::mutex FLock;
  std::condition_variable FReady;
  std::deque<TreeFile> FFiles;
  bool FClosed = false;
};

// Passes failures on to the caller's report one at a time and remembers that there were any.
class FailureLog {
public:
  explicit FailureLog(const TreeFailureReport& AReport) : FReport(AReport) {}

  void Add(const std::string& APath, const std::exception& AWhy) {
    const std::lock_guard guard(FLock);
    FAny = true;
    FReport(APath.empty() ? "." : APath, AWhy);
  }

  bool Any() {
    const std::lock_guard guard(FLock);
    return FAny;
  }

private:
  const TreeFailureReport& FReport;
  std::mutex FLock;
  bool FAny = false;
};

class TreeSession;
struct TreeRun;

// What makes a get tree differ from a put tree.
struct TreeDirection {
  // Makes the remote top the session's working directory.
  void (*EnterTop)(TIdFTP& AFtp, const std::string& ATop);
  // Finds the files (queueing them) and creates the directories on the receiving side.
  void (*Walk)(TreeSession& ASession, TreeRun& VRun);
  void (*Copy)(TreeSession& ASession, const TreeRun& ARun, const TreeFile& AFile);
};

struct TreeRun {
  TreeRun(const Invocation& AInvocation, const TreeDirection& ADirection,
          const TreeFailureReport& AReport);

  Invocation SessionInvocation; // opens in the login directory, draws no progress bar
  std::string Top;              // the remote directory of the tree, "" for the login directory
  fs::path LocalTop;
  bool Replace;                 // --force: local files may be replaced
  const TreeDirection& Direction;
  FileQueue Files;
  FailureLog Failures;
};

// "a/b/" gives "a/b"; "/" stays the root.
std::string TopDirectory(std::string APath) {
  while (APath.size() > 1 && APath.back() == '/') {
    APath.pop_back();
  }
  return APath;
}

TreeRun::TreeRun(const Invocation& AInvocation, const TreeDirection& ADirection,
                 const TreeFailureReport& AReport)
    : SessionInvocation(AInvocation), Top(TopDirectory(AInvocation.Url.Path)),
      LocalTop(AInvocation.Local), Replace(AInvocation.Opts.Force), Direction(ADirection),
      Failures(AReport) {
  SessionInvocation.Url.Path.clear();
  SessionInvocation.Opts.Progress = false;
}

// One session of a tree, working in the remote top; it is opened again when it was lost.
class TreeSession {
public:
  explicit TreeSession(const TreeRun& ARun) : FRun(ARun) {}

  // Raises when the session cannot be opened or the top cannot be entered.
  TIdFTP& Ready() {
    if (FSession && FSession->Ftp().Connected()) {
      return FSession->Ftp();
    }
    FSession.reset();
    auto session = std::make_unique<Session>(FRun.SessionInvocation);
    session->Open();
    FRun.Direction.EnterTop(session->Ftp(), FRun.Top);
    FSession = std::move(session);
    SetsTimes = true;
    return FSession->Ftp();
  }

  void Close() {
    if (FSession) {
      FSession->Close();
    }
  }

  // Cleared once the server refuses to set a modification time: it will not take the next.
  bool SetsTimes = true;

private:
  const TreeRun& FRun;
  std::unique_ptr<Session> FSession;
};

std::string JoinRemote(const std::string& ADir, const std::string& AName) {
  return ADir.empty() ? AName : ADir + "/" + AName;
}

bool IsDotEntry(const std::string& AName) {
  return AName == "." || AName == "..";
}

// MLSD also names the listed directory (type=cdir) and its parent (type=pdir).
bool IsListedDirectoryOrParent(const TIdFTPListItem& AItem) {
  if (dynamic_cast<const TIdMLSTFTPListItem*>(&AItem) == nullptr) {
    return false;
  }
  const std::string_view data = AItem.Data();
  const std::string facts = ";" + LowerCase(std::string(data.substr(0, data.find(' '))));
  return facts.find(";type=cdir;") != std::string::npos ||
         facts.find(";type=pdir;") != std::string::npos;
}

size_t DepthOf(const std::string& ARemote) {
  return static_cast<size_t>(std::count(ARemote.begin(), ARemote.end(), '/')) + 1;
}

// A name from the server that could lead out of the local tree.
bool IsSafeRemoteName(const std::string& AName) {
  static const std::string kSeparatorsAndNul("/\\\0", 3);
  return !AName.empty() && !IsDotEntry(AName) &&
         AName.find_first_of(kSeparatorsAndNul) == std::string::npos;
}

// Takes the tree's directories breadth first from its top (""): ATake queues one directory's
// files and returns its subdirectories. A directory that fails is reported, and what lies
// below it is left out.
void WalkBreadthFirst(
    TreeRun& VRun, const std::function<std::vector<std::string>(const std::string&)>& ATake) {
  std::deque<std::string> pending{""};
  while (!pending.empty()) {
    const std::string dir = std::move(pending.front());
    pending.pop_front();
    try {
      for (std::string& subdirectory : ATake(dir)) {
        pending.push_back(std::move(subdirectory));
      }
    } catch (const std::exception& error) {
      VRun.Failures.Add(dir, error);
    }
  }
}

void CopyTrying(TreeRun& VRun, TreeSession& ASession, const TreeFile& AFile) {
  try {
    VRun.Direction.Copy(ASession, VRun, AFile);
  } catch (const EIdReplyRFCError& error) {
    if (error.ErrorCode() != kDataConnectionRefused) {
      throw;
    }
    VRun.Direction.Copy(ASession, VRun, AFile);
  }
}

void Work(TreeRun& VRun, TreeSession& ASession) {
  while (std::optional<TreeFile> file = VRun.Files.Pop()) {
    try {
      CopyTrying(VRun, ASession, *file);
    } catch (const std::exception& error) {
      VRun.Failures.Add(file->Remote, error);
    }
  }
}

// The first session finds the files while the others (started once the top exists) copy
// them as they come.
bool RunTree(TreeRun& VRun, int32_t AParallel) {
  TreeSession first(VRun);
  first.Ready();
  std::vector<std::jthread> helpers;
  for (int32_t i = 1; i < AParallel; ++i) {
    helpers.emplace_back([&VRun] {
      TreeSession session(VRun);
      Work(VRun, session);
      session.Close();
    });
  }
  try {
    VRun.Direction.Walk(first, VRun);
  } catch (...) {
    VRun.Files.Close();
    throw;
  }
  VRun.Files.Close();
  Work(VRun, first);
  first.Close();
  helpers.clear(); // joins
  return !VRun.Failures.Any();
}

// ---- Local files -------------------------------------------------------------------------

TDateTime LocalModifiedGMT(const fs::path& APath) {
  const auto system = std::chrono::file_clock::to_sys(fs::last_write_time(APath));
  return UnixToDateTime(
      std::chrono::duration_cast<std::chrono::seconds>(system.time_since_epoch()).count());
}

void SetLocalModified(const fs::path& APath, TDateTime AGMT) {
  const std::chrono::sys_seconds system{std::chrono::seconds(DateTimeToUnix(AGMT))};
  fs::last_write_time(APath, std::chrono::file_clock::from_sys(system));
}

// ---- get -r --------------------------------------------------------------------------------

void EnterExistingTop(TIdFTP& AFtp, const std::string& ATop) {
  if (!ATop.empty()) {
    AFtp.ChangeDir(ATop);
  }
}

// RFC 3659 names MLST in FEAT for both MLST and MLSD.
bool ListsWithMLSD(TIdFTP& AFtp) {
  return AFtp.IsExtSupported("MLSD") || AFtp.IsExtSupported("MLST");
}

// MLSD where the server has it (exact times in UTC). LIST otherwise, in the directory itself:
// some servers take a LIST argument apart at its spaces. ATopPath is the top's absolute path.
const TIdFTPListItems& ListDirectory(TIdFTP& AFtp, const std::string& ATopPath,
                                     const std::string& ADir) {
  if (ListsWithMLSD(AFtp)) {
    AFtp.ExtListDir(nullptr, ADir);
  } else {
    if (!ADir.empty()) {
      AFtp.ChangeDir(ATopPath == "/" ? "/" + ADir : ATopPath + "/" + ADir);
    }
    AFtp.List(nullptr, "", true);
  }
  return *AFtp.DirectoryListing();
}

// Queues the files of one remote directory and creates its subdirectories locally; returns
// those subdirectories. Links and other special entries are left out.
std::vector<std::string> TakeRemoteDirectory(TIdFTP& AFtp, TreeRun& VRun,
                                             const std::string& ATopPath, const std::string& ADir) {
  std::vector<std::string> subdirectories;
  const TIdFTPListItems& items = ListDirectory(AFtp, ATopPath, ADir);
  for (int i = 0; i < items.Count(); ++i) {
    const TIdFTPListItem& item = items.Items(i);
    const std::string& name = item.FileName();
    const std::string remote = JoinRemote(ADir, name);
    if (IsDotEntry(name) || IsListedDirectoryOrParent(item)) {
      continue;
    }
    if (!IsSafeRemoteName(name)) {
      VRun.Failures.Add(remote, std::runtime_error("a name that could lead out of the tree"));
    } else if (item.ItemType() == ditDirectory && DepthOf(remote) > kMaxTreeDepth) {
      VRun.Failures.Add(remote, std::runtime_error("more than " + std::to_string(kMaxTreeDepth) +
                                                   " directories deep"));
    } else if (item.ItemType() == ditDirectory) {
      fs::create_directory(VRun.LocalTop / remote);
      subdirectories.push_back(remote);
    } else if (item.ItemType() == ditFile) {
      VRun.Files.Push({remote, VRun.LocalTop / remote, item.ModifiedDateGMT()});
    }
  }
  return subdirectories;
}

void WalkRemote(TreeSession& ASession, TreeRun& VRun) {
  static std::once_flag parsersRegistered;
  std::call_once(parsersRegistered, RegisterCommonFTPListParsers);
  fs::create_directories(VRun.LocalTop);
  // LIST goes in ASCII type, switched once for the whole walk; it lists in the directory.
  const bool lists = !ListsWithMLSD(ASession.Ready());
  const std::string topPath = lists ? ASession.Ready().RetrieveCurrentDir() : std::string();
  if (lists) {
    ASession.Ready().SetTransferType(ftASCII);
  }
  WalkBreadthFirst(VRun, [&](const std::string& ADir) {
    return TakeRemoteDirectory(ASession.Ready(), VRun, topPath, ADir);
  });
  if (lists) {
    ASession.Ready().ChangeDir(topPath);
    ASession.Ready().SetTransferType(ftBinary);
  }
}

void GetFile(TreeSession& ASession, const TreeRun& ARun, const TreeFile& AFile) {
  TIdFTP& ftp = ASession.Ready();
  if (!ARun.Replace && LocalPathExists(AFile.Local.string())) {
    throw std::runtime_error("'" + AFile.Local.string() +
                             "' already exists (--force replaces it)");
  }
  // A hidden file beside the target takes its name only once complete.
  DownloadTarget target = DownloadTarget::Fresh(AFile.Local.string());
  ftp.Get(AFile.Remote, target.Stream());
  target.Commit(ARun.Replace);
  // A LIST line tells the time in minutes at best: MDTM tells it exactly.
  TDateTime modified = AFile.ModifiedGMT;
  if (modified == 0 && ftp.IsExtSupported("MDTM")) {
    modified = ftp.FileDate(AFile.Remote, true);
  }
  if (modified != 0) {
    SetLocalModified(AFile.Local, modified);
  }
}

constexpr TreeDirection kGetTree = {EnterExistingTop, WalkRemote, GetFile};

// ---- put -r --------------------------------------------------------------------------------

// A directory that is there already is no failure; one that could not be made shows in the
// failures of its files.
void MakeRemoteDirectory(TIdFTP& AFtp, const std::string& APath) {
  try {
    AFtp.MakeDir(APath);
  } catch (const EIdReplyRFCError&) {
  }
}

// The top and the directories above it are made where missing.
void EnterOrMakeTop(TIdFTP& AFtp, const std::string& ATop) {
  if (ATop.empty()) {
    return;
  }
  try {
    AFtp.ChangeDir(ATop);
    return;
  } catch (const EIdReplyRFCError&) {
  }
  for (size_t slash = ATop.find('/', 1);; slash = ATop.find('/', slash + 1)) {
    MakeRemoteDirectory(AFtp, ATop.substr(0, slash));
    if (slash == std::string::npos) {
      break;
    }
  }
  AFtp.ChangeDir(ATop);
}

// Queues the files of one local directory and makes its subdirectories on the server;
// returns those subdirectories. Links to directories are not followed.
std::vector<std::string> TakeLocalDirectory(TIdFTP& AFtp, TreeRun& VRun, const std::string& ADir) {
  std::vector<std::string> subdirectories;
  std::error_code error;
  for (fs::directory_iterator entry(VRun.LocalTop / ADir, error), end; !error && entry != end;
       entry.increment(error)) {
    const std::string remote = JoinRemote(ADir, entry->path().filename().string());
    if (remote.find_first_of("\r\n") != std::string::npos) {
      VRun.Failures.Add(remote, std::runtime_error("a line break cannot go into a remote name"));
    } else if (entry->is_directory() && !entry->is_symlink()) {
      MakeRemoteDirectory(AFtp, remote);
      subdirectories.push_back(remote);
    } else if (entry->is_regular_file()) {
      VRun.Files.Push({remote, entry->path()});
    }
  }
  if (error) {
    throw fs::filesystem_error("cannot read the directory", VRun.LocalTop / ADir, error);
  }
  return subdirectories;
}

void WalkLocal(TreeSession& ASession, TreeRun& VRun) {
  WalkBreadthFirst(VRun, [&](const std::string& ADir) {
    return TakeLocalDirectory(ASession.Ready(), VRun, ADir);
  });
}

// MFMT or MDTM with a time, where the server offers either.
void KeepRemoteModified(TreeSession& ASession, TIdFTP& AFtp, const TreeFile& AFile) {
  if (!ASession.SetsTimes || !(AFtp.IsExtSupported("MFMT") || AFtp.IsExtSupported("MDTM"))) {
    return;
  }
  try {
    AFtp.SetModTimeGMT(AFile.Remote, LocalModifiedGMT(AFile.Local));
  } catch (const EIdReplyRFCError&) {
    ASession.SetsTimes = false; // the copies are there all the same
  }
}

void PutFile(TreeSession& ASession, const TreeRun&, const TreeFile& AFile) {
  TIdFTP& ftp = ASession.Ready();
  const std::unique_ptr<TStream> source = OpenForUpload(AFile.Local.string());
  ftp.Put(*source, AFile.Remote);
  KeepRemoteModified(ASession, ftp, AFile);
}

constexpr TreeDirection kPutTree = {EnterOrMakeTop, WalkLocal, PutFile};

} // namespace

bool RunGetTree(const Invocation& AInvocation, const TreeFailureReport& AReport) {
  TreeRun run(AInvocation, kGetTree, AReport);
  return RunTree(run, AInvocation.Opts.Parallel);
}

bool RunPutTree(const Invocation& AInvocation, const TreeFailureReport& AReport) {
  if (!fs::is_directory(AInvocation.Local)) {
    throw std::runtime_error("'" + AInvocation.Local + "' is not a directory");
  }
  TreeRun run(AInvocation, kPutTree, AReport);
  return RunTree(run, AInvocation.Opts.Parallel);
}

} // namespace ftpc::cli
