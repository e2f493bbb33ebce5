#include "exchange/OriginTags.h"

#include <algorithm>

namespace kestrune {

std::uint16_t TOriginTags::Tag(const std::string &peer)
{
    if (const auto it = FByName.find(peer); it != FByName.end())
        return it->second;
    std::size_t slot = FNames.size();
    if (slot < Capacity) {
        FNames.push_back(peer);
    } else {
        slot = FNext;
        FNext = (FNext + 1) % Capacity;
        FByName.erase(FNames[slot]);
        FNames[slot] = peer;
    }
    const auto tag = static_cast<std::uint16_t>(First + slot);
    FByName.emplace(peer, tag);
    FLongest = std::max(FLongest, peer.size());
    return tag;
}

const std::string *TOriginTags::Name(std::uint16_t origin) const
{
    if (origin < First || static_cast<std::size_t>(origin - First) >= FNames.size())
        return nullptr;
    return &FNames[origin - First];
}

void TOriginTags::Clear()
{
    FNames.clear();
    FByName.clear();
    FNext = 0;
    FLongest = 0;
}

} // namespace kestrune
