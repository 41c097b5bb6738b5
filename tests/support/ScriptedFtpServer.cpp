#include "support/ScriptedFtpServer.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <deque>
#include <fcntl.h>
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <set>
#include <stdexcept>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include "support/TestPattern.h"

namespace ftpc::test {

enum class StepKind {
  Reply,
  ReplyRaw,
  Expect,
  ExpectClose,
  Stall,
  StallFor,
  Close,
  Reset,
  Accept,
  Mark,
  DataAccept,
  DataConnect,
  DataSend,
  DataSendPattern,
  DataSendUntilClosed,
  DataReceive,
  DataStall,
  DataClose,
  DataReset,
};

struct ScriptStep {
  StepKind Kind;
  std::string Description;  // how failures name the step
  std::string Text;         // reply text, data bytes or mark name
  std::function<bool(const std::string&)> Match;
  Millis Duration{0};
  uint64_t Size = 0;
  DataEnd End = DataEnd::Close;
};

namespace {

constexpr size_t kMaxCommandLine = 64 * 1024;  // longer input is cut into lines of this size
constexpr size_t kDataBlock = 64 * 1024;
constexpr auto kDrainSlice = std::chrono::hours(1);
const std::string kStopped = "\x01stopped";  // not a failure: the server is being destroyed
const char* const kUnscriptedReply = "500 Unscripted command.";
const char* const kPlaceholders[] = {"{pasv}", "{port}", "{host}", "{p1}", "{p2}"};

std::string Quoted(const std::string& AText) {
  constexpr size_t kShown = 120;
  std::string shown = AText.size() > kShown ? AText.substr(0, kShown) + "..." : AText;
  return "\"" + shown + "\"";
}

std::string ReplaceAll(std::string AText, const std::string& AFrom, const std::string& ATo) {
  for (size_t at = AText.find(AFrom); at != std::string::npos; at = AText.find(AFrom, at + ATo.size())) {
    AText.replace(at, AFrom.size(), ATo);
  }
  return AText;
}

std::vector<std::string> SplitLines(const std::string& AText) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t at = AText.find('\n'); at != std::string::npos; at = AText.find('\n', start)) {
    lines.push_back(AText.substr(start, at - start));
    start = at + 1;
  }
  lines.push_back(AText.substr(start));
  return lines;
}

bool ParseUnsigned(const std::string& AText, uint32_t AMax, uint32_t& VValue) {
  if (AText.empty() || AText.size() > 10 ||
      !std::all_of(AText.begin(), AText.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return false;
  }
  const uint64_t value = std::stoull(AText);
  if (value > AMax) {
    return false;
  }
  VValue = static_cast<uint32_t>(value);
  return true;
}

// "PORT h1,h2,h3,h4,p1,p2": the target of an active data connection.
bool ParsePortArgument(const std::string& AArgument, std::string& VHost, uint16_t& VPort) {
  std::vector<uint32_t> numbers;
  size_t start = 0;
  for (;;) {
    const size_t comma = AArgument.find(',', start);
    uint32_t number = 0;
    if (!ParseUnsigned(AArgument.substr(start, comma - start), 255, number)) {
      return false;
    }
    numbers.push_back(number);
    if (comma == std::string::npos) {
      break;
    }
    start = comma + 1;
  }
  if (numbers.size() != 6) {
    return false;
  }
  VHost = std::to_string(numbers[0]) + "." + std::to_string(numbers[1]) + "." +
          std::to_string(numbers[2]) + "." + std::to_string(numbers[3]);
  VPort = static_cast<uint16_t>(numbers[4] * 256 + numbers[5]);
  return true;
}

// "EPRT <d>proto<d>address<d>port<d>" with any delimiter character d.
bool ParseEprtArgument(const std::string& AArgument, std::string& VHost, uint16_t& VPort) {
  if (AArgument.size() < 4) {
    return false;
  }
  const char delimiter = AArgument[0];
  std::vector<std::string> fields;
  size_t start = 1;
  for (size_t at = AArgument.find(delimiter, start); at != std::string::npos;
       at = AArgument.find(delimiter, start)) {
    fields.push_back(AArgument.substr(start, at - start));
    start = at + 1;
  }
  uint32_t port = 0;
  if (fields.size() != 3 || start != AArgument.size() || !ParseUnsigned(fields[2], 65535, port)) {
    return false;
  }
  VHost = fields[1];
  VPort = static_cast<uint16_t>(port);
  return true;
}

std::string PasvNumbers(const std::string& AHost, uint16_t APort) {
  return ReplaceAll(AHost, ".", ",") + "," + std::to_string(APort / 256) + "," +
         std::to_string(APort % 256);
}

} // namespace

struct ScriptedFtpServer::Impl {
  enum class WaitResult { Ready, Woken, TimedOut, Stopped };
  enum class SendResult { Sent, PeerGone, TimedOut, Stopped };
  enum class DataMode { None, Passive, Active };

  explicit Impl(Options AOptions);

