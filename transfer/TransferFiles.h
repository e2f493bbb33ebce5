#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrune {

// A file to send: its name for the peer, size, time, and a reader that gives
// the next bytes (0 at the end) or throws std::runtime_error saying why not.
struct TSendFile
{
    std::string Name;
    std::uint64_t Size = 0;
    std::int64_t ModTime = 0;
    std::function<std::size_t(char *into, std::size_t max)> Read;
};

// The sum of the files' sizes.
[[nodiscard]] std::uint64_t TotalSize(const std::vector<TSendFile> &files);

// Where received files go. Every call gives the error text when it failed.
class TReceiveTarget
{
public:
    virtual ~TReceiveTarget() = default;
    // A file begins; `name` is empty for a protocol without names.
    virtual std::optional<std::string> Begin(const std::string &name) = 0;
    virtual std::optional<std::string> Write(std::string_view data) = 0;
    // The file is complete.
    virtual std::optional<std::string> End(std::int64_t modTime) = 0;
    // The transfer failed: the unfinished file goes, finished ones stay.
    virtual void Abandon() = 0;
};

// A file on disk as a TSendFile; throws std::runtime_error when it cannot be read.
[[nodiscard]] TSendFile OpenSendFile(const std::string &path);

// Receives into `path`: the file itself (a protocol without names), or the
// folder the batch's files go into. Each file is written beside its final name
// and takes that name once complete, so a failed transfer leaves any earlier
// file of that name as it was.
[[nodiscard]] std::unique_ptr<TReceiveTarget> MakeFileTarget(const std::string &path, bool folder);

} // namespace kestrune
