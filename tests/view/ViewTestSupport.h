#pragma once

#include "app/view/HistoryView.h"
#include "app/view/RowLayout.h"
#include "codec/Format.h"

#include <QFontDatabase>
#include <QTest>
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kestrune::testing {

// A history view as the tests look at it: the fixed font, a fixed size, shown.
inline std::unique_ptr<THistoryView> ShownView()
{
    auto view = std::make_unique<THistoryView>();
    view->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    view->resize(420, 220);
    view->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(view.get()));
    return view;
}

// A row as text offsets into FormatData of the shown bytes.
struct TTextRow
{
    std::uint64_t Start = 0;
    std::uint64_t End = 0;
    bool Break = false;

    friend bool operator==(const TTextRow &, const TTextRow &) = default;
};

inline std::ostream &operator<<(std::ostream &out, const TTextRow &row)
{
    return out << "[" << row.Start << "," << row.End << (row.Break ? ")+br" : ")");
}

// The wrap a text editor makes, written plainly over the text: each line is cut
// after the last blank among its next columns + 1 characters, or after columns
// characters when there is none.
inline std::vector<TTextRow> ReferenceWrap(const std::string &text, std::size_t columns, bool lines)
{
    std::vector<TTextRow> rows;
    std::size_t lineStart = 0;
    while (true) {
        std::size_t lineEnd = text.size();
        if (lines)
            lineEnd = std::min(text.find('\r', lineStart), text.find('\n', lineStart));
        lineEnd = std::min(lineEnd, text.size());
        std::size_t s = lineStart;
        while (lineEnd - s > columns) {
            const std::size_t blank = text.rfind(' ', s + columns);
            const std::size_t end =
                blank != std::string::npos && blank >= s ? blank + 1 : s + columns;
            rows.push_back({s, end, false});
            s = end;
        }
        if (lineEnd == text.size()) {
            rows.push_back({s, lineEnd, false});
            return rows;
        }
        rows.push_back({s, lineEnd, true});
        lineStart = lineEnd + 1;
        if (text[lineEnd] == '\r' && lineStart < text.size() && text[lineStart] == '\n')
            ++lineStart;
    }
}

// How a run of bytes given to ReferenceRunRows ends: at the end of the
// history, where a lazily laid out head meets the rest, or at a frame.
enum class TRunEnd
{
    History,
    Seam,
    Frame
};

// The rows of `stream` (every byte from where the rows are cut) as text
// offsets of its text, each of `frames` (offsets into stream, ascending)
// starting a row. A run that goes on past its end (at the seam or a frame)
// keeps its last byte's Hex blank and has no empty row of its own after a
// whole row; a frame ends the row before it with a break.
inline std::vector<TTextRow> ReferenceRunRows(const ByteString &stream,
                                              const std::vector<std::size_t> &frames, TRunEnd end,
                                              TDataMode mode, char escChar, std::size_t columns)
{
    std::vector<std::size_t> starts{0};
    for (const std::size_t f : frames)
        if (f > starts.back() && f < stream.size())
            starts.push_back(f);
    starts.push_back(stream.size());
    std::vector<TTextRow> rows;
    std::uint64_t offset = 0;
    for (std::size_t i = 0; i + 1 < starts.size(); ++i) {
        const TRunEnd runEnd = i + 2 == starts.size() ? end : TRunEnd::Frame;
        std::string text =
            FormatData(stream.substr(starts[i], starts[i + 1] - starts[i]), mode, escChar);
        if (mode == dmHex && runEnd != TRunEnd::History && !text.empty())
            text += ' ';
        std::vector<TTextRow> part = ReferenceWrap(text, columns, mode == dmCharacter);
        if (runEnd != TRunEnd::History) {
            if (part.size() > 1 && part.back().Start == part.back().End && !part.back().Break)
                part.pop_back();
            else if (runEnd == TRunEnd::Frame)
                part.back().Break = true;
        }
        for (const TTextRow &row : part)
            rows.push_back({row.Start + offset, row.End + offset, row.Break});
        offset += text.size();
    }
    return rows;
}

// The rows shown of the text from `textSkip` on: the first is the last row
// that starts at or before it, clipped there.
inline std::vector<TTextRow> ClipRows(const std::vector<TTextRow> &all, std::uint64_t textSkip)
{
    std::size_t first = 0;
    for (std::size_t i = 0; i < all.size(); ++i)
        if (all[i].Start <= textSkip)
            first = i;
    std::vector<TTextRow> rows;
    for (std::size_t i = first; i < all.size(); ++i)
        rows.push_back({std::max<std::uint64_t>(all[i].Start, textSkip) - textSkip,
                        std::max<std::uint64_t>(all[i].End, textSkip) - textSkip, all[i].Break});
    return rows;
}

// The rows of `stream` (every byte from where the rows are cut) wrapped, then
// clipped to the bytes from `skip` on, as text offsets of those bytes' text.
inline std::vector<TTextRow> ReferenceRows(const ByteString &stream, std::size_t skip,
                                           TDataMode mode, char escChar, std::size_t columns)
{
    const std::string text = FormatData(stream, mode, escChar);
    const std::size_t textSkip =
        text.size() - FormatData(stream.substr(skip), mode, escChar).size();
    return ClipRows(ReferenceWrap(text, columns, mode == dmCharacter), textSkip);
}

// The text offset of a position, counted with FormatData byte by byte.
inline std::uint64_t TextOffset(const THistoryBytes &bytes, TDataMode mode, char escChar,
                                TTextPos pos)
{
    std::uint64_t offset = 0;
    for (std::uint64_t b = bytes.Begin(); b < ByteOfPos(pos); ++b)
        offset += FormatData(ByteString(1, static_cast<char>(bytes.At(b))), mode, escChar).size() +
                  (mode == dmHex ? 1 : 0);
    return offset + pos % 4;
}

inline std::vector<TTextRow> LayoutRows(const TRowLayout &layout)
{
    const TDataMode mode = layout.Cells().Mode();
    const char esc = layout.Cells().EscChar();
    const THistoryBytes &bytes = layout.Bytes();
    // The text offset of every byte, counted once.
    std::vector<std::uint64_t> offsets{0};
    for (std::uint64_t b = bytes.Begin(); b < bytes.End(); ++b)
        offsets.push_back(
            offsets.back() +
            FormatData(ByteString(1, static_cast<char>(bytes.At(b))), mode, esc).size() +
            (mode == dmHex ? 1 : 0));
    const auto offset = [&](TTextPos pos) {
        return offsets[ByteOfPos(pos) - bytes.Begin()] + pos % 4;
    };
    std::vector<TTextRow> rows;
    layout.VisitRows(0, layout.RowCount(), [&](const TRowSpan &span) {
        rows.push_back({offset(span.Start), offset(span.End), span.Break});
        return true;
    });
    return rows;
}

} // namespace kestrune::testing
