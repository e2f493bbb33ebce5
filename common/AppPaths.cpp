#include "common/AppPaths.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <unistd.h>

namespace kestrune::paths {

namespace {

std::string &dataDirOverride()
{
    static std::string dir;
    return dir;
}

std::string userConfigDir()
{
    if (const char *xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg == '/')
        return std::string(xdg) + "/kestrune";
    const char *home = std::getenv("HOME");
    return std::string(home && *home ? home : "/tmp") + "/.config/kestrune";
}

} // namespace

std::string ExecutablePath()
{
    std::error_code ec;
    auto p = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string("kestrune") : p.string();
}

std::string DataDir()
{
    if (!dataDirOverride().empty())
        return dataDirOverride();
    const std::string own = std::filesystem::path(ExecutablePath()).parent_path().string();
    if (!own.empty() && ::access(own.c_str(), W_OK) == 0)
        return own;
    const std::string fallback = userConfigDir();
    std::error_code ec;
    std::filesystem::create_directories(fallback, ec);
    return fallback;
}

std::string SettingsFilePath()
{
    const std::string name = std::filesystem::path(ExecutablePath()).filename().string();
    return DataDir() + "/" + (name.empty() ? std::string("kestrune") : name) + ".ini";
}

std::string LoginFilePath()
{
    return DataDir() + "/Login.txt";
}

void SetDataDirOverride(std::string dir)
{
    dataDirOverride() = std::move(dir);
}

} // namespace kestrune::paths
