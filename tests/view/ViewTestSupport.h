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

// The rows of `stream` (every byte from where the rows are cut) wrapped, then
// clipped to the bytes from `skip` on, as text offsets of those bytes' text.
inline std::vector<TTextRow> ReferenceRows(const ByteString &stream, std::size_t skip,
                                           TDataMode mode, char escChar, std::size_t columns)
{
    const std::string text = FormatData(stream, mode, escChar);
    const std::size_t textSkip =
        text.size() - FormatData(stream.substr(skip), mode, escChar).size();
    const std::vector<TTextRow> all = ReferenceWrap(text, columns, mode == dmCharacter);
    // The first row shown is the last one that starts at or before the kept text.
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
    std::vector<TTextRow> rows;
    layout.VisitRows(0, layout.RowCount(), [&](const TRowSpan &span) {
        rows.push_back({TextOffset(layout.Bytes(), mode, esc, span.Start),
                        TextOffset(layout.Bytes(), mode, esc, span.End), span.Break});
        return true;
    });
    return rows;
}

} // namespace kestrune::testing
