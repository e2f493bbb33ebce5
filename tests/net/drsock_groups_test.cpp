#include "net/DRSock.h"

#include "socket_support.h"
#include "support/SocatPeer.h"

#include <QDeadlineTimer>
#include <cstdlib>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/wait.h>

namespace kestrune {
namespace {

using test::WaitUntil;

constexpr const char *kInOwnNetwork = "KESTRUNE_TEST_OWN_NETWORK";

// Runs one test of this program again in a child inside a network namespace
// of its own, so routes and a link pair can be made without touching the
// host. Skips when namespaces are not allowed (not root).
void RunInOwnNetwork(const std::string &testName)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::unshare(CLONE_NEWNET) != 0)
            ::_exit(77);
        ::setenv(kInOwnNetwork, "1", 1);
        const std::string filter = "--gtest_filter=" + testName;
        ::execl("/proc/self/exe", "test_net", filter.c_str(), static_cast<char *>(nullptr));
        ::_exit(127);
    }
    ASSERT_GT(pid, 0);
    int status = 0;
    QDeadlineTimer deadline(60'000);
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (deadline.hasExpired()) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            FAIL() << "the test in its own network did not end within a minute";
        }
        ::usleep(20'000);
    }
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 77)
        GTEST_SKIP() << "no network namespace for this user";
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the test failed in its own network (see above)";
}

// A link pair with an IPv4 subnet and an IPv6 address, multicast routed
// over it, and a default route for the limited broadcast.
bool MakeNetwork()
{
    for (const char *command :
         {"ip link set lo up", "ip link add kn0 type veth peer name kn1", "ip link set kn1 up",
          "ip link set kn0 up", "ip addr add 10.9.8.1/24 brd 10.9.8.255 dev kn0",
          "ip -6 addr add fd00:9::1/64 dev kn0 nodad", "ip route add 224.0.0.0/4 dev kn0",
          "ip route add default dev kn0", "ip -6 route add ff00::/8 dev kn0"}) {
        if (std::system(command) != 0)
            return false;
    }
    return true;
}

struct GroupCase
{
    const char *name;
    const char *destination;
};

class DRSockGroups : public ::testing::TestWithParam<GroupCase>
{
};

// Two endpoints on one host, each sending to the other's port at a
// broadcast or multicast destination: what one sends, the other receives.
TEST_P(DRSockGroups, BothEndsReachEachOther)
{
    if (!std::getenv(kInOwnNetwork)) {
        RunInOwnNetwork(std::string("*DRSockGroups.BothEndsReachEachOther/") + GetParam().name);
        return;
    }
    ASSERT_TRUE(MakeNetwork());
    const int portA = test::VacantPort(SOCK_DGRAM);
    const int portB = test::VacantPort(SOCK_DGRAM);
    TDRSock a;
    TDRSock b;
    test::EventLog logA;
    test::EventLog logB;
    logA.Wire(a);
    logB.Wire(b);
    a.RemoteHost = b.RemoteHost = GetParam().destination;
    a.LocalPort = b.RemotePort = portA;
    b.LocalPort = a.RemotePort = portB;
    a.MulticastTtl = 4;
    a.StartUDP();
    b.StartUDP();

    // An address may take a moment to be usable after its link comes up.
    ASSERT_TRUE(WaitUntil([&] {
        (void)a.SendData("from a");
        test::Pump(50);
        return !logB.data.empty();
    }));
    EXPECT_EQ(logB.blocks.front(), "from a");
    ASSERT_GE(b.SendData("from b"), 0);
    EXPECT_TRUE(WaitUntil([&] { return logA.data == "from b"; })) << logA.data;
}

INSTANTIATE_TEST_SUITE_P(Destinations, DRSockGroups,
                         ::testing::Values(GroupCase{"LimitedBroadcast", "255.255.255.255"},
                                           GroupCase{"SubnetBroadcast", "10.9.8.255"},
                                           GroupCase{"IPv4Group", "239.1.2.3"},
                                           GroupCase{"IPv6Group", "ff15::1234%kn0"}),
                         [](const auto &p) { return std::string(p.param.name); });

// Without loopback, a group member on this host does not get what is sent.
TEST(DRSockGroupLoop, OffKeepsOwnHostOut)
{
    if (!std::getenv(kInOwnNetwork)) {
        RunInOwnNetwork("DRSockGroupLoop.OffKeepsOwnHostOut");
        return;
    }
    ASSERT_TRUE(MakeNetwork());
    const int port = test::VacantPort(SOCK_DGRAM);
    TDRSock quiet;
    TDRSock member;
    test::EventLog log;
    log.Wire(member);
    quiet.RemoteHost = member.RemoteHost = "239.1.2.4";
    quiet.MulticastLoop = false;
    quiet.RemotePort = member.LocalPort = member.RemotePort = port;
    quiet.StartUDP();
    member.StartUDP();
    test::Pump(300);
    for (int i = 0; i < 5; ++i) {
        ASSERT_GE(quiet.SendData("unheard"), 0);
        test::Pump(40);
    }
    EXPECT_EQ(log.data, "");
    ASSERT_GE(member.SendData("heard"), 0); // its own loopback is on
    EXPECT_TRUE(WaitUntil([&] { return log.data == "heard"; })) << log.data;
}

} // namespace
} // namespace kestrune
