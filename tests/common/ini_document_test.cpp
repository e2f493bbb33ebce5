#include "common/CaseInsensitive.h"
#include "common/IniDocument.h"

#include <gtest/gtest.h>
#include <random>
#include <utility>
#include <vector>

namespace kestrune {
namespace {

const std::vector<std::string> Sections = {"Main", "MAIN", "Other", "Trans0", "trans1", "New"};
const std::vector<std::string> Keys = {"Port", "port", "Baudrate", "Enable", "K", "Fresh"};

std::string pick(std::mt19937 &random, const std::vector<std::string> &from)
{
    return from[random() % from.size()];
}

// A settings text of the kinds a user or an older copy of the program leaves:
// duplicates, odd case and spacing, quotes, blank and junk lines, both line ends.
std::string randomDocument(std::mt19937 &random)
{
    const std::vector<std::string> values = {"",    "COM1", "  spaced  ",          "\"quoted\"",
                                             "'x'", "a=b",  std::string(2100, 'v')};
    std::string text;
    const int lines = static_cast<int>(random() % 24);
    for (int i = 0; i < lines; ++i) {
        switch (random() % 6) {
        case 0:
            text +=
                (random() % 2 ? "[" : " [ ") + pick(random, Sections) + (random() % 4 ? "]" : "");
            break;
        case 1:
        case 2:
            text += pick(random, Keys) + (random() % 2 ? "=" : " = ") + pick(random, values);
            break;
        case 3:
            text += random() % 2 ? "" : "  ";
            break;
        case 4:
            text += "junk without an equals sign";
            break;
        default:
            text += "; comment";
        }
        text += random() % 2 ? "\n" : "\r\n";
    }
    return text;
}

std::vector<std::optional<std::string>> everyValue(const TIniDocument &document)
{
    std::vector<std::optional<std::string>> values;
    for (const auto &section : Sections)
        for (const auto &key : Keys)
            values.push_back(document.Get(section, key));
    return values;
}

std::string withoutLineBreaks(std::string value)
{
    for (char &c : value)
        c = (c == '\r' || c == '\n') ? ' ' : c;
    return value;
}

// Setting one key changes what that key reads and nothing else, and the text
// written reads back the same, whatever the document held before.
TEST(IniDocument, SettingAKeyChangesOnlyThatKeyAndTheTextReadsBack)
{
    std::mt19937 random(20);
    const std::vector<std::string> values = {"v", " padded ", "\"q\"", "line\r\nbreak", "\n", ""};
    for (int round = 0; round < 3000; ++round) {
        const std::string original = randomDocument(random);
        TIniDocument document{original};
        const auto before = everyValue(document);
        const std::size_t section = random() % Sections.size();
        const std::size_t key = random() % Keys.size();
        const std::string value = pick(random, values);
        document.Set(Sections[section], Keys[key], value);

        const auto after = everyValue(document);
        for (std::size_t s = 0; s < Sections.size(); ++s) {
            for (std::size_t k = 0; k < Keys.size(); ++k) {
                const std::size_t i = s * Keys.size() + k;
                const bool target =
                    SameText(Sections[s], Sections[section]) && SameText(Keys[k], Keys[key]);
                if (target)
                    EXPECT_EQ(after[i], std::string(IniValueAsRead(withoutLineBreaks(value))));
                else
                    EXPECT_EQ(after[i], before[i]) << Sections[s] << "/" << Keys[k];
            }
        }
        const std::string text = document.Text();
        const TIniDocument reread{text};
        EXPECT_EQ(everyValue(reread), after);
        EXPECT_EQ(reread.Text(), text);
        ASSERT_FALSE(HasFailure()) << "document:\n" << original;
    }
}

TEST(IniDocument, MovingKeepsTheLines)
{
    TIniDocument first{"[S]\nk=1\n"};
    first.Set("S", "n", "2");
    TIniDocument moved = std::move(first);
    EXPECT_EQ(moved.Get("s", "K"), "1");
    EXPECT_EQ(moved.Text(), "[S]\r\nk=1\r\nn=2\r\n");
}

} // namespace
} // namespace kestrune
