#include "app/view/RowIndex.h"

#include <algorithm>
#include <cstring>

namespace kestrune {

namespace {

// Position of the next c at or after from, or size when there is none.
// memchr keeps the scan of a multi-megabyte line at memory speed.
std::size_t FindFrom(std::string_view text, std::size_t from, char c)
{
    if (from >= text.size())
        return text.size();
    const void *hit = std::memchr(text.data() + from, c, text.size() - from);
    return hit ? static_cast<std::size_t>(static_cast<const char *>(hit) - text.data())
               : text.size();
}

} // namespace

void TRowIndex::SetText(std::string_view text)
{
    FLines.clear();
    std::size_t start = 0;
    // The next CR and LF are remembered until passed, so each byte is scanned once.
    std::size_t nextCr = FindFrom(text, 0, '\r');
    std::size_t nextLf = FindFrom(text, 0, '\n');
    while (true) {
        if (nextCr < start)
            nextCr = FindFrom(text, start, '\r');
        if (nextLf < start)
            nextLf = FindFrom(text, start, '\n');
        const std::size_t brk = std::min(nextCr, nextLf);
        if (brk >= text.size()) {
            FLines.push_back({start, text.size()});
            break;
        }
        FLines.push_back({start, brk});
        start = brk + 1;
        if (text[brk] == '\r' && start < text.size() && text[start] == '\n')
            ++start;
    }
    SetColumns(FColumns);
}

void TRowIndex::SetColumns(std::size_t columns)
{
    FColumns = std::max<std::size_t>(columns, 1);
    FFirstRow.resize(FLines.size());
    std::size_t row = 0;
    for (std::size_t i = 0; i < FLines.size(); ++i) {
        FFirstRow[i] = row;
        row += RowsOfLine(i);
    }
    FRowCount = row;
}

std::size_t TRowIndex::RowsOfLine(std::size_t line) const
{
    const std::size_t length = FLines[line].End - FLines[line].Start;
    return length == 0 ? 1 : (length + FColumns - 1) / FColumns;
}

std::size_t TRowIndex::LineOfRow(std::size_t row) const
{
    const auto it = std::upper_bound(FFirstRow.begin(), FFirstRow.end(), row);
    return static_cast<std::size_t>(it - FFirstRow.begin()) - 1;
}

TRowSpan TRowIndex::Row(std::size_t row) const
{
    row = std::min(row, FRowCount - 1);
    const std::size_t line = LineOfRow(row);
    const TRowSpan &span = FLines[line];
    const std::size_t start = span.Start + (row - FFirstRow[line]) * FColumns;
    return {start, std::min(start + FColumns, span.End)};
}

bool TRowIndex::EndsWithBreak(std::size_t row) const
{
    row = std::min(row, FRowCount - 1);
    const std::size_t line = LineOfRow(row);
    return line + 1 < FLines.size() && row == FFirstRow[line] + RowsOfLine(line) - 1;
}

std::size_t TRowIndex::RowOfOffset(std::size_t offset) const
{
    const auto it = std::upper_bound(FLines.begin(), FLines.end(), offset,
                                     [](std::size_t o, const TRowSpan &s) { return o < s.Start; });
    const std::size_t line =
        it == FLines.begin() ? 0 : static_cast<std::size_t>(it - FLines.begin()) - 1;
    const TRowSpan &span = FLines[line];
    const std::size_t column = std::min(offset, span.End) - span.Start;
    return FFirstRow[line] + std::min(column / FColumns, RowsOfLine(line) - 1);
}

} // namespace kestrune
