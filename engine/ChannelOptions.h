#pragma once

#include "engine/Channel.h"

#include <optional>
#include <string>
#include <vector>

namespace kestrune {

// The network options of a channel as words, for its description and for a
// command line: "several" (a TCP server's SeveralClients), "reply-to-sender",
// "ttl=N" and "no-loop" (UDP). Only options that differ from their default
// appear, joined by commas, in that order; "" when there are none.
[[nodiscard]] std::string NetworkOptionWords(const TChannel &channel);

// Applies option words (as NetworkOptionWords gives them, one per element) to
// a network channel. Returns the message naming the first word that is not
// an option of the channel's method, or nothing when all applied; the
// channel may be changed by the words before it.
[[nodiscard]] std::optional<std::string>
ApplyNetworkOptionWords(TChannel &channel, const std::vector<std::string> &words);

} // namespace kestrune
