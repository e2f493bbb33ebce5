#include "common/AppPaths.h"

#include <cstdlib>
#include <filesystem>
#include <pwd.h>
#include <string_view>
#include <system_error>
#include <unistd.h>

namespace kestrune::paths {

namespace {

std::string &dataDirOverride()
{
    static std::string dir;
    return dir;
}

std::string &executablePathOverride()
{
    static std::string path;
    return path;
}

std::string programDir()
{
    return std::filesystem::path(ExecutablePath()).parent_path().string();
}

} // namespace

std::string ExecutablePath()
{
    if (!executablePathOverride().empty())
        return executablePathOverride();
    std::error_code ec;
    auto p = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string("kestrune") : p.string();
}

std::string UserConfigDir()
{
    if (const char *xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg == '/')
        return xdg;
    const char *home = std::getenv("HOME");
    if (!home || !*home) {
        const passwd *pw = ::getpwuid(::getuid());
        home = pw ? pw->pw_dir : nullptr;
    }
    return std::string(home && *home ? home : "/tmp") + "/.config";
}

bool IsSystemLocation(const std::string &programDir)
{
    const std::string dir = std::filesystem::path(programDir).lexically_normal().string();
    // /usr covers /usr/local.
    for (std::string_view prefix : {"/usr", "/opt"}) {
        if (dir.compare(0, prefix.size(), prefix) == 0 &&
            (dir.size() == prefix.size() || dir[prefix.size()] == '/'))
            return true;
    }
    return false;
}

std::string DataDirFor(const std::string &programDir)
{
    if (!programDir.empty() && !IsSystemLocation(programDir) &&
        ::access(programDir.c_str(), W_OK) == 0)
        return programDir;
    return UserConfigDir() + "/kestrune";
}

std::string DataDir()
{
    if (!dataDirOverride().empty())
        return dataDirOverride();
    const std::string dir = DataDirFor(programDir());
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    return dir;
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

void SetExecutablePathOverride(std::string path)
{
    executablePathOverride() = std::move(path);
}

} // namespace kestrune::paths
