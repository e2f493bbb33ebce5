#pragma once
// Child processes for the benchmarks that run the program or a peer beside
// themselves: started from PATH, waited for, and the files they make.
#include <chrono>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <vector>

extern char **environ;

namespace kestrune::bench {

using Clock = std::chrono::steady_clock;

inline double Seconds(Clock::time_point from)
{
    return std::chrono::duration<double>(Clock::now() - from).count();
}

// Starts args[0] from PATH with descriptor `silenced` (1 or 2) on /dev/null,
// in `dir` when one is given; -1 when it cannot start.
inline pid_t Spawn(const std::vector<std::string> &args, int silenced, const std::string &dir = {})
{
    std::vector<char *> argv;
    for (const std::string &a : args)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, silenced, "/dev/null", O_WRONLY, 0);
    if (!dir.empty())
        posix_spawn_file_actions_addchdir_np(&actions, dir.c_str());
    pid_t pid = -1;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

// The child's exit status, or -1 when a signal ended it.
inline int Wait(pid_t pid)
{
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Waits up to 5 s for a file (a pty's link) to appear.
inline bool WaitForFile(const std::string &path)
{
    for (int i = 0; i < 500; ++i) {
        struct stat info
        {
        };
        if (::stat(path.c_str(), &info) == 0)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

} // namespace kestrune::bench
