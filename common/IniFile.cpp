#include "common/IniFile.h"

#include "common/IntText.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
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

bool sameName(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto lower = [](unsigned char c) { return (c >= 'A' && c <= 'Z') ? c + 32 : c; };
        if (lower(static_cast<unsigned char>(a[i])) != lower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

std::vector<std::string_view> splitLines(std::string_view content)
{
    std::vector<std::string_view> lines;
    while (!content.empty()) {
        const auto lf = content.find('\n');
        std::string_view line = content.substr(0, lf);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        lines.push_back(line);
        if (lf == std::string_view::npos)
            break;
        content.remove_prefix(lf + 1);
    }
    return lines;
}

// The section name of a header line, or nullopt for any other line.
std::optional<std::string_view> sectionName(std::string_view line)
{
    line = trim(line);
    if (line.empty() || line.front() != '[')
        return std::nullopt;
    line.remove_prefix(1);
    const auto close = line.find(']');
    return trim(line.substr(0, close));
}

// The key of a "key=value" line, or nullopt for a line without "=".
std::optional<std::string_view> keyName(std::string_view line)
{
    const auto eq = line.find('=');
    if (eq == std::string_view::npos)
        return std::nullopt;
    return trim(line.substr(0, eq));
}

std::optional<std::size_t> findSection(const std::vector<std::string_view> &lines,
                                       std::string_view section)
{
    for (std::size_t i = 0; i < lines.size(); ++i) {
        auto name = sectionName(lines[i]);
        if (name && sameName(*name, section))
            return i;
    }
    return std::nullopt;
}

} // namespace

std::optional<std::string> IniLookup(std::string_view content, std::string_view section,
                                     std::string_view key)
{
    const auto lines = splitLines(content);
    const auto start = findSection(lines, section);
    if (!start)
        return std::nullopt;
    for (std::size_t i = *start + 1; i < lines.size() && !sectionName(lines[i]); ++i) {
        auto name = keyName(lines[i]);
        if (!name || !sameName(*name, key))
            continue;
        std::string_view value = trim(lines[i].substr(lines[i].find('=') + 1));
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
            value.back() == value.front())
            value = value.substr(1, value.size() - 2);
        return std::string(value.substr(0, IniMaxValueLength));
    }
    return std::nullopt;
}

std::string IniUpdate(std::string_view content, std::string_view section, std::string_view key,
                      std::string_view value)
{
    auto lines = splitLines(content);
    const std::string newLine = std::string(key) + "=" + std::string(value);
    std::vector<std::string> out(lines.begin(), lines.end());

    if (const auto start = findSection(lines, section)) {
        std::size_t end = *start + 1;
        std::size_t lastContent = *start;
        for (; end < lines.size() && !sectionName(lines[end]); ++end) {
            auto name = keyName(lines[end]);
            if (name && sameName(*name, key)) {
                out[end] = newLine;
                goto done;
            }
            if (!trim(lines[end]).empty())
                lastContent = end;
        }
        out.insert(out.begin() + static_cast<std::ptrdiff_t>(lastContent + 1), newLine);
    } else {
        out.push_back("[" + std::string(section) + "]");
        out.push_back(newLine);
    }
done:
    std::string result;
    for (const auto &line : out) {
        result += line;
        result += "\r\n";
    }
    return result;
}

std::optional<std::string> ReadWholeFile(const std::string &path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    struct stat st
    {
    };
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return std::nullopt;
    }
    std::string data;
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            ::close(fd);
            return std::nullopt;
        }
        if (n == 0)
            break;
        data.append(buf, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return data;
}

bool ReplaceFileAtomically(const std::string &path, std::string_view content)
{
    std::string tmp = path + ".XXXXXX";
    const int fd = ::mkostemp(tmp.data(), O_CLOEXEC);
    if (fd < 0)
        return false;
    bool ok = true;
    std::size_t done = 0;
    while (ok && done < content.size()) {
        const ssize_t n = ::write(fd, content.data() + done, content.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        ok = n > 0;
        if (ok)
            done += static_cast<std::size_t>(n);
    }
    ok = ::fsync(fd) == 0 && ok;
    ok = ::close(fd) == 0 && ok;
    // The new file takes the usual permissions of a user's file, not mkstemp's 0600.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ok = ok && ::chmod(tmp.c_str(), 0666 & ~mask) == 0;
    ok = ok && ::rename(tmp.c_str(), path.c_str()) == 0;
    if (!ok)
        ::unlink(tmp.c_str());
    return ok;
}

std::optional<std::string> TIniFile::Read(std::string_view section, std::string_view key) const
{
    const auto content = ReadWholeFile(FPath);
    if (!content)
        return std::nullopt;
    return IniLookup(*content, section, key);
}

std::string TIniFile::ReadString(std::string_view section, std::string_view key,
                                 std::string_view def) const
{
    auto v = Read(section, key);
    return v ? *v : std::string(def);
}

std::int32_t TIniFile::ReadInteger(std::string_view section, std::string_view key,
                                   std::int32_t def) const
{
    const auto v = Read(section, key);
    return v ? StrToIntDef(*v, def) : def;
}

bool TIniFile::ReadBool(std::string_view section, std::string_view key, bool def) const
{
    return ReadInteger(section, key, def ? 1 : 0) != 0;
}

void TIniFile::WriteString(std::string_view section, std::string_view key, std::string_view value)
{
    const std::string current = ReadWholeFile(FPath).value_or(std::string());
    if (!ReplaceFileAtomically(FPath, IniUpdate(current, section, key, value)))
        throw EIniWriteError("Unable to write to " + FPath);
}

void TIniFile::WriteInteger(std::string_view section, std::string_view key, std::int32_t value)
{
    WriteString(section, key, std::to_string(value));
}

void TIniFile::WriteBool(std::string_view section, std::string_view key, bool value)
{
    WriteString(section, key, value ? "1" : "0");
}

} // namespace kestrune
