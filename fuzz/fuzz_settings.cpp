// The settings document: any text parses; setting one key changes what that key
// reads and nothing else; the text written parses to the same document.
#include "FuzzCheck.h"
#include "common/CaseInsensitive.h"
#include "common/IniDocument.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

using namespace kestrune;

namespace {

// A name the program could use: no line break, no blank at either end, no "="
// (nor "]" in a section), not starting with "[".
std::string asName(const std::string &name)
{
    std::string clean;
    for (const char c : name) {
        if (c != '\r' && c != '\n' && c != '=' && c != '[' && c != ']' && c != ' ' && c != '\t')
            clean += c;
    }
    return clean.empty() ? "K" : clean;
}

// Every section and key name in the text, as the document reads them.
std::vector<std::pair<std::string, std::string>> namesIn(const std::string &text)
{
    auto trim = [](std::string_view s) {
        while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
            s.remove_prefix(1);
        while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
            s.remove_suffix(1);
        return s;
    };
    std::vector<std::string> sections{""};
    std::vector<std::string> keys;
    std::string_view rest = text;
    while (!rest.empty()) {
        const auto lf = rest.find('\n');
        std::string_view line = rest.substr(0, lf);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        const std::string_view t = trim(line);
        if (!t.empty() && t.front() == '[')
            sections.emplace_back(
                trim(t.substr(1, t.find(']') == std::string_view::npos ? std::string_view::npos
                                                                       : t.find(']') - 1)));
        else if (line.find('=') != std::string_view::npos)
            keys.emplace_back(trim(line.substr(0, line.find('='))));
        if (lf == std::string_view::npos)
            break;
        rest.remove_prefix(lf + 1);
    }
    std::vector<std::pair<std::string, std::string>> pairs;
    for (std::size_t s = 0; s < sections.size() && s < 24; ++s)
        for (std::size_t k = 0; k < keys.size() && k < 24; ++k)
            pairs.emplace_back(sections[s], keys[k]);
    return pairs;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    // Layout: document text, then 0x00, section, 0x00, key, 0x00, value.
    const std::string input(reinterpret_cast<const char *>(data), size);
    std::vector<std::string> parts{""};
    for (const char c : input) {
        if (c == '\0' && parts.size() < 4)
            parts.emplace_back();
        else
            parts.back() += c;
    }
    parts.resize(4);
    const std::string &text = parts[0];
    const std::string section = asName(parts[1]);
    const std::string key = asName(parts[2]);
    const std::string &value = parts[3];

    TIniDocument document{text};
    auto pairs = namesIn(text);
    pairs.emplace_back(section, key);
    std::vector<std::optional<std::string>> before;
    for (const auto &[s, k] : pairs)
        before.push_back(document.Get(s, k));

    document.Set(section, key, value);
    std::string stored = value;
    for (char &c : stored)
        c = (c == '\r' || c == '\n') ? ' ' : c;
    const std::string written = document.Text();
    const TIniDocument reread{written};
    for (std::size_t i = 0; i < pairs.size(); ++i) {
        const auto &[s, k] = pairs[i];
        const auto now = document.Get(s, k);
        if (SameText(s, section) && SameText(k, key))
            FUZZ_CHECK(now == std::string(IniValueAsRead(stored)));
        else
            FUZZ_CHECK(now == before[i]);
        FUZZ_CHECK(reread.Get(s, k) == now);
    }
    FUZZ_CHECK(reread.Text() == written);
    return 0;
}
