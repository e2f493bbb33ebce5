#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace kestrune {

// Who sent a received frame when one channel has several peers (a TCP server
// of several clients): each peer's address gets an origin number of its own,
// above those of the main channel and the relays, so the frame marks carry
// it and the origin column shows the address. When every number is taken the
// oldest is given again; frames that old have long left any history.
class TOriginTags
{
public:
    static constexpr std::uint16_t First = 0x8000;
    static constexpr std::size_t Capacity = 0x10000 - First;

    // The peer's number, a new one for a peer not seen yet.
    [[nodiscard]] std::uint16_t Tag(const std::string &peer);
    // The peer of a number, or null when the number is not a peer's.
    [[nodiscard]] const std::string *Name(std::uint16_t origin) const;
    // The longest name ever given, so a column fits every one.
    [[nodiscard]] std::size_t LongestName() const { return FLongest; }
    [[nodiscard]] bool Empty() const { return FNames.empty(); }
    void Clear();

private:
    std::vector<std::string> FNames; // by number less First
    std::unordered_map<std::string, std::uint16_t> FByName;
    std::size_t FNext = 0; // the next to give again once all are taken
    std::size_t FLongest = 0;
};

} // namespace kestrune
