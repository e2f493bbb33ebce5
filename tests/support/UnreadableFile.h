#pragma once

#include <string>
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <unistd.h>

// While it lives, this thread cannot read the file at `path`, as when the file
// belongs to another user: its mode is 0, and for root, whom modes do not
// stop, the thread opens files as the user "nobody". The mode comes back
// afterwards.
class TUnreadableFile
{
public:
    explicit TUnreadableFile(std::string path) : FPath(std::move(path))
    {
        struct stat status
        {
        };
        if (::stat(FPath.c_str(), &status) == 0)
            FMode = status.st_mode & 07777;
        ::chmod(FPath.c_str(), 0);
        if (FRoot)
            ::setfsuid(Nobody);
    }
    ~TUnreadableFile()
    {
        if (FRoot)
            ::setfsuid(0);
        ::chmod(FPath.c_str(), FMode);
    }
    TUnreadableFile(const TUnreadableFile &) = delete;
    TUnreadableFile &operator=(const TUnreadableFile &) = delete;

private:
    static constexpr uid_t Nobody = 65534;
    std::string FPath;
    mode_t FMode = 0644;
    bool FRoot = ::geteuid() == 0;
};