  // Configuration; fixed once the thread runs.
  Options Opts;
  std::string ListenAddress;
  FileDescriptor Listener;
  uint16_t ListenPort = 0;
  FileDescriptor WakeRead;
  FileDescriptor WakeWrite;
  std::vector<ScriptStep> Steps;
  std::thread Thread;
  std::atomic<bool> Stopping{false};

  // Shared with the test thread, guarded by Mutex.
  mutable std::mutex Mutex;
  std::condition_variable Changed;
  Lines ReceivedLines;
  Lines FailureTexts;
  std::vector<ReceivedData> UploadList;
  std::vector<uint64_t> SentList;
  std::set<std::string> MarksReached;
  int Permits = 0;
  bool Done = false;
  size_t CurrentStep = 0;
  uint16_t PassivePortNumber = 0;
  int ControlCount = 0;
  int DataCount = 0;

  // Owned by the server thread.
  FileDescriptor Control;
  std::string Input;
  std::deque<std::string> Pending;
  bool ControlEnded = false;
  FileDescriptor PassiveListener;
  FileDescriptor Data;
  DataMode Mode = DataMode::None;
  std::string ActiveHost;
  uint16_t ActivePort = 0;

  void Run();
  std::string RunStep(const ScriptStep& AStep);
  void RecordFailure(const std::string& AText);
  void ServeAfterScript();
  void AnswerUnscriptedLines();
  void Wake();

  // Waiting and the control connection.
  Clock::time_point StepDeadline() const { return Clock::now() + Opts.StepTimeout; }
  WaitResult Wait(int AFd, short AEvents, Clock::time_point ADeadline);
  std::string Pause(Clock::duration ADuration);
  void PumpControl();
  void AddInputLine(std::string ALine);
  std::string AcceptOn(int AListener, FileDescriptor& VConnection, const std::string& AWhatIsMissing);
  std::string EnsureControl();
  std::string NextLine(std::string& VLine);
  SendResult SendOn(int AFd, const char* AData, size_t ALength);
  std::string WriteControl(const std::string& ABytes);
  bool TakePermit();

  // Steps on the control connection.
  std::string DoReply(const std::string& AText, bool AAsLines);
  std::string ExpandPlaceholders(const std::string& AText, std::string& VOut);
  std::string DoExpect(const ScriptStep& AStep);
  void NoteActiveTarget(const std::string& ALine);
  std::string DoExpectClose();
  std::string DoStall();
  std::string DoClose();
  std::string DoReset();
  std::string DoMark(const std::string& AName);

  // Steps on the data connection.
  std::string OpenPassive();
  std::string EnsureData();
  std::string AcceptData();
  std::string ConnectData();
  void FinishData(DataEnd AEnd);
  void RecordSent(uint64_t ABytes);
  std::string SendData(const char* AData, size_t ALength);
  std::string DoDataSend(const std::string& ABytes, DataEnd AEnd);
  std::string DoDataSendPattern(uint64_t ASize, DataEnd AEnd);
  std::string DoDataSendUntilClosed();
  std::string DoDataReceive(uint64_t AMaxBytes);
  std::string DoDataStall();
  std::string DoDataEnd(DataEnd AEnd);
};

ScriptedFtpServer::Impl::Impl(Options AOptions) : Opts(std::move(AOptions)) {
  std::string error;
  ListenAddress = Opts.Address;
  if (ListenAddress == "127.0.0.*") {
    ListenAddress = FreeLoopbackAddress(Opts.Port, error);
  }
  if (!ListenAddress.empty()) {
    Listener = ListenOn(ListenAddress, Opts.Port, error);
  }
  if (!Listener.Valid()) {
    throw std::runtime_error("scripted FTP server cannot listen: " + error);
  }
  ListenPort = LocalPort(Listener.Get());
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
    throw std::runtime_error("scripted FTP server: pipe2: " + ErrnoText(errno));
  }
  WakeRead.Reset(fds[0]);
  WakeWrite.Reset(fds[1]);
}

void ScriptedFtpServer::Impl::Wake() {
  const char byte = 1;
  // A full pipe already holds a wake-up; nothing is lost when this write fails.
  [[maybe_unused]] const ssize_t ignored = ::write(WakeWrite.Get(), &byte, 1);
}

void ScriptedFtpServer::Impl::Run() {
  for (size_t i = 0; i < Steps.size(); ++i) {
    {
      const std::lock_guard lock(Mutex);
      CurrentStep = i;
    }
    const std::string error = RunStep(Steps[i]);
    if (error == kStopped) {
      break;
    }
    if (!error.empty()) {
      RecordFailure("step " + std::to_string(i + 1) + " " + Steps[i].Description + ": " + error);
      Control.Reset();
      Data.Reset();
      Pending.clear();
      break;
    }
  }
  // Lines already read are judged before Finished() can see the end of the script.
  AnswerUnscriptedLines();
  {
    const std::lock_guard lock(Mutex);
    CurrentStep = Steps.size();
    Done = true;
  }
  Changed.notify_all();
  ServeAfterScript();
}

