#include "exchange/OriginTags.h"

#include <gtest/gtest.h>

namespace kestrune {
namespace {

TEST(OriginTags, EachPeerKeepsItsNumberAndNumbersAreGivenAgainOnlyWhenAllAreTaken)
{
    TOriginTags tags;
    EXPECT_EQ(tags.Name(0), nullptr);
    EXPECT_EQ(tags.Name(1000), nullptr) << "relay numbers are not peers'";
    const std::uint16_t a = tags.Tag("[::1]:40000");
    const std::uint16_t b = tags.Tag("127.0.0.1:40001");
    EXPECT_EQ(a, TOriginTags::First);
    EXPECT_NE(a, b);
    EXPECT_EQ(tags.Tag("[::1]:40000"), a);
    EXPECT_EQ(*tags.Name(b), "127.0.0.1:40001");
    EXPECT_EQ(tags.LongestName(), 15u);

    for (std::size_t i = 2; i < TOriginTags::Capacity; ++i)
        (void)tags.Tag("p" + std::to_string(i));
    EXPECT_EQ(*tags.Name(0xFFFF), "p" + std::to_string(TOriginTags::Capacity - 1));
    // Full: the oldest number goes to the newcomer, and its old peer is forgotten.
    EXPECT_EQ(tags.Tag("newcomer"), a);
    EXPECT_EQ(*tags.Name(a), "newcomer");
    EXPECT_EQ(tags.Tag("[::1]:40000"), b);
    tags.Clear();
    EXPECT_EQ(tags.Name(a), nullptr);
    EXPECT_EQ(tags.LongestName(), 0u);
}

} // namespace
} // namespace kestrune
