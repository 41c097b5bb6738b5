// The fault matrix: one table of hostile or broken servers, each row run against the three front
// ends. The library must raise a clear exception, ftpc-cli must exit 1 and the tool 0 (silently),
// neither may leave a partial download, nothing may hang past the configured time-outs, and the
// library may not leak a descriptor. The scripted server plays every step of login, listing,
// upload and download; a throttled vsftpd is killed in the middle of real transfers.
#include <cxxabi.h>
#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <thread>

#include <gtest/gtest.h>

#include "ftp/IdFTP.h"
#include "support/ProgramRun.h"
#include "support/RealFtpServers.h"
#include "support/ScriptedFtpServer.h"
#include "support/TempDir.h"
#include "support/TestPattern.h"

namespace ftpc::test {
namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kUser = "bob";
constexpr const char* kPassword = "s3cret";
constexpr const char* kDirectory = "/incoming";
constexpr int32_t kLibraryTimeoutMs = 300;
constexpr const char* kCliTimeoutSeconds = "1";
constexpr int32_t kRealServerTimeoutMs = 5000;
// What a front end may take beyond its time-outs before the run counts as a hang.
constexpr Millis kLibraryBound{5000};
constexpr Millis kProgramBound{15000};
constexpr size_t kPartialBytes = 64 * 1024;

enum class Operation { Login, List, Upload, Download };

// What the tool cannot be asked to do, or cannot be bounded in: it never lists, and it has no
// time-out settings (its reads wait 60 s, its connects and data reads without limit).
enum class ToolRuns { Yes, No };

struct FaultRow {
  const char* Fault;
  Operation Op;
  std::function<void(ScriptedFtpServer&)> Script; // from after the listener opened
  const char* LibraryError;                        // part of the exception's class name
  ToolRuns Tool = ToolRuns::Yes;
  bool Epsv = false;                               // the library asks with EPSV (229)
};

// ---- Script pieces ---------------------------------------------------------------------------

ScriptedFtpServer& UpToPass(ScriptedFtpServer& S) {
  return S.Reply("220 scripted")
      .Expect("HOST [" + S.Address() + "]").Reply("220 host accepted")
      .Expect(std::string("USER ") + kUser).Reply("331 password please")
      .Expect(std::string("PASS ") + kPassword);
}

ScriptedFtpServer& Login(ScriptedFtpServer& S, const char* AFeatures = "211-Features:\n211 End") {
  UpToPass(S).Reply("230 in").Expect("FEAT").Reply(AFeatures);
  if (std::string(AFeatures).find("UTF8") != std::string::npos) {
    S.Expect("OPTS UTF8 ON").Reply("200 UTF-8 on");
  }
  return S.Expect("TYPE I").Reply("200 binary")
      .Expect("SYST").Reply("215 UNIX Type: L8")
      .Expect("TYPE I").Reply("200 binary")
      .Expect(std::string("CWD ") + kDirectory);
}

ScriptedFtpServer& LoggedIn(ScriptedFtpServer& S) { return Login(S).Reply("250 here"); }

// The data command of AOp after PASV, up to its preliminary reply.
ScriptedFtpServer& DataCommand(ScriptedFtpServer& S, Operation AOp) {
  LoggedIn(S);
  if (AOp == Operation::List) {
    S.Expect("TYPE A").Reply("200 ascii"); // listings travel in ASCII
  }
  S.Expect("PASV").ReplyPasv();
  switch (AOp) {
  case Operation::List:
    return S.ExpectPrefix("LIST").Reply("150 listing"); // "LIST -al" from the library
  case Operation::Upload:
    return S.Expect("STOR remote.bin").Reply("150 send it");
  default:
    return S.Expect("RETR remote.bin").Reply("150 here it comes");
  }
}

std::string EndlessReply() {
  std::string reply;
  for (size_t i = 0; i <= IdMaxReplyLines; ++i) {
    reply += "220-more\r\n";
  }
  return reply;
}

const std::vector<FaultRow>& Rows() {
  static const std::vector<FaultRow> rows = {
      {"control closed at the greeting", Operation::Login,
       [](ScriptedFtpServer& S) { S.Accept().Close(); }, "ConnClosedGracefully"},
      {"control closed after USER", Operation::Login,
       [](ScriptedFtpServer& S) {
         S.Reply("220 scripted").ExpectPrefix("HOST ").Reply("220 ok").ExpectPrefix("USER ").Close();
       },
       "ConnClosedGracefully"},
      {"control reset after PASS", Operation::Login,
       [](ScriptedFtpServer& S) { UpToPass(S).Reset(); }, "Socket"},
      {"control closed after FEAT", Operation::Login,
       [](ScriptedFtpServer& S) { UpToPass(S).Reply("230 in").Expect("FEAT").Close(); },
       "ConnClosedGracefully"},
      {"control closed after CWD", Operation::Login,
       [](ScriptedFtpServer& S) { Login(S).Close(); }, "ConnClosedGracefully"},
      {"greeting stalls past the read time-out", Operation::Login,
       [](ScriptedFtpServer& S) { S.Stall(); }, "ReadTimeout", ToolRuns::No},
      {"over-long reply line", Operation::Login,
       [](ScriptedFtpServer& S) { S.Reply("220 " + std::string(4 * IdMaxLineLengthDefault, 'x')); },
       "MaxLineLength"},
      {"endless multi-line reply", Operation::Login,
       [](ScriptedFtpServer& S) { S.ReplyRaw(EndlessReply()); }, "ReplyTooLarge"},
      {"overlong UTF-8 in a reply code", Operation::Login,
       [](ScriptedFtpServer& S) {
         Login(S, "211-Features:\n UTF8\n211 End").ReplyRaw("25\xC0\xB0 here\r\n").Close();
       },
       "ConnClosedGracefully"},
      {"reply to a command never sent", Operation::Download,
       [](ScriptedFtpServer& S) {
         LoggedIn(S).ReplyRaw("150 unasked\r\n").Expect("PASV").ReplyPasv();
       },
       "ReplyRFCError"},
      {"malformed 227", Operation::Download,
       [](ScriptedFtpServer& S) {
         LoggedIn(S).Expect("PASV").Reply("227 Entering Passive Mode (127,0,0,1,300)");
       },
       "Convert"},
      {"malformed 229", Operation::Download,
       [](ScriptedFtpServer& S) {
         Login(S, "211-Features:\n EPRT\n EPSV\n211 End").Reply("250 here")
             .Expect("EPSV").Reply("229 Entering Extended Passive Mode (|||99999|)")
             .Expect("ABOR").Reply("225 no transfer");
       },
       "InvalidPort", ToolRuns::No, true},
      {"control closed after LIST", Operation::List,
       [](ScriptedFtpServer& S) { DataCommand(S, Operation::List).Close().DataAccept().DataClose(); },
       "ConnClosedGracefully", ToolRuns::No},
      {"data reset mid-listing", Operation::List,
       [](ScriptedFtpServer& S) {
         DataCommand(S, Operation::List).DataSend("-rw-r--r-- 1 u g 1 Jan 1 2024 a\r\n", DataEnd::Reset)
             .Reply("426 aborted");
       },
       "", ToolRuns::No},
      {"control closed after STOR", Operation::Upload,
       [](ScriptedFtpServer& S) { DataCommand(S, Operation::Upload).DataReceive(1024).Close(); },
       "ConnClosedGracefully"},
      {"data reset mid-upload", Operation::Upload,
       [](ScriptedFtpServer& S) {
         DataCommand(S, Operation::Upload).DataReceive(1024).DataReset().Reply("426 aborted");
       },
       ""},
      {"control closed after RETR", Operation::Download,
       [](ScriptedFtpServer& S) { DataCommand(S, Operation::Download).Close().DataAccept().DataClose(); },
       "ConnClosedGracefully"},
      {"data closed mid-download, then 426", Operation::Download,
       [](ScriptedFtpServer& S) {
         DataCommand(S, Operation::Download).DataSendPattern(kPartialBytes).Reply("426 aborted");
       },
       "ReplyRFCError"},
      {"data reset mid-download", Operation::Download,
       [](ScriptedFtpServer& S) {
         DataCommand(S, Operation::Download).DataSendPattern(kPartialBytes, DataEnd::Reset)
             .Reply("426 aborted");
       },
       ""},
      {"control closed mid-download", Operation::Download,
       [](ScriptedFtpServer& S) {
         DataCommand(S, Operation::Download).DataSendPattern(kPartialBytes, DataEnd::Keep).Close()
             .DataClose();
       },
       "ConnClosedGracefully"},
      {"data stalls past the transfer time-out", Operation::Download,
       [](ScriptedFtpServer& S) {
         DataCommand(S, Operation::Download).DataSendPattern(kPartialBytes, DataEnd::Keep).DataStall();
       },
       "ReadTimeout", ToolRuns::No},
      {"final reply stalls past the read time-out", Operation::Download,
       [](ScriptedFtpServer& S) {
         DataCommand(S, Operation::Download).DataSendPattern(kPartialBytes).Stall();
       },
       "ReadTimeout", ToolRuns::No},
  };
  return rows;
}

// ---- Front ends ------------------------------------------------------------------------------

int OpenDescriptors() {
  int count = 0;
  if (DIR* dir = ::opendir("/proc/self/fd")) {
    while (::readdir(dir) != nullptr) {
      ++count;
    }
    ::closedir(dir);
  }
  return count;
}

std::string TypeName(const std::exception& AError) {
  int status = 0;
  char* name = abi::__cxa_demangle(typeid(AError).name(), nullptr, nullptr, &status);
  std::string result = status == 0 ? name : typeid(AError).name();
  std::free(name);
  return result;
}

struct Target {
  std::string Host;
  uint16_t Port;
  std::string User;
  std::string Password;
  std::string Directory;
};

// Runs AOp in the library as the tool configures it, with short time-outs; returns the class
// name of what it raised ("" when nothing was raised).
std::string RunLibrary(const Target& ATarget, Operation AOp, const std::string& ALocal,
                       bool AEpsv, int32_t ATimeoutMs = kLibraryTimeoutMs) {
  TIdFTP ftp;
  ftp.SetHost(ATarget.Host);
  ftp.SetPort(ATarget.Port);
  ftp.SetUsername(ATarget.User);
  ftp.SetPassword(ATarget.Password);
  ftp.SetAutoLogin(true);
  ftp.SetPassive(true);
  ftp.SetPassiveUseControlHost(true);
  ftp.SetUseExtensionDataPort(AEpsv);
  ftp.SetTransferType(ftBinary);
  ftp.SetConnectTimeout(ATimeoutMs);
  ftp.SetReadTimeout(ATimeoutMs);
  ftp.SetTransferTimeout(ATimeoutMs);
  try {
    ftp.Connect();
    ftp.ChangeDir(ATarget.Directory);
    if (AOp == Operation::List) {
      ftp.List(nullptr, "", true);
    } else if (AOp == Operation::Upload) {
      ftp.Put(ALocal, "remote.bin");
    } else if (AOp == Operation::Download) {
      ftp.Get("remote.bin", ALocal, true, false);
    }
  } catch (const std::exception& error) {
    return TypeName(error);
  }
  return "";
}

std::string CliUrl(const Target& ATarget, Operation AOp) {
  const std::string path = AOp == Operation::List ? "/" : "/remote.bin";
  // "ftp://host//incoming/remote.bin" names an absolute directory; "/" is the login one.
  const std::string directory = ATarget.Directory == "/" ? "" : "/" + ATarget.Directory;
  return "ftp://" + ATarget.User + ":" + ATarget.Password + "@" + ATarget.Host + ":" +
         std::to_string(ATarget.Port) + directory + path;
}

ProgramRun RunCli(const Target& ATarget, Operation AOp, const std::string& ALocal,
                  std::vector<std::string> AOptions = {}) {
  std::vector<std::string> args = std::move(AOptions);
  args.insert(args.end(), {"--timeout", kCliTimeoutSeconds});
  switch (AOp) {
  case Operation::Upload:
    args.insert(args.end(), {"put", ALocal, CliUrl(ATarget, AOp)});
    break;
  case Operation::Download:
  case Operation::Login:
    args.insert(args.end(), {"get", CliUrl(ATarget, AOp), ALocal});
    break;
  case Operation::List:
    args.insert(args.end(), {"ls", CliUrl(ATarget, AOp)});
    break;
  }
  return RunProgram(BuildDir() + "/ftpc-cli", args, kProgramBound);
}

ProgramRun RunToolOn(const Target& ATarget, Operation AOp, const std::string& ALocal) {
  const bool upload = AOp == Operation::Upload;
  return RunProgram(BuildDir() + "/ftp",
                    {upload ? "p" : "g", upload ? ALocal : "remote.bin",
                     upload ? "remote.bin" : ALocal, ATarget.Host, ATarget.User,
                     ATarget.Password, ATarget.Directory},
                    kProgramBound);
}

const std::string kToolBanner = "FTP Console for Corvane program\nhttps://ftpconsole.invalid/\n";

// The columns every row must show, checked for one front end's run.
void ExpectLibrary(const std::string& ARaised, const char* AExpected, Clock::duration ATook,
                   int AFdsBefore) {
  EXPECT_NE(ARaised, "") << "the failure was not reported";
  EXPECT_NE(ARaised.find(AExpected), std::string::npos) << ARaised;
  EXPECT_LT(ATook, kLibraryBound);
  EXPECT_EQ(OpenDescriptors(), AFdsBefore) << "descriptor leaked";
}

void ExpectCli(const ProgramRun& ARun, const std::string& ALocal, Operation AOp) {
  EXPECT_TRUE(ARun.Exited) << "hung";
  EXPECT_EQ(ARun.ExitCode, 1) << ARun.Err;
  EXPECT_EQ(ARun.Err.rfind("ftpc-cli: ", 0), 0u) << ARun.Err;
  if (AOp != Operation::Upload) {
    EXPECT_FALSE(std::filesystem::exists(ALocal)) << "partial file left";
  }
}

void ExpectTool(const ProgramRun& ARun, const std::string& ALocal, Operation AOp) {
  EXPECT_TRUE(ARun.Exited) << "hung";
  EXPECT_EQ(ARun.ExitCode, 0);
  EXPECT_EQ(ARun.Out, kToolBanner);
  EXPECT_EQ(ARun.Err, "");
  if (AOp != Operation::Upload) {
    EXPECT_FALSE(std::filesystem::exists(ALocal)) << "partial file left";
  }
}

class FaultMatrix : public ::testing::Test {
protected:
  void SetUp() override {
    if (::geteuid() != 0) {
      GTEST_SKIP() << "the tool always connects to port 21, which needs root";
    }
    ASSERT_TRUE(WritePatternFile(FUpload, kPartialBytes * 4));
  }