std::string ScriptedFtpServer::Impl::RunStep(const ScriptStep& AStep) {
  switch (AStep.Kind) {
  case StepKind::Reply:
    return DoReply(AStep.Text, true);
  case StepKind::ReplyRaw:
    return DoReply(AStep.Text, false);
  case StepKind::Expect:
    return DoExpect(AStep);
  case StepKind::ExpectClose:
    return DoExpectClose();
  case StepKind::Stall:
    return DoStall();
  case StepKind::StallFor:
    return Pause(AStep.Duration);
  case StepKind::Close:
    return DoClose();
  case StepKind::Reset:
    return DoReset();
  case StepKind::Accept:
    Control.Reset();
    return EnsureControl();
  case StepKind::Mark:
    return DoMark(AStep.Text);
  case StepKind::DataAccept:
    Data.Reset();
    return AcceptData();
  case StepKind::DataConnect:
    Data.Reset();
    return ConnectData();
  case StepKind::DataSend:
    return DoDataSend(AStep.Text, AStep.End);
  case StepKind::DataSendPattern:
    return DoDataSendPattern(AStep.Size, AStep.End);
  case StepKind::DataSendUntilClosed:
    return DoDataSendUntilClosed();
  case StepKind::DataReceive:
    return DoDataReceive(AStep.Size);
  case StepKind::DataStall:
    return DoDataStall();
  case StepKind::DataClose:
    return DoDataEnd(DataEnd::Close);
  case StepKind::DataReset:
    return DoDataEnd(DataEnd::Reset);
  }
  return "unknown step";
}

void ScriptedFtpServer::Impl::RecordFailure(const std::string& AText) {
  {
    const std::lock_guard lock(Mutex);
    FailureTexts.push_back(AText);
  }
  Changed.notify_all();
}

void ScriptedFtpServer::Impl::AnswerUnscriptedLines() {
  while (!Pending.empty()) {
    const std::string line = Pending.front();
    Pending.pop_front();
    RecordFailure("unscripted line after the script: " + Quoted(line));
    if (Control.Valid()) {
      WriteControl(kUnscriptedReply + Opts.LineEnd);
    }
  }
}

// After the last step the server still reads the control connection, so that a client sending
// more than the script expected is caught.
void ScriptedFtpServer::Impl::ServeAfterScript() {
  while (!Stopping) {
    AnswerUnscriptedLines();
    if (Control.Valid() && ControlEnded) {
      Control.Reset();
    }
    if (Wait(-1, 0, Clock::now() + kDrainSlice) == WaitResult::Stopped) {
      return;
    }
  }
}

ScriptedFtpServer::Impl::WaitResult ScriptedFtpServer::Impl::Wait(int AFd, short AEvents,
                                                                  Clock::time_point ADeadline) {
  for (;;) {
    if (Stopping) {
      return WaitResult::Stopped;
    }
    pollfd entries[3];
    nfds_t count = 0;
    entries[count++] = {WakeRead.Get(), POLLIN, 0};
    const bool watchControl = Control.Valid() && !ControlEnded && AFd != Control.Get();
    const nfds_t controlIndex = count;
    if (watchControl) {
      entries[count++] = {Control.Get(), POLLIN, 0};
    }
    const nfds_t targetIndex = count;
    if (AFd >= 0) {
      entries[count++] = {AFd, AEvents, 0};
    }
    const auto left = std::chrono::ceil<Millis>(ADeadline - Clock::now()).count();
    const int ready = ::poll(entries, count, left <= 0 ? 0 : static_cast<int>(left));
    if (ready < 0 && errno == EINTR) {
      continue;
    }
    if (ready <= 0) {
      return WaitResult::TimedOut;
    }
    if (AFd >= 0 && entries[targetIndex].revents != 0) {
      return WaitResult::Ready;
    }
    if (watchControl && entries[controlIndex].revents != 0) {
      PumpControl();
      return WaitResult::Woken;
    }
    char drain[64];
    while (::read(WakeRead.Get(), drain, sizeof drain) > 0) {
    }
    return Stopping ? WaitResult::Stopped : WaitResult::Woken;
  }
}

std::string ScriptedFtpServer::Impl::Pause(Clock::duration ADuration) {
  const auto deadline = Clock::now() + ADuration;
  while (Clock::now() < deadline) {
    if (Wait(-1, 0, deadline) == WaitResult::Stopped) {
      return kStopped;
    }
  }
  return {};
}

void ScriptedFtpServer::Impl::PumpControl() {
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::recv(Control.Get(), buffer, sizeof buffer, 0);
    if (n > 0) {
      Input.append(buffer, static_cast<size_t>(n));
      continue;
    }
    if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
      ControlEnded = true;
    }
    if (n < 0 && errno == EINTR) {
      continue;
    }
    break;
  }
  size_t start = 0;
  for (size_t at = Input.find('\n'); at != std::string::npos; at = Input.find('\n', start)) {
    std::string line = Input.substr(start, at - start);
    if (!line.empty() && line.back() == '\r') {
      line.pop_back();
    }
    AddInputLine(std::move(line));
    start = at + 1;
  }
  Input.erase(0, start);
  while (Input.size() >= kMaxCommandLine) {
    AddInputLine(Input.substr(0, kMaxCommandLine));
    Input.erase(0, kMaxCommandLine);
  }
}

