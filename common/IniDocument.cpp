#include "common/IniDocument.h"

#include "common/CaseInsensitive.h"

#include <deque>
#include <unordered_map>
#include <vector>

namespace kestrune {

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

std::string_view trim(std::string_view s)
{
    while (!s.empty() && isBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

// The section name of a header line, or nullopt for any other line.
std::optional<std::string_view> sectionName(std::string_view line)
{
    line = trim(line);
    if (line.empty() || line.front() != '[')
        return std::nullopt;
    line.remove_prefix(1);
    return trim(line.substr(0, line.find(']')));
}

// The key of a "key=value" line, or nullopt for a line without "=".
std::optional<std::string_view> keyName(std::string_view line)
{
    const auto eq = line.find('=');
    if (eq == std::string_view::npos)
        return std::nullopt;
    return trim(line.substr(0, eq));
}

using TNameIndex = std::unordered_map<std::string_view, std::size_t, TTextHash, TTextEqual>;

struct TSection
{
    std::vector<std::string_view> Lines; // without the header line
    std::string_view Header;             // empty before the first header
    // Key to line, first one winning; built when the section is first looked
    // at, so sections the program never asks for cost nothing more.
    std::unique_ptr<TNameIndex> Keys;

    TNameIndex &KeyIndex()
    {
        if (!Keys) {
            Keys = std::make_unique<TNameIndex>();
            Keys->reserve(Lines.size());
            for (std::size_t i = 0; i < Lines.size(); ++i) {
                if (const auto key = keyName(Lines[i]))
                    Keys->try_emplace(*key, i);
            }
        }
        return *Keys;
    }
};

} // namespace

struct TIniDocument::TImpl
{
    std::string Source;
    std::deque<std::string> Written; // never shrinks: lines and index keys point into it
    std::deque<TSection> Sections;   // [0]: the lines before the first header
    TNameIndex SectionIndex;         // name to position in Sections, first one winning

    std::string_view Keep(std::string text) { return Written.emplace_back(std::move(text)); }

    TSection *Find(std::string_view name)
    {
        const auto it = SectionIndex.find(name);
        return it == SectionIndex.end() ? nullptr : &Sections[it->second];
    }

    void AddSection(std::string_view header, std::string_view name)
    {
        Sections.emplace_back().Header = header;
        SectionIndex.try_emplace(name, Sections.size() - 1);
    }
};

TIniDocument::TIniDocument() : TIniDocument(std::string()) {}

TIniDocument::TIniDocument(std::string text) : F(std::make_unique<TImpl>())
{
    F->Source = std::move(text);
    F->Sections.emplace_back();
    std::string_view rest = F->Source;
    while (!rest.empty()) {
        const auto lf = rest.find('\n');
        std::string_view line = rest.substr(0, lf);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (const auto name = sectionName(line))
            F->AddSection(line, *name);
        else
            F->Sections.back().Lines.push_back(line);
        if (lf == std::string_view::npos)
            break;
        rest.remove_prefix(lf + 1);
    }
}

TIniDocument::TIniDocument(TIniDocument &&) noexcept = default;
TIniDocument &TIniDocument::operator=(TIniDocument &&) noexcept = default;
TIniDocument::~TIniDocument() = default;

std::optional<std::string> TIniDocument::Get(std::string_view section, std::string_view key) const
{
    TSection *found = F->Find(section);
    if (!found)
        return std::nullopt;
    const TNameIndex &keys = found->KeyIndex();
    const auto it = keys.find(key);
    if (it == keys.end())
        return std::nullopt;
    const std::string_view line = found->Lines[it->second];
    return std::string(IniValueAsRead(line.substr(line.find('=') + 1)));
}

void TIniDocument::Set(std::string_view section, std::string_view key, std::string_view value)
{
    std::string text;
    text.reserve(key.size() + 1 + value.size());
    text.append(key);
    text += '=';
    for (const char c : value)
        text += (c == '\r' || c == '\n') ? ' ' : c;
    const std::string_view line = F->Keep(std::move(text));
    const std::string_view name = line.substr(0, key.size());

    TSection *found = F->Find(section);
    if (!found) {
        const std::string_view header = F->Keep("[" + std::string(section) + "]");
        F->AddSection(header, trim(header.substr(1, section.size())));
        F->Sections.back().Lines.push_back(line);
        return;
    }
    TNameIndex &keys = found->KeyIndex();
    if (const auto it = keys.find(key); it != keys.end()) {
        found->Lines[it->second] = line;
        return;
    }
    // After the last line that is not blank; only blank lines move down, so
    // the positions in the key index stay right.
    std::size_t at = found->Lines.size();
    while (at > 0 && trim(found->Lines[at - 1]).empty())
        --at;
    found->Lines.insert(found->Lines.begin() + static_cast<std::ptrdiff_t>(at), line);
    keys.try_emplace(name, at);
}

std::string TIniDocument::Text() const
{
    std::size_t size = 0;
    for (const TSection &section : F->Sections) {
        size += section.Header.empty() ? 0 : section.Header.size() + 2;
        for (const std::string_view line : section.Lines)
            size += line.size() + 2;
    }
    std::string text;
    text.reserve(size);
    for (const TSection &section : F->Sections) {
        if (!section.Header.empty()) {
            text += section.Header;
            text += "\r\n";
        }
        for (const std::string_view line : section.Lines) {
            text += line;
            text += "\r\n";
        }
    }
    return text;
}

std::string_view IniValueAsRead(std::string_view stored)
{
    std::string_view value = trim(stored);
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front())
        value = value.substr(1, value.size() - 2);
    return value.substr(0, IniMaxValueLength);
}

} // namespace kestrune
