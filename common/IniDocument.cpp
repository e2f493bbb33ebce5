#include "common/IniDocument.h"

#include "common/CaseInsensitive.h"
#include "common/NameTable.h"

#include <deque>
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

// Calls `take(line)` for every line of `text`, without its line end.
template <typename Take> void forEachLine(std::string_view text, Take take)
{
    while (!text.empty()) {
        const auto lf = text.find('\n');
        std::string_view line = text.substr(0, lf);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        take(line);
        if (lf == std::string_view::npos)
            break;
        text.remove_prefix(lf + 1);
    }
}

struct TSection
{
    std::string_view Header; // empty before the first header
    std::string_view Name;
    // Until the section is first looked at, its lines are only the text read;
    // sections the program never asks for cost no more than that.
    std::string_view Body;
    std::unique_ptr<std::vector<std::string_view>> Lines;
    std::unique_ptr<TNameTable> Keys; // key to line

    [[nodiscard]] auto KeyAt() const
    {
        return [this](std::size_t i) { return *keyName((*Lines)[i]); };
    }

    std::vector<std::string_view> &Open()
    {
        if (!Lines) {
            Lines = std::make_unique<std::vector<std::string_view>>();
            forEachLine(Body, [this](std::string_view line) { Lines->push_back(line); });
            Keys = std::make_unique<TNameTable>();
            Keys->Reserve(Lines->size());
            for (std::size_t i = 0; i < Lines->size(); ++i) {
                if (const auto key = keyName((*Lines)[i]))
                    Keys->Insert(*key, i, KeyAt());
            }
        }
        return *Lines;
    }

    [[nodiscard]] std::optional<std::size_t> FindKey(std::string_view key)
    {
        Open();
        return Keys->Find(key, KeyAt());
    }

    template <typename Emit> void ForEachLine(Emit emit) const
    {
        if (Lines) {
            for (const std::string_view line : *Lines)
                emit(line);
        } else {
            forEachLine(Body, emit);
        }
    }
};

} // namespace

struct TIniDocument::TImpl
{
    std::string Source;
    std::deque<std::string> Written; // never shrinks: lines point into it
    std::vector<TSection> Sections;  // [0]: the lines before the first header
    TNameTable SectionIndex;         // name to position in Sections

    std::string_view Keep(std::string text) { return Written.emplace_back(std::move(text)); }

    [[nodiscard]] auto NameAt() const
    {
        return [this](std::size_t i) { return Sections[i].Name; };
    }

    TSection *Find(std::string_view name)
    {
        const auto at = SectionIndex.Find(name, NameAt());
        return at ? &Sections[*at] : nullptr;
    }

    void AddSection(std::string_view header, std::string_view name)
    {
        TSection &added = Sections.emplace_back();
        added.Header = header;
        added.Name = name;
        SectionIndex.Insert(name, Sections.size() - 1, NameAt());
    }
};

TIniDocument::TIniDocument() : TIniDocument(std::string()) {}

TIniDocument::TIniDocument(std::string text) : F(std::make_unique<TImpl>())
{
    F->Source = std::move(text);
    F->Sections.emplace_back();
    const char *bodyStart = F->Source.data();
    auto closeBody = [&](const char *end) {
        F->Sections.back().Body =
            std::string_view(bodyStart, static_cast<std::size_t>(end - bodyStart));
    };
    std::string_view rest = F->Source;
    while (!rest.empty()) {
        const auto lf = rest.find('\n');
        std::string_view line = rest.substr(0, lf);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (const auto name = sectionName(line)) {
            closeBody(line.data());
            F->AddSection(line, *name);
            bodyStart =
                lf == std::string_view::npos ? rest.data() + rest.size() : rest.data() + lf + 1;
        }
        if (lf == std::string_view::npos)
            break;
        rest.remove_prefix(lf + 1);
    }
    closeBody(F->Source.data() + F->Source.size());
}

TIniDocument::TIniDocument(TIniDocument &&) noexcept = default;
TIniDocument &TIniDocument::operator=(TIniDocument &&) noexcept = default;
TIniDocument::~TIniDocument() = default;

std::optional<std::string> TIniDocument::Get(std::string_view section, std::string_view key) const
{
    TSection *found = F->Find(section);
    if (!found)
        return std::nullopt;
    const auto at = found->FindKey(key);
    if (!at)
        return std::nullopt;
    const std::string_view line = (*found->Lines)[*at];
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

    TSection *found = F->Find(section);
    if (!found) {
        const std::string_view header = F->Keep("[" + std::string(section) + "]");
        F->AddSection(header, trim(header.substr(1, section.size())));
        F->Sections.back().Open().push_back(line);
        F->Sections.back().Keys->Insert(key, 0, F->Sections.back().KeyAt());
        return;
    }
    if (const auto at = found->FindKey(key)) {
        (*found->Lines)[*at] = line;
        return;
    }
    // After the last line that is not blank; only blank lines move down, so
    // the positions in the key index stay right.
    std::vector<std::string_view> &lines = *found->Lines;
    std::size_t at = lines.size();
    while (at > 0 && trim(lines[at - 1]).empty())
        --at;
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(at), line);
    found->Keys->Insert(key, at, found->KeyAt());
}

std::string TIniDocument::Text() const
{
    std::size_t size = 0;
    auto count = [&size](std::string_view line) { size += line.size() + 2; };
    for (const TSection &section : F->Sections) {
        if (!section.Header.empty())
            count(section.Header);
        section.ForEachLine(count);
    }
    std::string text;
    text.reserve(size);
    auto emit = [&text](std::string_view line) {
        text += line;
        text += "\r\n";
    };
    for (const TSection &section : F->Sections) {
        if (!section.Header.empty())
            emit(section.Header);
        section.ForEachLine(emit);
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