void ScriptedFtpServer::Impl::AddInputLine(std::string ALine) {
  {
    const std::lock_guard lock(Mutex);
    ReceivedLines.push_back(ALine);
  }
  Changed.notify_all();
  Pending.push_back(std::move(ALine));
}

std::string ScriptedFtpServer::Impl::AcceptOn(int AListener, FileDescriptor& VConnection,
                                              const std::string& AWhatIsMissing) {
  const auto deadline = StepDeadline();
  for (;;) {
    const int fd = ::accept4(AListener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd >= 0) {
      const int on = 1;
      ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
      VConnection.Reset(fd);
      return {};
    }
    const WaitResult result = Wait(AListener, POLLIN, deadline);
    if (result == WaitResult::Stopped) {
      return kStopped;
    }
    if (result == WaitResult::TimedOut) {
      return AWhatIsMissing + " within " + std::to_string(Opts.StepTimeout.count()) + " ms";
    }
  }
}

std::string ScriptedFtpServer::Impl::EnsureControl() {
  if (Control.Valid()) {
    return {};
  }
  const std::string error = AcceptOn(Listener.Get(), Control, "no client connected");
  if (error.empty()) {
    Input.clear();
    Pending.clear();
    ControlEnded = false;
    const std::lock_guard lock(Mutex);
    ++ControlCount;
  }
  return error;
}

std::string ScriptedFtpServer::Impl::NextLine(std::string& VLine) {
  const auto deadline = StepDeadline();
  for (;;) {
    if (!Pending.empty()) {
      VLine = Pending.front();
      Pending.pop_front();
      return {};
    }
    if (ControlEnded) {
      return "the client closed the control connection";
    }
    const WaitResult result = Wait(Control.Get(), POLLIN, deadline);
    if (result == WaitResult::Ready) {
      PumpControl();
    } else if (result == WaitResult::Stopped) {
      return kStopped;
    } else if (result == WaitResult::TimedOut) {
      return "no command line within " + std::to_string(Opts.StepTimeout.count()) + " ms";
    }
  }
}

ScriptedFtpServer::Impl::SendResult ScriptedFtpServer::Impl::SendOn(int AFd, const char* AData,
                                                                    size_t ALength) {
  size_t sent = 0;
  for (;;) {
    switch (SendAvailable(AFd, AData, ALength, sent)) {
    case SendProgress::Done:
      return SendResult::Sent;
    case SendProgress::Failed:
      return SendResult::PeerGone;
    case SendProgress::WouldBlock:
      break;
    }
    const WaitResult result = Wait(AFd, POLLOUT, StepDeadline());
    if (result == WaitResult::Stopped) {
      return SendResult::Stopped;
    }
    if (result == WaitResult::TimedOut) {
      return SendResult::TimedOut;
    }
  }
}

std::string ScriptedFtpServer::Impl::WriteControl(const std::string& ABytes) {
  const size_t piece = Opts.ReplyChunk == 0 ? ABytes.size() : Opts.ReplyChunk;
  for (size_t at = 0; at < ABytes.size(); at += piece) {
    if (at > 0) {
      const std::string paused = Pause(Opts.ChunkGap);
      if (!paused.empty()) {
        return paused;
      }
    }
    switch (SendOn(Control.Get(), ABytes.data() + at, std::min(piece, ABytes.size() - at))) {
    case SendResult::Sent:
      break;
    case SendResult::PeerGone:
      return "the client closed the control connection before the reply was sent";
    case SendResult::TimedOut:
      return "the client did not read the reply";
    case SendResult::Stopped:
      return kStopped;
    }
  }
  return {};
}

bool ScriptedFtpServer::Impl::TakePermit() {
  const std::lock_guard lock(Mutex);
  if (Permits == 0) {
    return false;
  }
  --Permits;
  return true;
}

std::string ScriptedFtpServer::Impl::DoReply(const std::string& AText, bool AAsLines) {
  std::string error = EnsureControl();
  std::string expanded;
  if (error.empty()) {
    error = ExpandPlaceholders(AText, expanded);
  }
  if (!error.empty()) {
    return error;
  }
  if (!AAsLines) {
    return WriteControl(expanded);
  }
  std::string wire;
  for (const std::string& line : SplitLines(expanded)) {
    wire += line + Opts.LineEnd;
  }
  return WriteControl(wire);
}

std::string ScriptedFtpServer::Impl::ExpandPlaceholders(const std::string& AText,
                                                        std::string& VOut) {
  VOut = AText;
  const bool wantsPasv = AText.find("{pasv}") != std::string::npos;
  const bool wantsAny = std::any_of(std::begin(kPlaceholders), std::end(kPlaceholders),
                                    [&](const char* APlaceholder) {
                                      return AText.find(APlaceholder) != std::string::npos;
                                    });
  if (!wantsAny) {
    return {};
  }
  if (wantsPasv && ListenAddress.find(':') != std::string::npos) {
    return "{pasv} needs an IPv4 listener, this one is " + ListenAddress;
  }
  const std::string error = OpenPassive();
  if (!error.empty()) {
    return error;
  }
  const uint16_t port = LocalPort(PassiveListener.Get());
  VOut = ReplaceAll(VOut, "{pasv}", PasvNumbers(ListenAddress, port));
  VOut = ReplaceAll(VOut, "{port}", std::to_string(port));
  VOut = ReplaceAll(VOut, "{host}", ListenAddress);
  VOut = ReplaceAll(VOut, "{p1}", std::to_string(port / 256));
  VOut = ReplaceAll(VOut, "{p2}", std::to_string(port % 256));
  return {};
}

