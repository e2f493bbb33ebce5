// The session over socat peers of both families: a TCP server of several
// clients as the main channel and as a relay, with IPv6 relays beside it.
#include "engine/ChannelTransports.h"
#include "net/socket_support.h"
#include "session/Session.h"
#include "support/SocatPeer.h"

#include <QObject>
#include <QTimer>
#include <gtest/gtest.h>

#include <map>
#include <memory>

namespace kestrune {
namespace {

using test::TSocatPeer;
using test::WaitUntil;

TChannel Network(TCommMethod method, const std::string &host, int localPort, int remotePort)
{
    TChannel c;
    c.Method = method;
    c.IPAddr = host;
    c.LocalPort = localPort;
    c.RemotePort = remotePort;
    c.SeveralClients = method == cmTCPServer;
    return c;
}

class SessionNetworks : public ::testing::Test
{
protected:
    SessionNetworks()
        : session([this](std::function<void()> action) {
              QTimer::singleShot(0, &context, std::move(action));
          })
    {
        session.OnData = [this](bool fromRelay, std::string_view block) {
            (fromRelay ? fromRelays : bySender[session.DeliveringPeer()]).append(block);
            session.Route(fromRelay, block);
        };
        session.OnMainStateChanged = [this](TLinkState state) {
            states.push_back({state, session.MainPeerCount()});
        };
    }
    ~SessionNetworks() override
    {
        session.CloseAll();
        test::Pump(10);
    }
    void OpenMain(const TChannel &channel) { session.OpenMain(OpenChannelTransport(channel)); }
    void OpenRelay(const TChannel &channel)
    {
        session.AddRelay(true);
        session.OpenRelay(session.RelayCount() - 1, OpenChannelTransport(channel));
    }

    QObject context;
    TSession session;
    std::map<std::string, std::string> bySender;
    std::string fromRelays;
    std::vector<std::pair<TLinkState, int>> states;
};

TEST_F(SessionNetworks, MainServerOfSeveralClientsWithIPv6Relays)
{
    const int serverPort = test::VacantPort(SOCK_STREAM);
    OpenMain(Network(cmTCPServer, "", serverPort, 0));
    // A UDP relay and a TCP client relay, both to IPv6 peers.
    const int udpLocal = test::VacantPort(SOCK_DGRAM);
    const int udpPeerPort = test::VacantPort(SOCK_DGRAM);
    TSocatPeer udpPeer("UDP6:[::1]:" + std::to_string(udpLocal) +
                       ",bind=[::1]:" + std::to_string(udpPeerPort));
    const int tcpPeerPort = test::VacantPort(SOCK_STREAM);
    TSocatPeer tcpPeer("TCP6-LISTEN:" + std::to_string(tcpPeerPort) + ",bind=[::1],reuseaddr");
    ASSERT_TRUE(test::WaitBound("udp6", udpPeerPort) && test::WaitBound("tcp6", tcpPeerPort));
    OpenRelay(Network(cmUDP, "::1", udpLocal, udpPeerPort));
    OpenRelay(Network(cmTCPClient, "[::1]", 0, tcpPeerPort));

    const std::string port = std::to_string(serverPort);
    std::vector<std::unique_ptr<TSocatPeer>> clients;
    for (const char *address : {"TCP6:[::1]:", "TCP4:127.0.0.1:", "TCP6:[::1]:"}) {
        clients.push_back(std::make_unique<TSocatPeer>(address + port));
        const int want = static_cast<int>(clients.size());
        ASSERT_TRUE(WaitUntil([&] { return session.MainPeerCount() == want; }));
    }
    EXPECT_EQ(session.MainState(), TLinkState::Connected);

    // Each client's bytes reach both relays, tagged with the client.
    for (std::size_t i = 0; i < clients.size(); ++i) {
        ASSERT_TRUE(clients[i]->Send("c" + std::to_string(i)));
        const std::size_t want = 2 * (i + 1);
        ASSERT_TRUE(WaitUntil(
            [&] { return udpPeer.Output().size() == want && tcpPeer.Output().size() == want; }));
    }
    ASSERT_EQ(bySender.size(), 3u);
    EXPECT_EQ(bySender.count(""), 0u);
    // What a relay receives goes to every client.
    ASSERT_TRUE(udpPeer.Send("to all"));
    for (auto &client : clients) {
        EXPECT_TRUE(WaitUntil([&] { return client->Output() == "to all"; })) << client->Output();
    }
    ASSERT_EQ(fromRelays, "to all");

    // Leaving in any order: the count follows, Listening once none is left.
    int left = 3;
    for (std::size_t i : {2u, 0u, 1u}) {
        clients[i]->CloseInput();
        --left;
        ASSERT_TRUE(WaitUntil([&] { return session.MainPeerCount() == left; }));
    }
    ASSERT_TRUE(WaitUntil([&] { return session.MainState() == TLinkState::Listening; }));
    const std::vector<std::pair<TLinkState, int>> expected = {
        {TLinkState::Connected, 1}, {TLinkState::Connected, 2}, {TLinkState::Connected, 3},
        {TLinkState::Connected, 2}, {TLinkState::Connected, 1}, {TLinkState::Listening, 0}};
    EXPECT_EQ(states, expected);
}

TEST_F(SessionNetworks, RelayServerOfSeveralClients)
{
    const int mainLocal = test::VacantPort(SOCK_DGRAM);
    const int mainPeerPort = test::VacantPort(SOCK_DGRAM);
    TSocatPeer mainPeer("UDP4:127.0.0.1:" + std::to_string(mainLocal) +
                        ",bind=127.0.0.1:" + std::to_string(mainPeerPort));
    ASSERT_TRUE(test::WaitBound("udp", mainPeerPort));
    OpenMain(Network(cmUDP, "127.0.0.1", mainLocal, mainPeerPort));
    const int relayPort = test::VacantPort(SOCK_STREAM);
    OpenRelay(Network(cmTCPServer, "", relayPort, 0));
    TSocatPeer one("TCP6:[::1]:" + std::to_string(relayPort));
    TSocatPeer two("TCP6:[::1]:" + std::to_string(relayPort));
    ASSERT_TRUE(one.Send("first"));
    ASSERT_TRUE(WaitUntil([&] { return mainPeer.Output() == "first"; }));
    ASSERT_TRUE(two.Send("second"));
    ASSERT_TRUE(WaitUntil([&] { return mainPeer.Output() == "firstsecond"; })) << mainPeer.Output();
    ASSERT_TRUE(mainPeer.Send("datagram"));
    EXPECT_TRUE(WaitUntil([&] { return one.Output() == "datagram" && two.Output() == "datagram"; }))
        << one.Output() << "|" << two.Output();
    // A relay's clients leave the main channel's state as it is.
    EXPECT_EQ(session.MainState(), TLinkState::Open);
}

} // namespace
} // namespace kestrune
