#include "debugchannel/DebugSocketPath.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace kestrune {

namespace {

std::string &socketDirOverride()
{
    static std::string dir;
    return dir;
}

} // namespace

bool IsPrivateUserFolder(const std::string &dir)
{
    struct stat st = {};
    if (::lstat(dir.c_str(), &st) != 0)
        return false;
    return S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & 077) == 0;
}

std::string DebugSocketDir(bool create)
{
    if (!socketDirOverride().empty())
        return socketDirOverride();
    if (const char *runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime == '/')
        return runtime;
    const std::string dir = "/tmp/gexperts-debug-" + std::to_string(::geteuid());
    if (create && ::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST)
        return {};
    return IsPrivateUserFolder(dir) ? dir : std::string();
}

std::string DebugSocketPath(bool create)
{
    const std::string dir = DebugSocketDir(create);
    if (dir.empty())
        return {};
    std::string path = dir + "/" + std::string(DebugWindowClassName);
    if (path.size() >= sizeof(sockaddr_un::sun_path))
        return {};
    return path;
}

bool MakeDebugSocketAddress(const std::string &path, sockaddr_un &addr)
{
    std::memset(&addr, 0, sizeof addr);
    addr.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof addr.sun_path)
        return false;
    std::memcpy(addr.sun_path, path.data(), path.size());
    return true;
}

void SetDebugSocketDirOverride(std::string dir)
{
    socketDirOverride() = std::move(dir);
}

} // namespace kestrune
