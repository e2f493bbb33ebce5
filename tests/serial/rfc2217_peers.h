#pragma once

// Peers for remote serial port tests, shared by the serial and window tests
// and the benchmark: the real ser2net serving a pty whose master the caller
// holds, and a scripted RFC 2217 server on a socket of its own.

#include "tests/support/LoopbackPort.h"
#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <pty.h>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

extern char **environ;

namespace kestrune::testing {

// True once something listens on 127.0.0.1:Port (read from /proc, so the
// check opens no connection that a single-user server would count).
inline bool IsListening(int Port)
{
    char local[32];
    std::snprintf(local, sizeof local, "0100007F:%04X", Port);
    std::ifstream table("/proc/net/tcp");
    std::string line;
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string slot, address, remote, state;
        fields >> slot >> address >> remote >> state;
        if (address == local && state == "0A")
            return true;
    }
    return false;
}

// A TCP socket listening on 127.0.0.1 at a port of the system's choice, with
// a receive buffer of ReceiveBuffer bytes when not 0 (its clients inherit it);
// -1 when there is none.
inline int ListenOnLoopback(int &Port, int ReceiveBuffer = 0)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (ReceiveBuffer > 0)
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &ReceiveBuffer, sizeof ReceiveBuffer);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 || ::listen(fd, 1) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len) != 0) {
        ::close(fd);
        return -1;
    }
    Port = ntohs(a.sin_port);
    return fd;
}

// Waits for one client on Listen until Stop; -1 when stopped first.
inline int AcceptOne(int Listen, const std::atomic<bool> &Stop)
{
    while (!Stop) {
        pollfd fd{Listen, POLLIN, 0};
        if (::poll(&fd, 1, 20) == 1)
            return ::accept4(Listen, nullptr, nullptr, SOCK_CLOEXEC);
    }
    return -1;
}

// ser2net in the foreground, serving the slave of a pty pair as an RFC 2217
// port on 127.0.0.1. Its configuration and log live in a folder of its own.
class TSer2net
{
public:
    TSer2net()
    {
        int slave = -1;
        char name[256] = {};
        if (::openpty(&FMaster, &slave, name, nullptr, nullptr) != 0)
            return;
        ::close(slave);
        FSlavePath = name;
        ::fcntl(FMaster, F_SETFD, FD_CLOEXEC);
        char folder[] = "/tmp/kestrune-ser2net-XXXXXX";
        if (::mkdtemp(folder))
            FFolder = folder;
        FPort = FreeLoopbackPort();
    }
    ~TSer2net()
    {
        Stop();
        if (FMaster >= 0)
            ::close(FMaster);
        if (!FFolder.empty()) {
            std::remove((FFolder + "/ser2net.yaml").c_str());
            std::remove((FFolder + "/ser2net.log").c_str());
            ::rmdir(FFolder.c_str());
        }
    }
    TSer2net(const TSer2net &) = delete;
    TSer2net &operator=(const TSer2net &) = delete;

    [[nodiscard]] int Master() const { return FMaster; }
    [[nodiscard]] const std::string &SlavePath() const { return FSlavePath; }
    [[nodiscard]] int Port() const { return FPort; }
    [[nodiscard]] std::string Url() const { return "rfc2217://127.0.0.1:" + std::to_string(FPort); }

