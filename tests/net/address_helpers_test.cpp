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
