#pragma once

#include "exchange/CommLog.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace kestrune {

// How the communication log's files are named and when a new one starts.
struct TLogNaming
{
    std::string Folder;                    // empty: the current folder
    std::string Pattern = CommLogFileName; // a file name with %Y %m %d %H %M %S
    // True: records go on at the end of an existing file. False: every start
    // of logging takes a file name not used yet.
    bool Append = true;
    std::uint64_t RotateBytes = 0; // a file this large gives way to a new one; 0 never
};

// The pattern with %Y (four-digit year), %m, %d, %H, %M, %S (two digits each)
// and %% (a percent sign) replaced from `time`; any other text stays as written.
[[nodiscard]] std::string ExpandLogName(std::string_view pattern, const TLocalTime &time);

// `path` with "-n" put before its extension: "log.txt" -> "log-2.txt".
[[nodiscard]] std::string NumberedPath(const std::string &path, int n);

// The files one run of logging writes: the one named when logging starts,
// and after it, whenever the next record would take the current file past
// the size, a new one named from the pattern at that moment. A new file never
// takes the name of one that exists: a number goes before its extension then.
// Each record is appended as AppendCommLog does it.
class TLogFiles
{
public:
    void Start(const TLogNaming &naming, const TLocalTime &now);
    [[nodiscard]] TFileResult Append(std::string_view record, const TLocalTime &now);
    [[nodiscard]] const std::string &Path() const { return FPath; }

private:
    // The file the pattern names now; a name no file has yet when fresh.
    [[nodiscard]] std::string Choose(const TLocalTime &now, bool fresh) const;

    TLogNaming FNaming;
    std::string FPath = CommLogFileName;
    std::uint64_t FSize = 0;
};

} // namespace kestrune