    // Starts ser2net and waits until it listens; false with Error set when it
    // is not installed or does not come up within 5 seconds.
    bool Start(std::string &Error)
    {
        if (FMaster < 0 || FFolder.empty() || FPort <= 0) {
            Error = "no pty, folder or free port for ser2net";
            return false;
        }
        const char *program =
            ::access("/usr/sbin/ser2net", X_OK) == 0 ? "/usr/sbin/ser2net" : "ser2net";
        const std::string config = FFolder + "/ser2net.yaml";
        std::ofstream(config) << "connection: &kestrune\n"
                              << "  accepter: telnet(rfc2217),tcp,127.0.0.1," << FPort << "\n"
                              << "  connector: serialdev," << FSlavePath << ",9600n81,local\n";
        const std::string log = FFolder + "/ser2net.log";
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                         0644);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        // -n: foreground; -d: log to stdout; -u: no UUCP lock files.
        const char *argv[] = {program, "-n", "-d", "-u", "-c", config.c_str(), nullptr};
        const int spawned = ::posix_spawnp(&FPid, program, &actions, nullptr,
                                           const_cast<char *const *>(argv), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (spawned != 0) {
            FPid = -1;
            Error = "cannot start ser2net (" + std::string(std::strerror(spawned)) +
                    "); scripts/install-deps.sh installs it";
            return false;
        }
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!IsListening(FPort)) {
            int status = 0;
            if (::waitpid(FPid, &status, WNOHANG) == FPid) {
                FPid = -1;
                Error = "ser2net ended at once (not installed? scripts/install-deps.sh "
                        "installs it): " +
                        ReadLog();
                return false;
            }
            if (std::chrono::steady_clock::now() > deadline) {
                Error =
                    "ser2net does not listen on port " + std::to_string(FPort) + ": " + ReadLog();
                Stop();
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return true;
    }

    // Ends ser2net (TERM, then KILL after 3 seconds) and waits for it.
    void Stop()
    {
        if (FPid <= 0)
            return;
        ::kill(FPid, SIGTERM);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
        int status = 0;
        while (::waitpid(FPid, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                ::kill(FPid, SIGKILL);
                ::waitpid(FPid, &status, 0);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        FPid = -1;
    }

    [[nodiscard]] std::string ReadLog() const
    {
        std::ifstream in(FFolder + "/ser2net.log");
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }

    // The pty's settings as ser2net left them (the pair shares one termios).
    [[nodiscard]] termios Settings() const
    {
        termios tio{};
        ::tcgetattr(FMaster, &tio);
        return tio;
    }

    // Waits until the pty runs at Baud (one of the common rates). ser2net
    // takes the commands of an open in order, so once the rate is set, the
    // purge sent before it is done and bytes written now are not purged.
    bool WaitForBaudRate(std::uint32_t Baud, std::chrono::milliseconds Limit)
    {
        const std::pair<std::uint32_t, speed_t> rates[] = {{4800, B4800},   {9600, B9600},
                                                           {19200, B19200}, {38400, B38400},
                                                           {57600, B57600}, {115200, B115200}};
        speed_t speed = B0;
        for (const auto &[rate, code] : rates) {
            if (rate == Baud)
                speed = code;
        }
        const auto deadline = std::chrono::steady_clock::now() + Limit;
        while (std::chrono::steady_clock::now() < deadline) {
            const termios tio = Settings();
            if (speed != B0 && ::cfgetospeed(&tio) == speed)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return false;
    }

    // Writes all of Bytes into the pty for ser2net to read; false on time-out.
    bool WriteMaster(const std::string &Bytes, std::chrono::milliseconds Limit)
    {
        const auto deadline = std::chrono::steady_clock::now() + Limit;
        std::size_t done = 0;
        while (done < Bytes.size()) {
            const ssize_t n = ::write(FMaster, Bytes.data() + done, Bytes.size() - done);
            if (n > 0) {
                done += std::size_t(n);
                continue;
            }
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            pollfd fd{FMaster, POLLOUT, 0};
            ::poll(&fd, 1, 10);
        }
        return true;
    }

    // Reads from the pty until Count bytes are in or Limit passes. Safe from a
    // thread of the caller's own.
    std::string ReadMaster(std::size_t Count, std::chrono::milliseconds Limit)
    {
        std::string out;
        const auto deadline = std::chrono::steady_clock::now() + Limit;
        char buffer[65536];
        while (out.size() < Count && std::chrono::steady_clock::now() < deadline) {
            pollfd fd{FMaster, POLLIN, 0};
            if (::poll(&fd, 1, 10) <= 0)
                continue;
            // EIO while no one holds the slave open: ser2net is not connected yet.
            const ssize_t n = ::read(FMaster, buffer, std::min(sizeof buffer, Count - out.size()));
            if (n > 0)
                out.append(buffer, std::size_t(n));
            else
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return out;
    }

private:
    int FMaster = -1;
    std::string FSlavePath;
    std::string FFolder;
    int FPort = -1;
    pid_t FPid = -1;
};

// An RFC 2217 server played from a script, for what ser2net on a pty cannot
// show: DTR, RTS and break commands, notifications, and refusals. It takes
// one client, sends Greeting, and keeps everything the client sends.
class TScriptedComPortServer
{
public:
    explicit TScriptedComPortServer(std::string Greeting) : FGreeting(std::move(Greeting))
    {
        FListen = ListenOnLoopback(FPort);
        if (FListen >= 0)
            FThread = std::thread([this] { Run(); });
    }
    ~TScriptedComPortServer()
    {
        FStop = true;
        if (FThread.joinable())
            FThread.join();
        if (FClient >= 0)
            ::close(FClient);
        ::close(FListen);
    }
    TScriptedComPortServer(const TScriptedComPortServer &) = delete;
    TScriptedComPortServer &operator=(const TScriptedComPortServer &) = delete;

    [[nodiscard]] int Port() const { return FPort; }
    [[nodiscard]] std::string Url() const { return "rfc2217://127.0.0.1:" + std::to_string(FPort); }

    [[nodiscard]] std::string Received()
    {
        std::lock_guard lock(FLock);
        return FReceived;
    }
    void ClearReceived()
    {
        std::lock_guard lock(FLock);
        FReceived.clear();
    }
    // Sends to the connected client; false when there is none.
    bool Send(const std::string &Bytes)
    {
        if (FClient < 0)
            return false;
        return ::send(FClient, Bytes.data(), Bytes.size(), MSG_NOSIGNAL) ==
               static_cast<ssize_t>(Bytes.size());
    }

private:
    void Run()
    {
        FClient = AcceptOne(FListen, FStop);
        if (FClient < 0)
            return;
        Send(FGreeting);
        char buffer[4096];
        while (!FStop) {
            pollfd fd{FClient, POLLIN, 0};
            if (::poll(&fd, 1, 20) != 1)
                continue;
            const ssize_t n = ::recv(FClient, buffer, sizeof buffer, 0);
            if (n <= 0)
                break;
            std::lock_guard lock(FLock);
            FReceived.append(buffer, std::size_t(n));
        }
    }

    std::string FGreeting;
    int FListen = -1;
    std::atomic<int> FClient{-1};
    int FPort = -1;
    std::atomic<bool> FStop{false};
    std::mutex FLock;
    std::string FReceived;
    std::thread FThread;
};

// An RFC 2217 server that agrees to the option and then asks for the
// client's signature without end, reading nothing: what the client owes it
// can only pile up. Its own receive buffer is small, so that happens soon.
class TFloodingComPortServer
{
public:
    // A request: IAC SB COM-PORT-OPTION SIGNATURE(server) IAC SE.
    static constexpr char Request[] = "\xFF\xFA\x2C\x64\xFF\xF0";
    // The flood stops after this much, should the client never give up.
    static constexpr std::size_t MaxFlood = 32u << 20;

    TFloodingComPortServer()
    {
        FListen = ListenOnLoopback(FPort, 4096);
        if (FListen >= 0)
            FThread = std::thread([this] { Run(); });
    }
    ~TFloodingComPortServer()
    {
        FStop = true;
        if (FThread.joinable())
            FThread.join();
        ::close(FListen);
    }
    TFloodingComPortServer(const TFloodingComPortServer &) = delete;
    TFloodingComPortServer &operator=(const TFloodingComPortServer &) = delete;

    [[nodiscard]] std::string Url() const { return "rfc2217://127.0.0.1:" + std::to_string(FPort); }
    // Request bytes the client's socket took.
    [[nodiscard]] std::size_t Flooded() const { return FFlooded; }

private:
    void Run()
    {
        const int client = AcceptOne(FListen, FStop);
        if (client < 0)
            return;
        // DO COM-PORT-OPTION: the client's offer is agreed.
        if (::send(client, "\xFF\xFD\x2C", 3, MSG_NOSIGNAL) == 3) {
            std::string burst;
            for (int i = 0; i < 1024; ++i)
                burst.append(Request, sizeof Request - 1);
            std::size_t offset = 0; // into burst, so no request is cut short
            while (!FStop && FFlooded < MaxFlood) {
                pollfd fd{client, POLLOUT, 0};
                if (::poll(&fd, 1, 20) != 1)
                    continue;
                const ssize_t n = ::send(client, burst.data() + offset, burst.size() - offset,
                                         MSG_NOSIGNAL | MSG_DONTWAIT);
                if (n < 0 && errno != EAGAIN) {
                    FClientGone = true;
                    break;
                }
                if (n > 0) {
                    FFlooded += std::size_t(n);
                    offset = (offset + std::size_t(n)) % burst.size();
                }
            }
        }
        // Past MaxFlood the connection is held open, as a stuck server would.
        while (!FStop && !FClientGone)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        ::close(client);
    }

    int FListen = -1;
    int FPort = -1;
    std::atomic<bool> FStop{false};
    std::atomic<std::size_t> FFlooded{0};
    bool FClientGone = false;
    std::thread FThread;
};

} // namespace kestrune::testing
