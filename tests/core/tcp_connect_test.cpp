// The bounded IPv4 connect under every WHOIS query: dotted addresses used directly, names
// through the resolver, and each way of failing.
#include <gtest/gtest.h>

#include <unistd.h>

#include <string>
#include <vector>

#include "net/tcp_connect.h"
#include "support/tcp_server.h"

namespace tessaly {
namespace {

using namespace std::chrono_literals;
using testing::TcpScript;
using testing::TcpServer;

TEST(ResolveIpv4, DottedAddressesStandAndNamesAreLookedUp) {
    EXPECT_EQ(resolveIpv4("127.0.0.1", 2s), "127.0.0.1");
    EXPECT_EQ(resolveIpv4("10.1.2.3", 2s), "10.1.2.3");
    EXPECT_EQ(resolveIpv4("localhost", 5s), "127.0.0.1");  // from the hosts file
    EXPECT_EQ(resolveIpv4("", 2s), "");
    EXPECT_EQ(resolveIpv4(std::string("local\0host", 10), 2s), "");
}

TEST(OpenTcpConnection, DottedAddressSkipsTheResolver) {
    TcpServer server({TcpScript::neverAnswer()});
    std::vector<std::string> asked;
    const HostResolver resolver = [&](std::string_view host) {
        asked.emplace_back(host);
        return Text("127.0.0.1");
    };
    const int direct = openTcpConnection("127.0.0.1", server.port(), 5s, resolver);
    ASSERT_GE(direct, 0);
    close(direct);
    EXPECT_TRUE(asked.empty());

    const int named = openTcpConnection("whois.example.test", server.port(), 5s, resolver);
    ASSERT_GE(named, 0);
    close(named);
    EXPECT_EQ(asked, std::vector<std::string>{"whois.example.test"});
    EXPECT_TRUE(server.waitForConnections(2));
}

TEST(OpenTcpConnection, FailuresGiveNoSocket) {
    const auto refusing = TcpServer::refusing();
    const auto neverAccepting = TcpServer::neverAccepting();
    const HostResolver nothing = [](std::string_view) { return Text(); };
    const HostResolver notAnAddress = [](std::string_view) { return Text("999.1.1.1"); };
    struct Case {
        const char* what;
        std::string host;
        int port;
        HostResolver resolver;
    };
    const Case cases[] = {
        {"empty host", "", refusing->port(), {}},
        {"name that does not resolve", "whois.example.test", refusing->port(), nothing},
        {"resolver answers no address", "whois.example.test", refusing->port(), notAnAddress},
        {"refused", "127.0.0.1", refusing->port(), {}},
        {"time-out", "127.0.0.1", neverAccepting->port(), {}},
        {"port 0", "127.0.0.1", 0, {}},
        {"port beyond 65535", "127.0.0.1", 65536 + refusing->port(), {}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(openTcpConnection(c.host, c.port, 300ms, c.resolver), -1) << c.what;
    }
}

}  // namespace
}  // namespace tessaly
