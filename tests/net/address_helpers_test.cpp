#include "net/AddressHelpers.h"
#include "net/SocketError.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

namespace kestrune {
namespace {

TEST(AddressHelpers, JoinedListEndsWithOneLoopbackAndNoSeparator)
{
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{}, "127.0.0.1"},
        {{"192.168.1.5", "10.0.0.7"}, "192.168.1.5, 10.0.0.7, 127.0.0.1"},
        {{"10.0.0.7", "127.0.0.1"}, "10.0.0.7, 127.0.0.1"},
        // A plain substring test: 127.0.0.10 counts as the loopback.
        {{"127.0.0.10", "10.0.0.7"}, "127.0.0.10, 10.0.0.7"},
    };
    for (const auto &[addresses, expected] : cases)
        EXPECT_EQ(JoinAddressList(addresses), expected);
    // IPv6 addresses come after, so the caption up to the second comma stays.
    EXPECT_EQ(JoinAddressList({"10.0.0.7"}, {"fd00::7", "fe80::1%eth0"}),
              "10.0.0.7, 127.0.0.1, fd00::7, fe80::1%eth0");
}

// What the user types, as the endpoint reaches it and as it is shown again.
TEST(AddressHelpers, EndpointsOfEitherFamilyReadAndShowAsTyped)
{
    const std::pair<std::string, std::string> cases[] = {
        {"127.0.0.1", "127.0.0.1:13002"},
        {"localhost", "127.0.0.1:13002"}, // a name keeps reaching IPv4 first
        {"::1", "[::1]:13002"},
        {"[::1]", "[::1]:13002"},
        {"::ffff:10.1.2.3", "10.1.2.3:13002"}, // never shown as ::ffff:
        {"FE80::0:1%lo", "[fe80::1%lo]:13002"},
        {"fe80::1%1", "[fe80::1%lo]:13002"},
        {"ff15::1234%lo", "[ff15::1234%lo]:13002"},
    };
    for (const auto &[typed, shown] : cases)
        EXPECT_EQ(EndpointText(ResolveEndpoint(typed, 13002)), shown) << typed;
    EXPECT_EQ(EndpointText(MappedToIPv6(ResolveEndpoint("10.1.2.3", 7))), "10.1.2.3:7");
    EXPECT_TRUE(ResolveEndpoint("239.1.2.3", 1).IsMulticast());
    EXPECT_TRUE(MappedToIPv6(ResolveEndpoint("239.1.2.3", 1)).IsMulticast());
    EXPECT_FALSE(ResolveEndpoint("::1", 1).IsMulticast());
    for (const char *bad : {"::1%nosuchif", "1::2::3", "[::1", "fe80::1%"}) {
        EXPECT_THROW((void)ResolveEndpoint(bad, 1), ESocketError) << bad;
    }
    EXPECT_EQ(HostPortText("::1", 5), "[::1]:5");
    EXPECT_EQ(HostPortText("[::1]", 5), "[::1]:5");
}

TEST(AddressHelpers, ResolveHostTakesNamesAndDottedAddresses)
{
    EXPECT_EQ(ResolveHost("10.1.2.3"), inet_addr("10.1.2.3"));
    EXPECT_EQ(ResolveHost("localhost"), inet_addr("127.0.0.1"));
    // Texts the resolver rejects without asking a name server.
    for (const char *bad : {"not a host", "", "300.1.1.1"}) {
        try {
            (void)ResolveHost(bad);
            ADD_FAILURE() << "resolved: '" << bad << "'";
        } catch (const ESocketError &e) {
            EXPECT_STREQ(e.what(), "Error remote address.");
        }
    }
}

} // namespace
} // namespace kestrune