std::string ScriptedFtpServer::Impl::DoExpect(const ScriptStep& AStep) {
  std::string error = EnsureControl();
  std::string line;
  if (error.empty()) {
    error = NextLine(line);
  }
  if (!error.empty()) {
    return error;
  }
  if (!AStep.Match(line)) {
    return "got " + Quoted(line);
  }
  NoteActiveTarget(line);
  return {};
}

void ScriptedFtpServer::Impl::NoteActiveTarget(const std::string& ALine) {
  std::string host;
  uint16_t port = 0;
  const bool isPort = ALine.rfind("PORT ", 0) == 0 && ParsePortArgument(ALine.substr(5), host, port);
  const bool isEprt = ALine.rfind("EPRT ", 0) == 0 && ParseEprtArgument(ALine.substr(5), host, port);
  if (isPort || isEprt) {
    Data.Reset();
    Mode = DataMode::Active;
    ActiveHost = host;
    ActivePort = port;
  }
}

std::string ScriptedFtpServer::Impl::DoExpectClose() {
  std::string error = EnsureControl();
  const auto deadline = StepDeadline();
  while (error.empty()) {
    if (!Pending.empty()) {
      return "got " + Quoted(Pending.front()) + " instead of a close";
    }
    if (ControlEnded) {
      Control.Reset();
      return {};
    }
    const WaitResult result = Wait(Control.Get(), POLLIN, deadline);
    if (result == WaitResult::Ready) {
      PumpControl();
    } else if (result == WaitResult::Stopped) {
      error = kStopped;
    } else if (result == WaitResult::TimedOut) {
      error = "the client kept the connection open";
    }
  }
  return error;
}

std::string ScriptedFtpServer::Impl::DoStall() {
  std::string error = EnsureControl();
  const auto deadline = StepDeadline();
  while (error.empty() && !TakePermit() && !ControlEnded) {
    const WaitResult result = Wait(-1, 0, deadline);
    if (result == WaitResult::Stopped) {
      error = kStopped;
    } else if (result == WaitResult::TimedOut) {
      error = "not released within " + std::to_string(Opts.StepTimeout.count()) + " ms";
    }
  }
  return error;
}

std::string ScriptedFtpServer::Impl::DoClose() {
  if (Control.Valid()) {
    PumpControl();  // unread input would turn the close into a reset
    ::shutdown(Control.Get(), SHUT_WR);
    Control.Reset();
  }
  return {};
}

std::string ScriptedFtpServer::Impl::DoReset() {
  if (Control.Valid()) {
    SetLingerReset(Control.Get());
    Control.Reset();
  }
  return {};
}

std::string ScriptedFtpServer::Impl::DoMark(const std::string& AName) {
  {
    const std::lock_guard lock(Mutex);
    MarksReached.insert(AName);
  }
  Changed.notify_all();
  return {};
}

std::string ScriptedFtpServer::Impl::OpenPassive() {
  Data.Reset();
  Mode = DataMode::Passive;
  if (PassiveListener.Valid()) {
    // A client connects only after it has read the new announcement, so whatever waits in the
    // backlog now belongs to an earlier transfer the script never served (a refused RETR).
    while (FileDescriptor(::accept4(PassiveListener.Get(), nullptr, nullptr, SOCK_CLOEXEC)).Valid()) {
    }
    return {};
  }
  std::string error;
  PassiveListener = ListenOn(ListenAddress, 0, error);
  if (!PassiveListener.Valid()) {
    return "cannot open the passive listener: " + error;
  }
  {
    const std::lock_guard lock(Mutex);
    PassivePortNumber = LocalPort(PassiveListener.Get());
  }
  return {};
}

std::string ScriptedFtpServer::Impl::EnsureData() {
  if (Data.Valid()) {
    return {};
  }
  switch (Mode) {
  case DataMode::Passive:
    return AcceptData();
  case DataMode::Active:
    return ConnectData();
  case DataMode::None:
    break;
  }
  return "no data connection was announced (no passive reply, no PORT/EPRT line)";
}

std::string ScriptedFtpServer::Impl::AcceptData() {
  if (!PassiveListener.Valid()) {
    return "no passive listener is open";
  }
  const std::string error = AcceptOn(PassiveListener.Get(), Data, "the client opened no data connection");
  if (error.empty()) {
    const std::lock_guard lock(Mutex);
    ++DataCount;
  }
  return error;
}

std::string ScriptedFtpServer::Impl::ConnectData() {
  if (ActivePort == 0) {
    return "no PORT/EPRT line named an address to connect to";
  }
  std::string error;
  Data = ConnectTo(ActiveHost, ActivePort, Opts.StepTimeout, error);
  if (!Data.Valid()) {
    return "active data connection: " + error;
  }
  const std::lock_guard lock(Mutex);
  ++DataCount;
  return {};
}

