// Transparent-proxy settings: defaults, Enabled by SOCKS version, Assign, the chain and its
// circular-link check, and the order in which a chain is tunnelled.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "core/IdIOHandlerStack.h"
#include "core/IdCustomTransparentProxy.h"
#include "proxy/IdSocks.h"
#include "stack/IdSocketHandle.h"

namespace ftpc {
namespace {

TEST(SocksInfoTest, Defaults) {
  TIdSocksInfo socks;
  EXPECT_EQ(socks.Port(), 1080);
  EXPECT_EQ(socks.IPVersion(), Id_IPv4);
  EXPECT_EQ(socks.Version(), svNoSocks);
  EXPECT_EQ(socks.Authentication(), saNoAuthentication);
  EXPECT_FALSE(socks.Enabled());
  EXPECT_EQ(socks.ChainedProxy(), nullptr);
}

TEST(SocksInfoTest, EnabledExactlyWithASocksVersion) {
  const std::vector<std::pair<TSocksVersion, bool>> cases{
      {svNoSocks, false}, {svSocks4, true}, {svSocks4A, true}, {svSocks5, true}};
  TIdSocksInfo socks;
  for (const auto& [version, enabled] : cases) {
    socks.SetVersion(version);
    EXPECT_EQ(socks.Enabled(), enabled) << int(version);
    socks.SetEnabled(!enabled); // the setter has no effect of its own
    EXPECT_EQ(socks.Enabled(), enabled) << int(version);
  }
}

TEST(SocksInfoTest, AssignCopiesSettingsButNotTheChain) {
  TIdSocksInfo next;
  TIdSocksInfo source;
  source.SetHost("proxy.example");
  source.SetPassword("secret");
  source.SetPort(1081);
  source.SetIPVersion(Id_IPv6);
  source.SetUsername("me");
  source.SetVersion(svSocks4A);
  source.SetAuthentication(saUsernamePassword);
  source.SetChainedProxy(&next);

  TIdSocksInfo copy;
  copy.Assign(source);
  EXPECT_EQ(copy.Host(), "proxy.example");
  EXPECT_EQ(copy.Password(), "secret");
  EXPECT_EQ(copy.Port(), 1081);
  EXPECT_EQ(copy.IPVersion(), Id_IPv6);
  EXPECT_EQ(copy.Username(), "me");
  EXPECT_EQ(copy.Version(), svSocks4A);
  EXPECT_EQ(copy.Authentication(), saUsernamePassword);
  EXPECT_EQ(copy.ChainedProxy(), nullptr);
  source.SetChainedProxy(nullptr);
}

// Records the tunnels it is asked for instead of negotiating them.
class TRecordingProxy : public TIdCustomTransparentProxy {
public:
  TRecordingProxy(std::string AName, std::vector<std::string>& ALog)
      : FName(std::move(AName)), FLog(ALog) {}
  std::string ClassName() const override { return "TRecordingProxy"; }
  std::unique_ptr<TIdCustomTransparentProxy> NewInstance() const override { return nullptr; }
  bool Enabled() const override { return FEnabled; }
  void SetEnabled(bool AValue) override { FEnabled = AValue; }

protected:
  void MakeConnection(TIdIOHandler& /*AIOHandler*/, const std::string& AHost, TIdPort APort,
                      TIdIPVersion AIPVersion) override {
    FLog.push_back(FName + "->" + AHost + ":" + std::to_string(APort) +
                   (AIPVersion == Id_IPv6 ? "/6" : "/4"));
  }

private:
  std::string FName;
  std::vector<std::string>& FLog;
  bool FEnabled = true;
};

TEST(TransparentProxyChainTest, EachProxyTunnelsToTheNextThenTheLastToTheTarget) {
  std::vector<std::string> log;
  TRecordingProxy first("A", log);
  TRecordingProxy second("B", log);
  second.SetHost("b.example");
  second.SetPort(1082);
  first.SetChainedProxy(&second);
  TIdIOHandlerStack handler;
  first.Connect(handler, "target", 21, Id_IPv6);
  EXPECT_EQ(log, (std::vector<std::string>{"A->b.example:1082/4", "B->target:21/6"}));

  log.clear();
  second.SetEnabled(false); // a disabled link is skipped
  first.Connect(handler, "target", 21, Id_IPv4);
  EXPECT_EQ(log, std::vector<std::string>{"A->target:21/4"});
  first.SetChainedProxy(nullptr);
}

TEST(TransparentProxyChainTest, CircularChainsAreRefused) {
  TIdSocksInfo a;
  TIdSocksInfo b;
  TIdSocksInfo c;
  a.SetChainedProxy(&b);
  b.SetChainedProxy(&c);
  try {
    c.SetChainedProxy(&a);
    FAIL() << "circular chain accepted";
  } catch (const EIdTransparentProxyCircularLink& E) {
    EXPECT_EQ(std::string(E.what()), "TIdSocksInfo: Circular links are not allowed");
  }
  EXPECT_EQ(c.ChainedProxy(), nullptr);
  EXPECT_THROW(a.SetChainedProxy(&a), EIdTransparentProxyCircularLink);
  EXPECT_EQ(a.ChainedProxy(), &b);
  a.SetChainedProxy(nullptr);
  b.SetChainedProxy(nullptr);
}

TEST(TransparentProxyChainTest, DestroyedChainedProxyIsForgotten) {
  TIdSocksInfo a;
  {
    TIdSocksInfo b;
    a.SetChainedProxy(&b);
  }
  EXPECT_EQ(a.ChainedProxy(), nullptr);
}

TEST(TransparentProxyTest, BaseClassCannotBindOrRelayUDP) {
  std::vector<std::string> log;
  TRecordingProxy proxy("A", log);
  TIdIOHandlerStack handler;
  TIdSocketHandle handle;
  TBytes buffer;
  std::string ip;
  TIdPort port = 0;
  EXPECT_THROW(proxy.Bind(handler, "h", 1), EIdTransparentProxyCantBind);
  EXPECT_THROW(proxy.Bind(handler, 1), EIdTransparentProxyCantBind);
  EXPECT_THROW(proxy.Listen(handler, 10), EIdTransparentProxyCantBind);
  EXPECT_THROW(proxy.OpenUDP(handle), EIdTransparentProxyUDPNotSupported);
  EXPECT_THROW(proxy.CloseUDP(handle), EIdTransparentProxyUDPNotSupported);
  EXPECT_THROW(proxy.RecvFromUDP(handle, buffer, ip, port, Id_IPv4, 10),
               EIdTransparentProxyUDPNotSupported);
  EXPECT_THROW(proxy.SendToUDP(handle, "h", 1, Id_IPv4, buffer),
               EIdTransparentProxyUDPNotSupported);
  EXPECT_TRUE(log.empty());
}

} // namespace
} // namespace ftpc
