#pragma once

#include "common/CaseInsensitive.h"

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace kestrune {

// Names to positions without regard to case, the first position given for a
// name winning. Open addressing in one array, so millions of names cost a few
// allocations, not one each; the names themselves stay where the caller keeps
// them and are fetched through `nameOf(position)`.
class TNameTable
{
public:
    template <typename NameOf>
    [[nodiscard]] std::optional<std::size_t> Find(std::string_view name, NameOf nameOf) const
    {
        if (FSlots.empty())
            return std::nullopt;
        const auto hash = static_cast<std::uint32_t>(TTextHash{}(name));
        for (std::size_t i = hash & Mask();; i = (i + 1) & Mask()) {
            const TSlot &slot = FSlots[i];
            if (slot.Position == 0)
                return std::nullopt;
            if (slot.Hash == hash && SameText(nameOf(slot.Position - 1), name))
                return slot.Position - 1;
        }
    }

    // Adds `name` at `position` unless the name is there already.
    template <typename NameOf>
    void Insert(std::string_view name, std::size_t position, NameOf nameOf)
    {
        if (2 * (FCount + 1) > FSlots.size())
            Grow();
        const auto hash = static_cast<std::uint32_t>(TTextHash{}(name));
        std::size_t i = hash & Mask();
        for (; FSlots[i].Position != 0; i = (i + 1) & Mask()) {
            if (FSlots[i].Hash == hash && SameText(nameOf(FSlots[i].Position - 1), name))
                return;
        }
        FSlots[i] = {static_cast<std::uint32_t>(position + 1), hash};
        ++FCount;
    }

    void Reserve(std::size_t names)
    {
        while (2 * names > FSlots.size())
            Grow();
    }

private:
    struct TSlot
    {
        std::uint32_t Position = 0; // position + 1; 0 marks a free slot
        std::uint32_t Hash = 0;
    };

    [[nodiscard]] std::size_t Mask() const { return FSlots.size() - 1; }

    void Grow()
    {
        std::vector<TSlot> old(FSlots.empty() ? 16 : 2 * FSlots.size());
        old.swap(FSlots);
        for (const TSlot &slot : old) {
            if (slot.Position == 0)
                continue;
            std::size_t i = slot.Hash & Mask();
            while (FSlots[i].Position != 0)
                i = (i + 1) & Mask();
            FSlots[i] = slot;
        }
    }

    std::vector<TSlot> FSlots;
    std::size_t FCount = 0;
};

} // namespace kestrune