void ScriptedFtpServer::Impl::FinishData(DataEnd AEnd) {
  if (AEnd == DataEnd::Keep || !Data.Valid()) {
    return;
  }
  if (AEnd == DataEnd::Reset) {
    SetLingerReset(Data.Get());
  } else {
    ::shutdown(Data.Get(), SHUT_WR);
  }
  Data.Reset();
}

void ScriptedFtpServer::Impl::RecordSent(uint64_t ABytes) {
  const std::lock_guard lock(Mutex);
  SentList.push_back(ABytes);
}

std::string ScriptedFtpServer::Impl::SendData(const char* AData, size_t ALength) {
  switch (SendOn(Data.Get(), AData, ALength)) {
  case SendResult::Sent:
    return {};
  case SendResult::PeerGone:
    return "the client closed the data connection";
  case SendResult::TimedOut:
    return "the client stopped reading the data connection";
  case SendResult::Stopped:
    break;
  }
  return kStopped;
}

std::string ScriptedFtpServer::Impl::DoDataSend(const std::string& ABytes, DataEnd AEnd) {
  std::string error = EnsureData();
  if (error.empty()) {
    error = SendData(ABytes.data(), ABytes.size());
  }
  if (error.empty()) {
    RecordSent(ABytes.size());
    FinishData(AEnd);
  }
  return error;
}

std::string ScriptedFtpServer::Impl::DoDataSendPattern(uint64_t ASize, DataEnd AEnd) {
  std::string error = EnsureData();
  std::vector<char> block(kDataBlock);
  for (uint64_t offset = 0; error.empty() && offset < ASize; offset += kDataBlock) {
    const size_t length = static_cast<size_t>(std::min<uint64_t>(kDataBlock, ASize - offset));
    FillPattern(offset, block.data(), length);
    error = SendData(block.data(), length);
    if (!error.empty() && error != kStopped) {
      error += " after " + std::to_string(offset) + " of " + std::to_string(ASize) + " bytes";
    }
  }
  if (error.empty()) {
    RecordSent(ASize);
    FinishData(AEnd);
  }
  return error;
}

std::string ScriptedFtpServer::Impl::DoDataSendUntilClosed() {
  std::string error = EnsureData();
  std::vector<char> block(kDataBlock);
  uint64_t offset = 0;
  while (error.empty()) {
    FillPattern(offset, block.data(), block.size());
    const SendResult result = SendOn(Data.Get(), block.data(), block.size());
    if (result == SendResult::PeerGone) {
      RecordSent(offset);
      Data.Reset();
      return {};
    }
    if (result == SendResult::TimedOut) {
      error = "the client neither read nor closed the data connection";
    } else if (result == SendResult::Stopped) {
      error = kStopped;
    }
    offset += block.size();
  }
  return error;
}

std::string ScriptedFtpServer::Impl::DoDataReceive(uint64_t AMaxBytes) {
  std::string error = EnsureData();
  ReceivedData upload;
  Fnv1a64 checksum;
  std::vector<char> block(kDataBlock);
  while (error.empty() && upload.Size < AMaxBytes) {
    const size_t wanted = static_cast<size_t>(std::min<uint64_t>(kDataBlock, AMaxBytes - upload.Size));
    const ssize_t n = ::recv(Data.Get(), block.data(), wanted, 0);
    if (n > 0) {
      const size_t got = static_cast<size_t>(n);
      checksum.Update(block.data(), got);
      const size_t keep = std::min(got, kKeptDataBytes - std::min(kKeptDataBytes, upload.Bytes.size()));
      upload.Bytes.append(block.data(), keep);
      upload.Size += got;
    } else if (n == 0) {
      upload.Ended = true;
      Data.Reset();
      break;
    } else if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
      error = "data connection failed after " + std::to_string(upload.Size) + " bytes: " +
              ErrnoText(errno);
    } else if (errno != EINTR) {
      const WaitResult result = Wait(Data.Get(), POLLIN, StepDeadline());
      if (result == WaitResult::Stopped) {
        error = kStopped;
      } else if (result == WaitResult::TimedOut) {
        error = "the client sent nothing and kept the data connection open";
      }
    }
  }
  upload.Checksum = checksum.Value();
  {
    const std::lock_guard lock(Mutex);
    UploadList.push_back(std::move(upload));
  }
  Changed.notify_all();
  return error;
}

std::string ScriptedFtpServer::Impl::DoDataStall() {
  std::string error = EnsureData();
  const auto deadline = StepDeadline();
  while (error.empty() && !TakePermit()) {
    // POLLRDHUP alone: bytes the client sends must not end the stall, only its close.
    const WaitResult result = Wait(Data.Get(), POLLRDHUP, deadline);
    if (result == WaitResult::Ready) {
      Data.Reset();
      break;
    }
    if (result == WaitResult::Stopped) {
      error = kStopped;
    } else if (result == WaitResult::TimedOut) {
      error = "not released within " + std::to_string(Opts.StepTimeout.count()) + " ms";
    }
  }
  return error;
}

