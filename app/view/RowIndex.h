#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

namespace kestrune {

// One display row: the character offsets [Start, End) of a piece of a line,
// never including the line break that may follow it.
struct TRowSpan
{
    std::size_t Start = 0;
    std::size_t End = 0;

    friend bool operator==(const TRowSpan &, const TRowSpan &) = default;
};

// Maps the display rows of a text wrapped at a fixed number of columns to
// character offsets. LF, CR LF and a lone CR each end a line; a line longer
// than the row width continues on the next row, cut in whole characters.
//
// Only the logical lines are stored: a history in Hex or Mixed form is one
// huge line, so re-wrapping after a resize costs O(lines), not O(characters).
class TRowIndex
{
public:
    // Scans the line breaks of text: O(n). The text itself is not kept.
    void SetText(std::string_view text);
    // Re-wraps at the given width; 0 is taken as 1.
    void SetColumns(std::size_t columns);

    [[nodiscard]] std::size_t Columns() const { return FColumns; }
    [[nodiscard]] std::size_t LineCount() const { return FLines.size(); }
    // Always at least 1: an empty text, or a text ending in a line break,
    // has an empty last row where the next character would go.
    [[nodiscard]] std::size_t RowCount() const { return FRowCount; }

    // The row's span; row must be below RowCount().
    [[nodiscard]] TRowSpan Row(std::size_t row) const;
    // The row that shows the caret placed before offset. An offset inside a
    // line break belongs to the row that ends the line; an offset at a wrap
    // point belongs to the row that starts there.
    [[nodiscard]] std::size_t RowOfOffset(std::size_t offset) const;
    // True when the row is the last piece of its line and a line break follows it.
    [[nodiscard]] bool EndsWithBreak(std::size_t row) const;

private:
    [[nodiscard]] std::size_t LineOfRow(std::size_t row) const;
    [[nodiscard]] std::size_t RowsOfLine(std::size_t line) const;

    std::vector<TRowSpan> FLines{TRowSpan{}};
    // FFirstRow[i] is the first row of line i; sorted, so row lookups are a binary search.
    std::vector<std::size_t> FFirstRow{0};
    std::size_t FColumns = 1;
    std::size_t FRowCount = 1;
};

} // namespace kestrune
