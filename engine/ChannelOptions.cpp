#include "engine/ChannelOptions.h"

#include "common/IntText.h"

namespace kestrune {

namespace {

constexpr const char *kSeveral = "several";
constexpr const char *kReply = "reply-to-sender";
constexpr const char *kTtl = "ttl=";
constexpr const char *kNoLoop = "no-loop";

void AddWord(std::string &text, const std::string &word)
{
    text += (text.empty() ? "" : ",") + word;
}

} // namespace

std::string NetworkOptionWords(const TChannel &c)
{
    std::string words;
    if (c.Method == cmTCPServer && c.SeveralClients)
        AddWord(words, kSeveral);
    if (c.Method == cmUDP) {
        if (c.ReplyToSender)
            AddWord(words, kReply);
        if (c.MulticastTtl != TChannel{}.MulticastTtl)
            AddWord(words, kTtl + std::to_string(c.MulticastTtl));
        if (!c.MulticastLoop)
            AddWord(words, kNoLoop);
    }
    return words;
}

std::optional<std::string> ApplyNetworkOptionWords(TChannel &c,
                                                   const std::vector<std::string> &words)
{
    for (const std::string &word : words) {
        if (c.Method == cmTCPServer && word == kSeveral) {
            c.SeveralClients = true;
            continue;
        }
        if (c.Method == cmUDP) {
            if (word == kReply) {
                c.ReplyToSender = true;
                continue;
            }
            if (word == kNoLoop) {
                c.MulticastLoop = false;
                continue;
            }
            if (word.rfind(kTtl, 0) == 0) {
                const auto ttl = TryStrToInt(std::string_view(word).substr(4));
                if (ttl && *ttl >= 0 && *ttl <= 255) {
                    c.MulticastTtl = *ttl;
                    continue;
                }
            }
        }
        const char *allowed = c.Method == cmTCPServer ? "several"
                              : c.Method == cmUDP     ? "reply-to-sender, ttl=0..255 or no-loop"
                                                      : "none";
        return "\"" + word + "\" is not an option here (options: " + allowed + ")";
    }
    return std::nullopt;
}

} // namespace kestrune