  // Plays AScript on a fresh port-21 server for each front end.
  template <typename TRun>
  void WithScript(const FaultRow& ARow, TRun ARunFrontEnd) {
    ScriptedFtpServer server({.Address = "127.0.0.*", .Port = 21, .StepTimeout = Millis(5000)});
    ARow.Script(server);
    server.Start();
    ARunFrontEnd(Target{server.Address(), 21, kUser, kPassword, kDirectory});
    // Every expected command came: the run reached the fault it is about.
    for (const std::string& failure : server.Failures()) {
      EXPECT_EQ(failure.find(": got "), std::string::npos) << failure;
    }
  }

  std::string Local(const char* AFrontEnd, int ARow) const {
    return FDir.File(std::string(AFrontEnd) + "-" + std::to_string(ARow));
  }

  TempDir FDir{"ftpc-faults."};
  std::string FUpload = FDir.File("upload.bin");
};

TEST_F(FaultMatrix, EveryFrontEndFailsCleanly) {
  int index = 0;
  for (const FaultRow& row : Rows()) {
    SCOPED_TRACE(row.Fault);
    ++index;
    // Counted around the in-process server too, so that its sockets are closed again.
    const int fds = OpenDescriptors();
    Clock::duration took{};
    std::string raised;
    WithScript(row, [&](const Target& ATarget) {
      const Clock::time_point start = Clock::now();
      const std::string local = row.Op == Operation::Upload ? FUpload : Local("lib", index);
      raised = RunLibrary(ATarget, row.Op, local, row.Epsv);
      took = Clock::now() - start;
    });
    ExpectLibrary(raised, row.LibraryError, took, fds);
    if (row.Epsv) {
      continue; // ftpc-cli and the tool ask with EPSV only over IPv6
    }
    const std::string cliLocal = row.Op == Operation::Upload ? FUpload : Local("cli", index);
    WithScript(row, [&](const Target& ATarget) {
      ExpectCli(RunCli(ATarget, row.Op, cliLocal), cliLocal, row.Op);
    });
    if (row.Tool == ToolRuns::Yes) {
      const std::string toolLocal = row.Op == Operation::Upload ? FUpload : Local("tool", index);
      WithScript(row, [&](const Target& ATarget) {
        ExpectTool(RunToolOn(ATarget, row.Op, toolLocal), toolLocal, row.Op);
      });
    }
  }
}

// A 227 naming another host (127.0.0.1, where nothing listens on that port): ftpc-cli connects
// to the server it talks to unless --use-pasv-address asks it to follow the reply.
TEST_F(FaultMatrix, CliFollowsThePasvHostOnlyWhenAsked) {
  const FaultRow row{"227 names another host", Operation::Download, [](ScriptedFtpServer& S) {
                       LoggedIn(S).Expect("PASV")
                           .Reply("227 Entering Passive Mode (127,0,0,1,{p1},{p2})")
                           .Expect("RETR remote.bin").Reply("150 here it comes")
                           .DataSend("served").Reply("226 sent");
                     }, ""};
  const std::string local = Local("pasv-host", 0);
  WithScript(row, [&](const Target& ATarget) {
    EXPECT_EQ(RunCli(ATarget, row.Op, local).ExitCode, 0);
    EXPECT_EQ(ReadTextFile(local), "served");
  });
  WithScript(row, [&](const Target& ATarget) {
    ExpectCli(RunCli(ATarget, row.Op, Local("pasv-host", 1), {"--use-pasv-address"}),
              Local("pasv-host", 1), row.Op);
  });
}

// Nothing listens, or the listener's queue is full so that the connect is never answered.
TEST_F(FaultMatrix, ConnectRefusedAndConnectTimeOut) {
  std::string error;
  const std::string host = FreeLoopbackAddress(21, error);
  ASSERT_FALSE(host.empty()) << error;
  const Target refused{host, 21, kUser, kPassword, kDirectory};
  const int fds = OpenDescriptors();
  Clock::time_point start = Clock::now();
  ExpectLibrary(RunLibrary(refused, Operation::Login, "", false), "Socket", Clock::now() - start,
                fds);
  ExpectCli(RunCli(refused, Operation::Download, Local("cli", 0)), Local("cli", 0),
            Operation::Download);
  ExpectTool(RunToolOn(refused, Operation::Download, Local("tool", 0)), Local("tool", 0),
             Operation::Download);

  // A backlog of 0 holds one connection; the next SYN is dropped, so the connect hangs.
  FileDescriptor listener(::socket(AF_INET, SOCK_STREAM, 0));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof(address);
  ASSERT_EQ(::bind(listener.Get(), reinterpret_cast<sockaddr*>(&address), length), 0);
  ASSERT_EQ(::listen(listener.Get(), 0), 0);
  ASSERT_EQ(::getsockname(listener.Get(), reinterpret_cast<sockaddr*>(&address), &length), 0);
  const uint16_t port = ntohs(address.sin_port);
  FileDescriptor filler = ConnectTo("127.0.0.1", port, Millis(2000), error);
  ASSERT_TRUE(filler.Valid()) << error;
  const Target silent{"127.0.0.1", port, kUser, kPassword, kDirectory};
  const int fdsBefore = OpenDescriptors();
  start = Clock::now();
  ExpectLibrary(RunLibrary(silent, Operation::Login, "", false), "ConnectTimeout",
                Clock::now() - start, fdsBefore);
  ExpectCli(RunCli(silent, Operation::Download, Local("cli", -1)), Local("cli", -1),
            Operation::Download);
}

// A throttled vsftpd whose processes are killed once a real transfer is under way: control and
// data connections end together, in the middle of the file.
class RealServerKilled : public FaultMatrix, public ::testing::WithParamInterface<Operation> {};

TEST_P(RealServerKilled, MidTransferFailsCleanly) {
  const Operation op = GetParam();
  const bool upload = op == Operation::Upload;
  using RunFn = std::function<void(const Target&, const std::string&)>;
  const std::vector<std::pair<const char*, RunFn>> frontEnds = {
      {"library",
       [&](const Target& ATarget, const std::string& ALocal) {
         const int fds = OpenDescriptors();
         // A throttled server sends in bursts: the time-out must not end the transfer first.
         const std::string raised = RunLibrary(ATarget, op, ALocal, false, kRealServerTimeoutMs);
         EXPECT_TRUE(raised.find("ConnClosedGracefully") != std::string::npos ||
                     raised.find("Socket") != std::string::npos)
             << raised;
         EXPECT_EQ(OpenDescriptors(), fds);
       }},
      {"ftpc-cli",
       [&](const Target& ATarget, const std::string& ALocal) {
         ExpectCli(RunCli(ATarget, op, ALocal), ALocal, op);
       }},
      {"tool",
       [&](const Target& ATarget, const std::string& ALocal) {
         ExpectTool(RunToolOn(ATarget, op, ALocal), ALocal, op);
       }},
  };
  for (const auto& [name, run] : frontEnds) {
    SCOPED_TRACE(name);
    auto server = StartRealFtpServerOrSkip(
        RealServerKind::Vsftpd,
        {.Address = "127.0.0.*", .Port = 21, .Extra = {"local_max_rate=200000"}});
    if (!server) {
      return;
    }
    const std::string remote = server->RootDir() + "/remote.bin";
    if (!upload) {
      ASSERT_TRUE(WritePatternFile(remote, 4 * 1024 * 1024));
    }
    const std::string local = upload ? FUpload : FDir.File(std::string("real-") + name);
    const std::string& watched = upload ? remote : local;
    std::thread killer([&] {
      // Once bytes have arrived the transfer is under way (bounded wait).
      const Clock::time_point limit = Clock::now() + std::chrono::seconds(10);
      // ftpc-cli downloads into ".NAME.part-*" beside NAME and renames it when done.
      const auto hasBytes = [&] {
        const std::filesystem::path path(watched);
        const std::string name = path.filename().string();
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(path.parent_path(), error)) {
          const std::string file = entry.path().filename().string();
          if ((file == name || file.starts_with("." + name + ".part-")) &&
              entry.file_size(error) > 0 && !error) {
            return true;
          }
        }
        return false;
      };
      while (Clock::now() < limit && !hasBytes()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
      server->Stop();
    });
    const Clock::time_point start = Clock::now();
    run(Target{server->Address(), 21, RealFtpServer::kUser, RealFtpServer::kPassword, "/"},
        local);
    killer.join();
    EXPECT_LT(Clock::now() - start, kProgramBound);
  }
}

INSTANTIATE_TEST_SUITE_P(Transfers, RealServerKilled,
                         ::testing::Values(Operation::Upload, Operation::Download),
                         [](const auto& AInfo) {
                           return AInfo.param == Operation::Upload ? "Upload" : "Download";
                         });

} // namespace
} // namespace ftpc::test
