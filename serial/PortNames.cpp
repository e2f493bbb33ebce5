#include "serial/PortNames.h"

#include "serial/Comm.h"

#include <algorithm>
#include <filesystem>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kestrune {

namespace fs = std::filesystem;

std::string ResolvePortPath(const std::string &CommName, const std::vector<std::string> &LinkDirs)
{
    const std::string path = CommDevicePath(CommName);
    std::error_code error;
    if (CommName.find('/') != std::string::npos || fs::exists(path, error))
        return path;
    for (const std::string &dir : LinkDirs) {
        const fs::path link = fs::path(dir) / CommName;
        if (fs::is_symlink(link, error))
            return link.string();
    }
    return path;
}

std::string StablePortPath(const std::string &DevicePath, const std::string &ByIdDir)
{
    std::error_code error;
    if (fs::is_symlink(DevicePath, error))
        return DevicePath;
    const fs::path device = fs::canonical(DevicePath, error);
    if (error)
        return DevicePath;
    for (fs::directory_iterator it(ByIdDir, error), end; !error && it != end; it.increment(error)) {
        std::error_code linkError;
        if (it->is_symlink(linkError) && fs::canonical(it->path(), linkError) == device &&
            !linkError)
            return it->path().string();
    }
    return DevicePath;
}

std::vector<gid_t> CurrentUserGroups()
{
    std::vector<gid_t> groups(std::size_t(std::max(0, ::getgroups(0, nullptr))));
    const int n = ::getgroups(int(groups.size()), groups.data());
    groups.resize(std::size_t(std::max(0, n)));
    groups.push_back(::getegid());
    return groups;
}

std::string GroupAdvice(const std::string &DevicePath, const std::vector<gid_t> &UserGroups)
{
    struct stat info
    {
    };
    if (::stat(DevicePath.c_str(), &info) != 0)
        return {};
    if (std::ranges::find(UserGroups, info.st_gid) != UserGroups.end())
        return {};
    const group *entry = ::getgrgid(info.st_gid);
    const std::string name = entry ? entry->gr_name : std::to_string(info.st_gid);
    return "The port belongs to group \"" + name +
           "\", which you are not in: add yourself with \"sudo usermod -aG " + name +
           " $USER\", then log out and in again.";
}

} // namespace kestrune
