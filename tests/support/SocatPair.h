#pragma once

// Two pseudo terminals joined by socat, as a null-modem cable joins two serial
// ports: what is written to one end is read at the other. Both ends have a
// path, so programs that open a device by name (a Modbus master, the program
// under test) can sit at either end. Used by tests and benchmarks.
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

extern char **environ;

namespace kestrune::testing {

class TSocatPair
{
public:
    TSocatPair()
    {
        char folder[] = "/tmp/kestrune-socat-XXXXXX";
        if (::mkdtemp(folder))
            FFolder = folder;
    }
    ~TSocatPair()
    {
        Stop();
        std::error_code ignored;
        if (!FFolder.empty())
            std::filesystem::remove_all(FFolder, ignored);
    }
    TSocatPair(const TSocatPair &) = delete;
    TSocatPair &operator=(const TSocatPair &) = delete;

    [[nodiscard]] std::string EndA() const { return FFolder + "/a"; }
    [[nodiscard]] std::string EndB() const { return FFolder + "/b"; }

    // Starts socat and waits (at most 5 seconds) until both ends exist;
    // false with Error set when it does not come up.
    bool Start(std::string &error)
    {
        if (FFolder.empty()) {
            error = "no folder for the pty links";
            return false;
        }
        const std::string a = "pty,raw,echo=0,link=" + EndA();
        const std::string b = "pty,raw,echo=0,link=" + EndB();
        const char *argv[] = {"socat", a.c_str(), b.c_str(), nullptr};
        if (::posix_spawnp(&FPid, "socat", nullptr, nullptr, const_cast<char *const *>(argv),
                           environ) != 0) {
            FPid = -1;
            error = "cannot start socat; scripts/install-deps.sh installs it";
            return false;
        }
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!std::filesystem::exists(EndA()) || !std::filesystem::exists(EndB())) {
            int status = 0;
            if (::waitpid(FPid, &status, WNOHANG) == FPid ||
                std::chrono::steady_clock::now() > deadline) {
                FPid = -1;
                error = "socat did not make its pty pair";
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return true;
    }

    void Stop()
    {
        if (FPid <= 0)
            return;
        ::kill(FPid, SIGTERM);
        int status = 0;
        ::waitpid(FPid, &status, 0);
        FPid = -1;
    }

private:
    std::string FFolder;
    pid_t FPid = -1;
};

// One end of a pair opened raw by the caller, for writing requests by hand.
class TRawEnd
{
public:
    explicit TRawEnd(const std::string &path)
        : FFd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC))
    {
        termios tio{};
        if (FFd >= 0 && ::tcgetattr(FFd, &tio) == 0) {
            ::cfmakeraw(&tio);
            ::tcsetattr(FFd, TCSANOW, &tio);
        }
    }
    ~TRawEnd()
    {
        if (FFd >= 0)
            ::close(FFd);
    }
    TRawEnd(const TRawEnd &) = delete;
    TRawEnd &operator=(const TRawEnd &) = delete;

    [[nodiscard]] bool Valid() const { return FFd >= 0; }
    [[nodiscard]] int Fd() const { return FFd; }
    bool Write(const std::string &bytes) const
    {
        return ::write(FFd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    }
    // What arrives within `ms`, up to `count` bytes; waits no longer once
    // `count` bytes are there.
    std::string Read(std::size_t count, int ms) const
    {
        std::string got;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (got.size() < count) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  deadline - std::chrono::steady_clock::now())
                                  .count();
            pollfd fd{FFd, POLLIN, 0};
            if (left <= 0 || ::poll(&fd, 1, static_cast<int>(left)) <= 0)
                break;
            char buffer[256];
            const ssize_t n = ::read(FFd, buffer, std::min(sizeof buffer, count - got.size()));
            if (n <= 0)
                break;
            got.append(buffer, static_cast<std::size_t>(n));
        }
        return got;
    }

private:
    int FFd;
};

} // namespace kestrune::testing