std::string ScriptedFtpServer::Impl::DoDataEnd(DataEnd AEnd) {
  const std::string error = EnsureData();
  if (error.empty()) {
    FinishData(AEnd);
  }
  return error;
}

// ---- ScriptedFtpServer ----

ScriptedFtpServer::ScriptedFtpServer(Options AOptions)
    : FImpl(std::make_unique<Impl>(std::move(AOptions))) {}

ScriptedFtpServer::~ScriptedFtpServer() {
  FImpl->Stopping = true;
  FImpl->Wake();
  if (FImpl->Thread.joinable()) {
    FImpl->Thread.join();
  }
}

const std::string& ScriptedFtpServer::Address() const { return FImpl->ListenAddress; }

uint16_t ScriptedFtpServer::Port() const { return FImpl->ListenPort; }

ScriptedFtpServer& ScriptedFtpServer::Add(ScriptStep AStep) {
  if (FImpl->Thread.joinable()) {
    throw std::logic_error("scripted FTP server: steps must be added before Start()");
  }
  FImpl->Steps.push_back(std::move(AStep));
  return *this;
}

ScriptedFtpServer& ScriptedFtpServer::Reply(std::string AText) {
  std::string description = "Reply(" + Quoted(AText) + ")";
  return Add({StepKind::Reply, std::move(description), std::move(AText), {}, {}, 0, {}});
}

ScriptedFtpServer& ScriptedFtpServer::ReplyRaw(std::string ABytes) {
  std::string description = "ReplyRaw(" + std::to_string(ABytes.size()) + " bytes)";
  return Add({StepKind::ReplyRaw, std::move(description), std::move(ABytes), {}, {}, 0, {}});
}

ScriptedFtpServer& ScriptedFtpServer::ReplyPasv() {
  return Reply("227 Entering Passive Mode ({pasv})");
}

ScriptedFtpServer& ScriptedFtpServer::ReplyEpsv() {
  return Reply("229 Entering Extended Passive Mode (|||{port}|)");
}

ScriptedFtpServer& ScriptedFtpServer::Expect(std::string ALine) {
  std::string description = "Expect(" + Quoted(ALine) + ")";
  return Add({StepKind::Expect, std::move(description), {},
              [line = std::move(ALine)](const std::string& AGot) { return AGot == line; }, {}, 0, {}});
}

ScriptedFtpServer& ScriptedFtpServer::ExpectPrefix(std::string APrefix) {
  std::string description = "ExpectPrefix(" + Quoted(APrefix) + ")";
  return Add({StepKind::Expect, std::move(description), {},
              [prefix = std::move(APrefix)](const std::string& AGot) {
                return AGot.rfind(prefix, 0) == 0;
              },
              {}, 0, {}});
}

ScriptedFtpServer& ScriptedFtpServer::ExpectMatch(std::string ADescription,
                                                  std::function<bool(const std::string&)> APredicate) {
  return Add({StepKind::Expect, "ExpectMatch(" + ADescription + ")", {}, std::move(APredicate), {}, 0, {}});
}

ScriptedFtpServer& ScriptedFtpServer::ExpectAny() {
  return Add({StepKind::Expect, "ExpectAny()", {}, [](const std::string&) { return true; }, {}, 0, {}});
}

ScriptedFtpServer& ScriptedFtpServer::ExpectClose() {
  return Add({StepKind::ExpectClose, "ExpectClose()", {}, {}, {}, 0, {}});
}

ScriptedFtpServer& ScriptedFtpServer::Stall() {
  return Add({StepKind::Stall, "Stall()", {}, {}, {}, 0, {}});
}

ScriptedFtpServer& ScriptedFtpServer::StallFor(Millis ADuration) {
  std::string description = "StallFor(" + std::to_string(ADuration.count()) + " ms)";
  return Add({StepKind::StallFor, std::move(description), {}, {}, ADuration, 0, {}});
}

ScriptedFtpServer& ScriptedFtpServer::Close() {
  return Add({StepKind::Close, "Close()", {}, {}, {}, 0, {}});
}

ScriptedFtpServer& ScriptedFtpServer::Reset() {
  return Add({StepKind::Reset, "Reset()", {}, {}, {}, 0, {}});
}

ScriptedFtpServer& ScriptedFtpServer::Accept() {
  return Add({StepKind::Accept, "Accept()", {}, {}, {}, 0, {}});
}

ScriptedFtpServer& ScriptedFtpServer::Mark(std::string AName) {
  std::string description = "Mark(" + Quoted(AName) + ")";
  return Add({StepKind::Mark, std::move(description), std::move(AName), {}, {}, 0, {}});
}

ScriptedFtpServer& ScriptedFtpServer::DataAccept() {
  return Add({StepKind::DataAccept, "DataAccept()", {}, {}, {}, 0, {}});
}

ScriptedFtpServer& ScriptedFtpServer::DataConnect() {
  return Add({StepKind::DataConnect, "DataConnect()", {}, {}, {}, 0, {}});
}

