#include "exchange/AnswerRules.h"
#include "tests/codec/ByteHelpers.h"
#include "tests/exchange/file_fixture.h"

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace kestrune {

void PrintTo(const TAnswerRule &r, std::ostream *os)
{
    *os << "{delay " << r.DelayMs << ", pattern " << ::testing::PrintToString(r.Pattern)
        << ", wild " << ::testing::PrintToString(r.Wild) << ", reply "
        << ::testing::PrintToString(r.Reply) << "}";
}

namespace {

using test::Bytes;

// A rule without wildcards.
TAnswerRule Rule(std::int32_t delay, ByteString pattern, ByteString reply)
{
    const std::size_t n = pattern.size();
    return {delay, std::move(pattern), std::vector<bool>(n, false), std::move(reply), 0};
}

TEST(AnswerRuleLine, Table)
{
    const struct
    {
        std::string line;
        std::optional<TAnswerRule> expected;
    } cases[] = {
        {"A:H:01 03:H:01 03 02 00 2A", Rule(0, Bytes({1, 3}), Bytes({1, 3, 2, 0, 0x2A}))},
        {"a:s:PING:m:PONG{0D}", Rule(0, "PING", "PONG\r")},
        {"A:T250:S:hi:S:there", Rule(250, "hi", "there")},
        {"A:t$10:H:41:H:42", Rule(16, "A", "B")},
        {"A:T:S:x:S:y", Rule(0, "x", "y")},
        // The pattern ends at the first colon; a colon in Mixed text is an escape.
        {"A:M:a{3A}b:S:c:d", Rule(0, "a:b", "c:d")},
        {"A:S:a:b:S:c", std::nullopt}, // "b" is no kind
        // An empty pattern begins every frame; an empty reply answers silence.
        {"A:H::S:any", Rule(0, "", "any")},
        {"A:S:q:S:", Rule(0, "q", "")},
        {"A:H:01 ?? 03:S:w", TAnswerRule{0, Bytes({1, 0, 3}), {false, true, false}, "w", 0}},
        {"A:H:????:S:w", TAnswerRule{0, Bytes({0, 0}), {true, true}, "w", 0}},
        // Comments and lines that are not rules.
        {"", std::nullopt},
        {"; A:S:x:S:y", std::nullopt},
        {" A:S:x:S:y", std::nullopt},
        {"S:S:x", std::nullopt},
        {"A", std::nullopt},
        {"A:S:x", std::nullopt},
        {"A:S:x:S", std::nullopt},
        {"A-S:x:S:y", std::nullopt},
        {"A:X:x:S:y", std::nullopt},
        {"A:S:x:Q:y", std::nullopt},
        {"A:T12", std::nullopt},
        {"A:T1x:S:x:S:y", std::nullopt},
        {"A:T-5:S:x:S:y", std::nullopt},
    };
    for (const auto &c : cases)
        EXPECT_EQ(ParseAnswerRule(c.line, '{'), c.expected) << c.line;
}

TEST(AnswerRuleLine, MatchesFromTheFirstByteWithWildcards)
{
    const auto rule = ParseAnswerRule("A:H:01 03 ?? 00:S:r", '{');
    ASSERT_TRUE(rule);
    const struct
    {
        ByteString frame;
        bool matches;
    } cases[] = {
        {Bytes({1, 3, 0, 0}), true},     {Bytes({1, 3, 0xFF, 0, 0x84, 0x0A}), true},
        {Bytes({1, 3, 0xFF}), false}, // shorter than the pattern
        {Bytes({0, 1, 3, 0, 0}), false}, {Bytes({1, 4, 0, 0}), false},
    };
    for (const auto &c : cases)
        EXPECT_EQ(rule->Matches(c.frame), c.matches) << ::testing::PrintToString(c.frame);
}

class AnswerRulesFile : public TempDirTest
{
};

// The first rule that matches answers and is counted; lines that are not
// rules are skipped but keep the numbering.
TEST_F(AnswerRulesFile, FirstMatchAnswersAndCountsHits)
{
    const std::string path = Write("rules.txt", "# device stand-in\r\n"
                                                "A:S:AB:S:first\r\n"
                                                "\n"
                                                "A:S:A:S:second\n"
                                                "A:H::S:any");
    TAnswerRules rules;
    ASSERT_EQ(rules.Load(path, '{'), std::nullopt);
    ASSERT_EQ(rules.Rules().size(), 3u);
    EXPECT_EQ(rules.Rules()[0].Line, 2u);
    EXPECT_EQ(rules.Rules()[1].Line, 4u);

    const auto replyTo = [&](std::string_view frame) {
        const TAnswerRule *rule = rules.Answer(frame);
        return rule ? rule->Reply : ByteString("(none)");
    };
    EXPECT_EQ(replyTo("ABC"), "first");
    EXPECT_EQ(replyTo("AX"), "second");
    EXPECT_EQ(replyTo("AB"), "first");
    EXPECT_EQ(replyTo("Z"), "any");
    EXPECT_EQ(rules.Hits(), (std::vector<std::uint64_t>{2, 1, 1}));

    // A file that cannot be read leaves the rules as they were.
    EXPECT_TRUE(rules.Load(PathOf("missing.txt"), '{').has_value());
    EXPECT_EQ(rules.Rules().size(), 3u);
}

} // namespace
} // namespace kestrune
