#pragma once

#include "app/view/RowLayout.h"
#include "exchange/OriginTags.h"

#include <cstdint>
#include <deque>
#include <string>

namespace kestrune {

// The text a history view shows of a laid-out history, as copy and Save As
// take it: FormatData of the bytes, and with frames each frame on a line of
// its own after its prefix. Built a piece at a time, never whole.
class TShownText
{
public:
    // tags name the origins that are peers of one channel; badFrames: where
    // the frames that failed their check begin, ascending; with it each frame
    // line has a column that marks those.
    TShownText(const TRowLayout &layout, bool originColumn, const TOriginTags *tags = nullptr,
               const std::deque<std::uint64_t> *badFrames = nullptr)
        : FLayout(layout), FOriginColumn(originColumn), FTags(tags), FBadFrames(badFrames)
    {
    }

    // The line start of a frame: its time to the millisecond, its origin
    // when the origin column is on ("main", "R<n>", or a peer's address from
    // tags), and BadFrameMarker for a frame among badFrames (blanks for the
    // others). Prefixes are as long as an empty mark's, but for origins past
    // 9999; with tags the column is as wide as their longest name.
    [[nodiscard]] static std::string
    FramePrefix(const TFrameMark &mark, bool originColumn, const TOriginTags *tags = nullptr,
                const std::deque<std::uint64_t> *badFrames = nullptr);
    [[nodiscard]] std::string FramePrefix(const TFrameMark &mark) const
    {
        return FramePrefix(mark, FOriginColumn, FTags, FBadFrames);
    }
    [[nodiscard]] static bool FrameBad(const TFrameMark &mark,
                                       const std::deque<std::uint64_t> *badFrames);
    static constexpr const char *BadFrameMarker = "BAD ";

    // Appends the text of [from, to). lineOpen says out holds a line already;
    // withFirstPrefix gives a part that begins at a frame's start its prefix
    // (a selection that begins at a frame's data does not take it).
    void Append(TTextPos from, TTextPos to, std::string &out, bool &lineOpen,
                bool withFirstPrefix) const;
    // The length of what Append gives for [from, to) on an empty out,
    // counting no further than limit.
    [[nodiscard]] std::uint64_t Length(TTextPos from, TTextPos to, bool withFirstPrefix,
                                       std::uint64_t limit = UINT64_MAX) const;

private:
    // Does a frame line that starts at `at` show its prefix?
    [[nodiscard]] bool PrefixAt(std::uint64_t seq, TTextPos at, TTextPos from, bool lineOpen,
                                bool withFirstPrefix) const;

    const TRowLayout &FLayout;
    bool FOriginColumn;
    const TOriginTags *FTags;
    const std::deque<std::uint64_t> *FBadFrames;
};

} // namespace kestrune
