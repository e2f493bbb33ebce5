#include "net/AddressHelpers.h"
#include "net/SocketError.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

namespace kestrune {
namespace {

struct JoinCase
{
    std::vector<std::string> addresses;
    std::string expected;
};

void PrintTo(const JoinCase &c, std::ostream *os)
{
    *os << c.expected;
}

class JoinAddressListTest : public ::testing::TestWithParam<JoinCase>
{
};

TEST_P(JoinAddressListTest, EndsWithOneLoopbackAndNoSeparator)
{
    EXPECT_EQ(JoinAddressList(GetParam().addresses), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Lists, JoinAddressListTest,
    ::testing::Values(JoinCase{{}, "127.0.0.1"},
                      JoinCase{{"192.168.1.5"}, "192.168.1.5, 127.0.0.1"},
                      JoinCase{{"192.168.1.5", "10.0.0.7"}, "192.168.1.5, 10.0.0.7, 127.0.0.1"},
                      JoinCase{{"10.0.0.7", "127.0.0.1"}, "10.0.0.7, 127.0.0.1"},
                      // A plain substring test: 127.0.0.10 counts as the loopback.
                      JoinCase{{"127.0.0.10", "10.0.0.7"}, "127.0.0.10, 10.0.0.7"}));

TEST(AddressHelpers, DottedAddressIsInNetworkOrderWithoutLeadingZeros)
{
    EXPECT_EQ(DottedAddress(inet_addr("10.0.200.7")), "10.0.200.7");
    EXPECT_EQ(DottedAddress(inet_addr("255.255.255.255")), "255.255.255.255");
}

TEST(AddressHelpers, LocalAddressListIsDottedAddressesEndingInOneLoopback)
{
    const std::string list = LocalAddressList();
    ASSERT_GE(list.size(), 9u);
    EXPECT_EQ(list.compare(list.size() - 9, 9, "127.0.0.1"), 0) << list;
    EXPECT_EQ(list.find("127.0.0.1"), list.size() - 9) << "loopback listed twice: " << list;
    size_t start = 0;
    for (size_t end; start <= list.size(); start = end + 2) {
        end = list.find(", ", start);
        if (end == std::string::npos)
            end = list.size();
        const std::string item = list.substr(start, end - start);
        EXPECT_NE(inet_addr(item.c_str()), INADDR_NONE) << "not a dotted address: " << item;
    }
}

TEST(AddressHelpers, ResolveHostTakesNamesAndDottedAddresses)
{
    EXPECT_EQ(ResolveHost("127.0.0.1"), inet_addr("127.0.0.1"));
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
