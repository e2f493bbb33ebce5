// A history's frames exported as CSV rows and read back by an RFC 4180 reader.
#include "exchange/FrameCsv.h"

#include "codec/Parse.h"
#include "exchange/CommLog.h"
#include "file_fixture.h"

namespace kestrune {
namespace {

// Splits RFC 4180 text into records of fields.
std::vector<std::vector<std::string>> ReadCsv(const std::string &text)
{
    std::vector<std::vector<std::string>> rows(1, std::vector<std::string>(1));
    for (std::size_t i = 0; i < text.size(); ++i) {
        std::string &field = rows.back().back();
        const char c = text[i];
        if (c == '"' && field.empty()) {
            for (++i; i < text.size(); ++i) {
                if (text[i] == '"' && (i + 1 == text.size() || text[i + 1] != '"'))
                    break;
                if (text[i] == '"')
                    ++i;
                field += text[i];
            }
        } else if (c == ',') {
            rows.back().emplace_back();
        } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            ++i;
            rows.emplace_back(1);
        } else {
            field += c;
        }
    }
    rows.pop_back(); // after the last line end
    return rows;
}

class FrameCsvTest : public TempDirTest
{
};

// Every frame comes back from its row: bytes from the hex field, and a text
// field that survives commas, quotes and line ends; a frame the history's
// front cut keeps its remaining bytes.
TEST_F(FrameCsvTest, RowsRoundTripTheFrames)
{
    const std::vector<std::pair<std::string, std::uint16_t>> frames = {
        {"cut away, partly", 0},
        {"say \"hi\",\r\nbye", 0},
        {std::string("\x00\x01\xff\x7f", 4), 2},
        {",", 1},
        {"plain", 0},
    };
    TBoundedHistory history;
    TFrameIndex index;
    const std::int64_t t0 = 1'780'000'000'123;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        index.Add({history.End(), t0 + static_cast<std::int64_t>(i) * 1001, frames[i].second});
        history.Append(frames[i].first, 36);
    }
    ASSERT_GT(history.Begin(), 0u);
    ASSERT_LT(history.Begin(), frames[0].first.size()) << "the first frame is cut, not gone";

    ASSERT_EQ(WriteFramesCsv(PathOf("f.csv"), history, index, false), 0);
    const auto rows = ReadCsv(ReadAll(PathOf("f.csv")));
    ASSERT_EQ(rows.size(), frames.size() + 1);
    EXPECT_EQ(rows[0],
              (std::vector<std::string>{"time", "channel", "direction", "length", "hex", "text"}));
    for (std::size_t i = 0; i < frames.size(); ++i) {
        SCOPED_TRACE(i);
        const std::vector<std::string> &row = rows[i + 1];
        ASSERT_EQ(row.size(), 6u);
        const std::string bytes =
            i == 0 ? frames[0].first.substr(history.Begin()) : frames[i].first;
        EXPECT_EQ(row[0], LogTimeStamp(LocalTimeAt(t0 + static_cast<std::int64_t>(i) * 1001)));
        EXPECT_EQ(row[1], frames[i].second == 0 ? "main" : "R" + std::to_string(frames[i].second));
        EXPECT_EQ(row[2], "received");
        EXPECT_EQ(row[3], std::to_string(bytes.size()));
        EXPECT_EQ(ParseData(row[4], dmHex, '{'), bytes);
        std::string printable = bytes;
        for (char &c : printable)
            c = c < 0x20 || c > 0x7E ? '.' : c;
        EXPECT_EQ(row[5], printable);
    }
    EXPECT_EQ(WriteFramesCsv(Dir.string(), history, index, true), EISDIR);
}

} // namespace
} // namespace kestrune
