#pragma once

#include "common/AppPaths.h"
#include "debugchannel/DbugIntf.h"
#include "debugchannel/DebugSocketPath.h"

#include <QCoreApplication>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <optional>
#include <poll.h>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace kestrune {

// Runs the event loop (a started window is awaited there) until `done` holds
// or the time is up.
inline bool WaitUntil(const std::function<bool()> &done, int timeoutMs = 10000)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

inline int OpenFdCount()
{
    const std::filesystem::directory_iterator fds("/proc/self/fd");
    return static_cast<int>(std::distance(begin(fds), end(fds)));
}

inline std::string FileText(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

inline void WriteFile(const std::string &path, const std::string &text, mode_t mode = 0644)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
    ::chmod(path.c_str(), mode);
}

// The stand-in debug window, built beside the program (the test sits in tests/).
inline std::string StandInProgram()
{
    namespace fs = std::filesystem;
    const fs::path testDir = fs::path(paths::ExecutablePath()).parent_path();
    return (testDir.parent_path() / std::string(DebugWindowProgramName)).string();
}

// A debug window inside the test: a datagram socket bound at `path`.
class TRecordListener
{
public:
    explicit TRecordListener(const std::string &path)
    {
        sockaddr_un addr{};
        EXPECT_TRUE(MakeDebugSocketAddress(path, addr));
        FSocket = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        EXPECT_EQ(::bind(FSocket, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
    }
    ~TRecordListener() { ::close(FSocket); }
    TRecordListener(const TRecordListener &) = delete;
    TRecordListener &operator=(const TRecordListener &) = delete;

    // Everything waiting, one record each.
    std::vector<std::string> Drain()
    {
        std::vector<std::string> records;
        while (auto record = Receive(0))
            records.push_back(*record);
        return records;
    }

    std::optional<std::string> Receive(int timeoutMs = 5000)
    {
        pollfd fd{FSocket, POLLIN, 0};
        if (::poll(&fd, 1, timeoutMs) != 1)
            return std::nullopt;
        char buffer[4096];
        const ssize_t got = ::recv(FSocket, buffer, sizeof buffer, MSG_DONTWAIT);
        return got < 0 ? std::nullopt : std::optional<std::string>(std::string(buffer, got));
    }

private:
    int FSocket = -1;
};

// Every test gets its own socket folder, settings file and an empty program folder,
// so no test sees the user's debug window or another test's.
class DebugChannelTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/kdbgXXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        Dir = pattern;
        std::filesystem::create_directory(Dir + "/bin");
        ResetChannel();
    }
    void ResetChannel()
    {
        debugchannel_testing::Reset();
        SetDebugSocketDirOverride(Dir);
        debugchannel_testing::SetSettingsPathOverride(Dir + "/Debug.ini");
        debugchannel_testing::SetExecutableDirOverride(Dir + "/bin");
    }
    void TearDown() override
    {
        if (const pid_t pid = debugchannel_testing::LastSpawnedPid(); pid > 0)
            ::kill(pid, SIGTERM);
        debugchannel_testing::Reset();
        std::error_code ec;
        std::filesystem::remove_all(Dir, ec);
    }
    std::string SocketPath() const { return Dir + "/" + std::string(DebugWindowClassName); }

    std::string Dir;
};

} // namespace kestrune