ScriptedFtpServer& ScriptedFtpServer::DataSend(std::string ABytes, DataEnd AEnd) {
  std::string description = "DataSend(" + std::to_string(ABytes.size()) + " bytes)";
  return Add({StepKind::DataSend, std::move(description), std::move(ABytes), {}, {}, 0, AEnd});
}

ScriptedFtpServer& ScriptedFtpServer::DataSendPattern(uint64_t ASize, DataEnd AEnd) {
  std::string description = "DataSendPattern(" + std::to_string(ASize) + " bytes)";
  return Add({StepKind::DataSendPattern, std::move(description), {}, {}, {}, ASize, AEnd});
}

ScriptedFtpServer& ScriptedFtpServer::DataSendUntilClosed() {
  return Add({StepKind::DataSendUntilClosed, "DataSendUntilClosed()", {}, {}, {}, 0, {}});
}

ScriptedFtpServer& ScriptedFtpServer::DataReceive(uint64_t AMaxBytes) {
  return Add({StepKind::DataReceive, "DataReceive()", {}, {}, {}, AMaxBytes, {}});
}

ScriptedFtpServer& ScriptedFtpServer::DataStall() {
  return Add({StepKind::DataStall, "DataStall()", {}, {}, {}, 0, {}});
}

ScriptedFtpServer& ScriptedFtpServer::DataClose() {
  return Add({StepKind::DataClose, "DataClose()", {}, {}, {}, 0, {}});
}

ScriptedFtpServer& ScriptedFtpServer::DataReset() {
  return Add({StepKind::DataReset, "DataReset()", {}, {}, {}, 0, {}});
}

void ScriptedFtpServer::Start() {
  if (FImpl->Thread.joinable()) {
    throw std::logic_error("scripted FTP server: Start() called twice");
  }
  FImpl->Thread = std::thread([impl = FImpl.get()] { impl->Run(); });
}

void ScriptedFtpServer::Release() {
  {
    const std::lock_guard lock(FImpl->Mutex);
    ++FImpl->Permits;
  }
  FImpl->Wake();
}

bool ScriptedFtpServer::WaitForMark(const std::string& AName, Millis ATimeout) {
  std::unique_lock lock(FImpl->Mutex);
  return FImpl->Changed.wait_for(lock, ATimeout, [&] { return FImpl->MarksReached.count(AName) > 0; });
}

bool ScriptedFtpServer::WaitForLine(const std::string& ALine, Millis ATimeout) {
  std::unique_lock lock(FImpl->Mutex);
  return FImpl->Changed.wait_for(lock, ATimeout, [&] {
    const Lines& lines = FImpl->ReceivedLines;
    return std::find(lines.begin(), lines.end(), ALine) != lines.end();
  });
}

::testing::AssertionResult ScriptedFtpServer::Finished(Millis ATimeout) {
  std::unique_lock lock(FImpl->Mutex);
  const bool done = FImpl->Changed.wait_for(lock, ATimeout, [&] { return FImpl->Done; });
  if (done && FImpl->FailureTexts.empty()) {
    return ::testing::AssertionSuccess();
  }
  auto result = ::testing::AssertionFailure();
  if (!FImpl->Thread.joinable()) {
    result << "the script was never started (Start() missing)\n";
  } else if (!done) {
    const size_t step = FImpl->CurrentStep;
    result << "the script is still at step " << step + 1 << " "
           << (step < FImpl->Steps.size() ? FImpl->Steps[step].Description : "") << "\n";
  }
  for (const std::string& failure : FImpl->FailureTexts) {
    result << failure << "\n";
  }
  result << "received:";
  for (const std::string& line : FImpl->ReceivedLines) {
    result << "\n  > " << line;
  }
  return result;
}

Lines ScriptedFtpServer::Received() const {
  const std::lock_guard lock(FImpl->Mutex);
  return FImpl->ReceivedLines;
}

Lines ScriptedFtpServer::Failures() const {
  const std::lock_guard lock(FImpl->Mutex);
  return FImpl->FailureTexts;
}

std::vector<ReceivedData> ScriptedFtpServer::Uploads() const {
  const std::lock_guard lock(FImpl->Mutex);
  return FImpl->UploadList;
}

std::vector<uint64_t> ScriptedFtpServer::DataSent() const {
  const std::lock_guard lock(FImpl->Mutex);
  return FImpl->SentList;
}

uint16_t ScriptedFtpServer::PassivePort() const {
  const std::lock_guard lock(FImpl->Mutex);
  return FImpl->PassivePortNumber;
}

int ScriptedFtpServer::ControlConnections() const {
  const std::lock_guard lock(FImpl->Mutex);
  return FImpl->ControlCount;
}

int ScriptedFtpServer::DataConnections() const {
  const std::lock_guard lock(FImpl->Mutex);
  return FImpl->DataCount;
}

std::string Pasv227Text(const std::string& AHost, uint16_t APort) {
  return "227 Entering Passive Mode (" + PasvNumbers(AHost, APort) + ")";
}

std::string Epsv229Text(uint16_t APort) {
  return "229 Entering Extended Passive Mode (|||" + std::to_string(APort) + "|)";
}

} // namespace ftpc::test
