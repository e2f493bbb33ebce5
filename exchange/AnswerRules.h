#pragma once

#include "codec/ByteString.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrune {

// One line of a rules file: a received frame that starts with Pattern is
// answered with Reply, DelayMs after it was complete.
//
//   A:k:PATTERN:k:REPLY        A:Tn:k:PATTERN:k:REPLY
//
// k is H, M or S as in command lists. The pattern ends at the first ":" after
// it (Mixed text writes a colon as an escape); in Hex patterns "??" stands
// for any byte. Letter case never matters.
struct TAnswerRule
{
    std::int32_t DelayMs = 0;
    ByteString Pattern;
    // One flag a pattern byte: true where any byte matches.
    std::vector<bool> Wild;
    ByteString Reply;
    // Where the rule stands in its file, from 1, to name it in counts.
    std::size_t Line = 0;

    // Whether `frame` begins with the pattern.
    [[nodiscard]] bool Matches(std::string_view frame) const;

    bool operator==(const TAnswerRule &) const = default;
};

// Reads one line (without its line end). nullopt: not a rule, so a comment:
// another first letter, a broken layout, an unknown kind, a delay that is no
// number or is negative. `escChar` is the opening bracket Mixed text uses.
[[nodiscard]] std::optional<TAnswerRule> ParseAnswerRule(std::string_view line, char escChar);

// The rules of one file in their order, with a hit count each.
class TAnswerRules
{
public:
    // Reads the rules in `path`; the reason when the file cannot be read, and
    // the rules held before stay then.
    [[nodiscard]] std::optional<std::string> Load(const std::string &path, char escChar);
    // Takes rules made elsewhere (tests, a file read before).
    void Set(std::vector<TAnswerRule> rules);
    void Clear() { Set({}); }

    // The first rule whose pattern begins `frame`, counted as a hit; null
    // when none does.
    [[nodiscard]] const TAnswerRule *Answer(std::string_view frame);

    [[nodiscard]] const std::vector<TAnswerRule> &Rules() const { return FRules; }
    [[nodiscard]] const std::vector<std::uint64_t> &Hits() const { return FHits; }
    void ResetHits();

private:
    std::vector<TAnswerRule> FRules;
    std::vector<std::uint64_t> FHits;
};

} // namespace kestrune
