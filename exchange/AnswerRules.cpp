#include "exchange/AnswerRules.h"

#include "codec/Parse.h"
#include "common/CaseInsensitive.h"
#include "common/IntText.h"
#include "exchange/CommandFile.h"

namespace kestrune {

namespace {

// Hex text in which each "??" is a byte that matches anything.
void ParseHexPattern(std::string_view text, TAnswerRule &rule)
{
    for (;;) {
        const std::size_t wild = text.find("??");
        const ByteString bytes = ParseData(std::string(text.substr(0, wild)), dmHex, '{');
        rule.Pattern += bytes;
        rule.Wild.insert(rule.Wild.end(), bytes.size(), false);
        if (wild == std::string_view::npos)
            return;
        rule.Pattern.push_back('\0');
        rule.Wild.push_back(true);
        text.remove_prefix(wild + 2);
    }
}

std::optional<ByteString> DataOf(char kind, std::string_view text, char escChar)
{
    switch (UpperAscii(kind)) {
    case 'H':
        return ParseData(std::string(text), dmHex, '{');
    case 'M':
        return ParseData(std::string(text), dmMixed, escChar);
    case 'S':
        return ByteString(text);
    default:
        return std::nullopt;
    }
}

} // namespace

bool TAnswerRule::Matches(std::string_view frame) const
{
    if (frame.size() < Pattern.size())
        return false;
    for (std::size_t i = 0; i < Pattern.size(); ++i)
        if (!Wild[i] && frame[i] != Pattern[i])
            return false;
    return true;
}

std::optional<TAnswerRule> ParseAnswerRule(std::string_view line, char escChar)
{
    if (line.size() < 2 || UpperAscii(line[0]) != 'A' || line[1] != ':')
        return std::nullopt;
    TAnswerRule rule;
    std::size_t kindAt = 2;
    // As in reply lines, a T here always starts a delay, closed by the next ":".
    if (line.size() > 2 && UpperAscii(line[2]) == 'T') {
        const std::size_t close = line.find(':', 3);
        if (close == std::string_view::npos)
            return std::nullopt;
        if (close > 3) {
            const auto n = TryStrToInt(line.substr(3, close - 3));
            if (!n || *n < 0)
                return std::nullopt;
            rule.DelayMs = *n;
        }
        kindAt = close + 1;
    }
    // k ":" PATTERN ":" k ":" REPLY
    if (line.size() < kindAt + 2 || line[kindAt + 1] != ':')
        return std::nullopt;
    const std::size_t patternAt = kindAt + 2;
    const std::size_t patternEnd = line.find(':', patternAt);
    if (patternEnd == std::string_view::npos || line.size() < patternEnd + 3 ||
        line[patternEnd + 2] != ':')
        return std::nullopt;
    const char patternKind = line[kindAt];
    const std::string_view pattern = line.substr(patternAt, patternEnd - patternAt);
    const auto reply = DataOf(line[patternEnd + 1], line.substr(patternEnd + 3), escChar);
    if (!reply)
        return std::nullopt;
    rule.Reply = *reply;
    if (UpperAscii(patternKind) == 'H') {
        ParseHexPattern(pattern, rule);
    } else {
        const auto bytes = DataOf(patternKind, pattern, escChar);
        if (!bytes)
            return std::nullopt;
        rule.Pattern = *bytes;
        rule.Wild.assign(bytes->size(), false);
    }
    return rule;
}

std::optional<std::string> TAnswerRules::Load(const std::string &path, char escChar)
{
    TCommandFileReader file;
    if (auto error = file.Open(path))
        return error;
    std::vector<TAnswerRule> rules;
    try {
        while (const auto line = file.NextLine()) {
            if (auto rule = ParseAnswerRule(*line, escChar)) {
                rule->Line = file.LineNumber();
                rules.push_back(std::move(*rule));
            }
        }
    } catch (const ECommandFileError &e) {
        return std::string(e.what());
    }
    Set(std::move(rules));
    return std::nullopt;
}

void TAnswerRules::Set(std::vector<TAnswerRule> rules)
{
    FRules = std::move(rules);
    FHits.assign(FRules.size(), 0);
}

const TAnswerRule *TAnswerRules::Answer(std::string_view frame)
{
    for (std::size_t i = 0; i < FRules.size(); ++i) {
        if (FRules[i].Matches(frame)) {
            ++FHits[i];
            return &FRules[i];
        }
    }
    return nullptr;
}

void TAnswerRules::ResetHits()
{
    FHits.assign(FRules.size(), 0);
}

} // namespace kestrune
