#include "debugchannel/DbugIntf.h"

#include "common/AppPaths.h"
#include "common/IniFile.h"
#include "debugchannel/DebugRecord.h"
#include "debugchannel/DebugSocketPath.h"

#include <QCoreApplication>
#include <QTimer>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <memory>
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

// How often a started window's socket is looked for.
constexpr int kStartPollMs = 10;

// The channel between texts. Touched on the GUI thread only.
struct TDebugLink
{
    TDebugWindow Window; // connected once, reused for every text
    bool Starting = false;
    std::uint64_t StartRun = 0; // tells a pending look which start it belongs to
    std::chrono::steady_clock::time_point StartDeadline;
    std::shared_ptr<std::atomic<bool>> StartedProgramEnded;
    std::deque<std::string> Queued; // records waiting for the started window
};

TDebugLink &debugLink()
{
    static TDebugLink state;
    return state;
}

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

// The started program is reaped by a thread of its own, so it leaves no zombie
// when it closes while we run; the flag tells the GUI thread it has ended.
std::shared_ptr<std::atomic<bool>> reapWhenEnded(pid_t pid)
{
    auto ended = std::make_shared<std::atomic<bool>>(false);
    try {
        std::thread([pid, ended] {
            while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
            }
            *ended = true;
        }).detach();
    } catch (const std::exception &) {
        // No thread to spare: the ended program stays a zombie until we exit,
        // and the start is given up at its deadline.
    }
    return ended;
}

// Hands the record to the kept window, reconnecting once when that window has
// gone (a restarted window binds a new socket at the same place). False when
// there is no window to take it.
bool deliver(TDebugLink &c, const std::string &record)
{
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (!c.Window)
            c.Window = FindDebugWindow();
        if (!c.Window)
            return false;
        if (c.Window.Send(record) != TDebugSend::Gone)
            return true;
        c.Window = TDebugWindow();
    }
    return false;
}

void queue(TDebugLink &c, std::string record)
{
    if (c.Queued.size() < DebugQueueLimit)
        c.Queued.push_back(std::move(record));
}

void endStart(TDebugLink &c)
{
    c.Starting = false;
    ++c.StartRun;
    c.Queued.clear();
    c.StartedProgramEnded.reset();
}

void lookForStartedWindow(std::uint64_t run) noexcept;

void scheduleLook(std::uint64_t run)
{
    QCoreApplication *app = QCoreApplication::instance();
    if (!app) {
        // No event loop to await the window on.
        endStart(debugLink());
        return;
    }
    QTimer::singleShot(kStartPollMs, app, [run] { lookForStartedWindow(run); });
}

// One look for the started window's socket, between other events. Once it is
// there, the queued texts go out as fast as the window takes them (its queue
// holds only a few), still within a time limit.
void lookForStartedWindow(std::uint64_t run) noexcept
{
    TDebugLink &c = debugLink();
    if (!c.Starting || run != c.StartRun)
        return;
    try {
        const auto now = std::chrono::steady_clock::now();
        if (!c.Window) {
            c.Window = FindDebugWindow();
            if (c.Window) {
                c.StartDeadline = now + std::chrono::milliseconds(DebugWindowStartWaitMs);
            } else {
                const bool ended = c.StartedProgramEnded && c.StartedProgramEnded->load();
                if (ended || now >= c.StartDeadline)
                    endStart(c); // the next text starts the program again
                else
                    scheduleLook(run);
                return;
            }
        }
        while (!c.Queued.empty()) {
            const TDebugSend sent = c.Window.Send(c.Queued.front());
            if (sent == TDebugSend::Full)
                break;
            if (sent == TDebugSend::Gone) {
                c.Window = TDebugWindow();
                endStart(c);
                return;
            }
            c.Queued.pop_front();
        }
        if (c.Queued.empty() || now >= c.StartDeadline)
            endStart(c);
        else
            scheduleLook(run);
    } catch (const std::exception &) {
        endStart(c);
    }
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

bool LaunchDebugWindow() noexcept
{
    TDebugLink &c = debugLink();
    if (c.Starting)
        return true;
    if (launchFailed)
        return false;
    ++launchAttempts;
    try {
        const std::string program = DebugWindowProgramPath();
        if (trimBlanks(program).empty() || !isFile(program)) {
            launchFailed = true;
            return false;
        }
        const pid_t pid = spawnProgram(program);
        if (pid <= 0) {
            launchFailed = true;
            return false;
        }
        c.Starting = true;
        ++c.StartRun;
        c.StartDeadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(DebugWindowStartWaitMs);
        c.StartedProgramEnded = reapWhenEnded(pid);
        scheduleLook(c.StartRun);
        return c.Starting;
    } catch (const std::exception &) {
        return false;
    }
}

bool DebugWindowStarting() noexcept
{
    return debugLink().Starting;
}

bool DebugWindowLaunchFailed() noexcept
{
    return launchFailed;
}

void SendDebugTextOfKind(std::string_view text, std::uint8_t kind) noexcept
{
    try {
        TDebugLink &c = debugLink();
        std::string record = BuildDebugRecord(text, kind);
        // While a started window is awaited, texts keep their order behind
        // the ones already waiting.
        if (c.Starting) {
            queue(c, std::move(record));
            return;
        }
        if (deliver(c, record))
            return;
        if (LaunchDebugWindow())
            queue(c, std::move(record));
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
    endStart(debugLink());
    debugLink().Window = TDebugWindow();
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
