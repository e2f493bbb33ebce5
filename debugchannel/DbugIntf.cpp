#include "debugchannel/DbugIntf.h"

#include "common/AppPaths.h"
#include "common/IniFile.h"
#include "debugchannel/DebugRecord.h"
#include "debugchannel/DebugSocketPath.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <pwd.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char **environ;

namespace kestrune {

namespace {

std::atomic<bool> launchFailed{false};
std::atomic<int> launchAttempts{0};
std::atomic<int> spawnAttempts{0};
std::atomic<pid_t> lastSpawnedPid{0};

std::string &settingsPathOverride()
{
    static std::string path;
    return path;
}

std::string &executableDirOverride()
{
    static std::string dir;
    return dir;
}

std::string_view trimBlanks(std::string_view text)
{
    while (!text.empty() && static_cast<unsigned char>(text.front()) <= ' ')
        text.remove_prefix(1);
    while (!text.empty() && static_cast<unsigned char>(text.back()) <= ' ')
        text.remove_suffix(1);
    return text;
}

std::string userConfigDir()
{
    return paths::UserConfigDir();
}

std::string executableDir()
{
    if (!executableDirOverride().empty())
        return executableDirOverride();
    return std::filesystem::path(paths::ExecutablePath()).parent_path().string();
}

bool isFile(const std::string &path)
{
    struct stat st = {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// The debug window is a program of its own: it gets none of our descriptors,
// default signal handling, and a process group of its own so a Ctrl+C meant
// for us does not close it.
pid_t spawnProgram(const std::string &path)
{
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    if (posix_spawn_file_actions_init(&actions) != 0)
        return -1;
    if (posix_spawnattr_init(&attr) != 0) {
        posix_spawn_file_actions_destroy(&actions);
        return -1;
    }
    posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
    sigset_t noSignals;
    sigemptyset(&noSignals);
    posix_spawnattr_setsigmask(&attr, &noSignals);
    sigset_t defaults;
    sigemptyset(&defaults);
    for (int sig : {SIGPIPE, SIGINT, SIGTERM, SIGHUP, SIGCHLD})
        sigaddset(&defaults, sig);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setpgroup(&attr, 0);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF |
                                        POSIX_SPAWN_SETPGROUP);

    std::string argv0 = path;
    char *argv[] = {argv0.data(), nullptr};
    pid_t pid = -1;
    ++spawnAttempts;
    const int rc = ::posix_spawn(&pid, path.c_str(), &actions, &attr, argv, environ);
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        return -1;
    lastSpawnedPid = pid;
    return pid;
}

// Waits until the new program's socket answers, the program ends, or time is up.
// A program still running afterwards is reaped by a thread of its own, so it
// leaves no zombie when it closes while we run.
TDebugWindow waitForWindow(pid_t pid)
{
    using namespace std::chrono;
    const auto deadline = steady_clock::now() + milliseconds(DebugWindowStartWaitMs);
    bool ended = false;
    for (;;) {
        if (TDebugWindow window = FindDebugWindow())
            break;
        if (::waitpid(pid, nullptr, WNOHANG) == pid) {
            ended = true;
            break;
        }
        if (steady_clock::now() >= deadline)
            break;
        std::this_thread::sleep_for(milliseconds(10));
    }
    if (!ended) {
        try {
            std::thread([pid] {
                while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
                }
            }).detach();
        } catch (const std::exception &) {
            // No thread to spare: the ended program stays a zombie until we exit.
        }
    }
    return FindDebugWindow();
}

} // namespace

std::string DebugWindowSettingsPath()
{
    if (!settingsPathOverride().empty())
        return settingsPathOverride();
    return userConfigDir() + "/GExperts/Debug.ini";
}

std::string DebugWindowProgramPath()
{
    const TIniFile settings(DebugWindowSettingsPath());
    std::string configured = settings.ReadString("Debug", "FilePath", "");
    if (!trimBlanks(configured).empty())
        return configured;
    const std::string dir = executableDir();
    if (dir.empty())
        return {};
    return dir + "/" + std::string(DebugWindowProgramName);
}

TDebugWindow LaunchDebugWindow() noexcept
{
    if (launchFailed)
        return {};
    ++launchAttempts;
    try {
        const std::string program = DebugWindowProgramPath();
        if (trimBlanks(program).empty() || !isFile(program)) {
            launchFailed = true;
            return {};
        }
        const pid_t pid = spawnProgram(program);
        if (pid <= 0) {
            launchFailed = true;
            return {};
        }
        return waitForWindow(pid);
    } catch (const std::exception &) {
        return {};
    }
}

bool DebugWindowLaunchFailed() noexcept
{
    return launchFailed;
}

void SendDebugTextOfKind(std::string_view text, std::uint8_t kind) noexcept
{
    try {
        TDebugWindow window = FindDebugWindow();
        if (!window)
            window = LaunchDebugWindow();
        if (!window)
            return;
        window.Send(BuildDebugRecord(text, kind));
    } catch (const std::exception &) {
        // A diagnostic text is never worth disturbing the user for.
    }
}

void SendDebugText(std::string_view text) noexcept
{
    SendDebugTextOfKind(text, DebugTextKind);
}

namespace debugchannel_testing {

void SetSettingsPathOverride(std::string path)
{
    settingsPathOverride() = std::move(path);
}
void SetExecutableDirOverride(std::string dir)
{
    executableDirOverride() = std::move(dir);
}
int LaunchAttempts()
{
    return launchAttempts;
}
int SpawnAttempts()
{
    return spawnAttempts;
}
pid_t LastSpawnedPid()
{
    return lastSpawnedPid;
}

void Reset()
{
    launchFailed = false;
    launchAttempts = 0;
    spawnAttempts = 0;
    lastSpawnedPid = 0;
    settingsPathOverride().clear();
    executableDirOverride().clear();
    SetDebugSocketDirOverride({});
}

} // namespace debugchannel_testing

} // namespace kestrune
