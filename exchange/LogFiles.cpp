#include "exchange/LogFiles.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <sys/stat.h>

namespace kestrune {

namespace {

bool Exists(const std::string &path, std::uint64_t *size = nullptr)
{
    struct stat st
    {
    };
    if (::stat(path.c_str(), &st) != 0)
        return false;
    if (size)
        *size = static_cast<std::uint64_t>(st.st_size);
    return true;
}

} // namespace

std::string ExpandLogName(std::string_view pattern, const TLocalTime &time)
{
    struct TField
    {
        char Letter;
        int TLocalTime::*Member;
        int Width;
    };
    static constexpr TField Fields[] = {
        {'Y', &TLocalTime::Year, 4}, {'m', &TLocalTime::Month, 2},  {'d', &TLocalTime::Day, 2},
        {'H', &TLocalTime::Hour, 2}, {'M', &TLocalTime::Minute, 2}, {'S', &TLocalTime::Second, 2}};
    std::string out;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const char next = i + 1 < pattern.size() ? pattern[i + 1] : '\0';
        if (pattern[i] != '%') {
            out.push_back(pattern[i]);
        } else if (next == '%') {
            out.push_back('%');
            ++i;
        } else if (const auto *f = std::find_if(std::begin(Fields), std::end(Fields),
                                                [&](const TField &x) { return x.Letter == next; });
                   f != std::end(Fields)) {
            char digits[16];
            std::snprintf(digits, sizeof digits, "%0*d", f->Width, time.*(f->Member));
            out += digits;
            ++i;
        } else {
            out.push_back('%');
        }
    }
    return out;
}

std::string NumberedPath(const std::string &path, int n)
{
    const std::size_t slash = path.rfind('/');
    const std::size_t dot = path.rfind('.');
    // A dot that starts the name ("/x/.log") or lies in a folder is no extension.
    const bool hasExt =
        dot != std::string::npos && dot > 0 && (slash == std::string::npos || dot > slash + 1);
    const std::size_t at = hasExt ? dot : path.size();
    return path.substr(0, at) + "-" + std::to_string(n) + path.substr(at);
}

void TLogFiles::Start(const TLogNaming &naming, const TLocalTime &now)
{
    FNaming = naming;
    FPath = Choose(now, !naming.Append);
    FSize = 0;
    (void)Exists(FPath, &FSize);
}

std::string TLogFiles::Choose(const TLocalTime &now, bool fresh) const
{
    std::string name = ExpandLogName(FNaming.Pattern, now);
    if (name.empty())
        name = CommLogFileName;
    if (!FNaming.Folder.empty() && name.front() != '/')
        name = FNaming.Folder + (FNaming.Folder.back() == '/' ? "" : "/") + name;
    if (!fresh)
        return name;
    std::string chosen = name;
    for (int n = 1; Exists(chosen) || chosen == FPath; ++n)
        chosen = NumberedPath(name, n);
    return chosen;
}

TFileResult TLogFiles::Append(std::string_view record, const TLocalTime &now)
{
    if (FNaming.RotateBytes > 0 && FSize > 0 && FSize + record.size() > FNaming.RotateBytes) {
        FPath = Choose(now, true);
        FSize = 0;
    }
    TFileResult result = AppendCommLog(FPath, record);
    if (result.Ok())
        FSize += record.size();
    return result;
}

} // namespace kestrune
