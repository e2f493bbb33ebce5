#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTimer>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <netinet/in.h>
#include <poll.h>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace kestrune::test {

// A socat process as the far side of a link: what is given to Send goes to
// its standard input and out over its address; what it receives collects in
// Output. Ended (SIGTERM, then reaped) when the object goes.
class TSocatPeer
{
public:
    explicit TSocatPeer(const std::string &address, const std::vector<std::string> &options = {})
    {
        int in[2];
        int out[2];
        if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0)
            return;
        FPid = ::fork();
        if (FPid == 0) {
            ::dup2(in[0], 0);
            ::dup2(out[1], 1);
            std::vector<std::string> args{"socat"};
            args.insert(args.end(), options.begin(), options.end());
            args.push_back("-");
            args.push_back(address);
            std::vector<char *> argv;
            for (std::string &a : args)
                argv.push_back(a.data());
            argv.push_back(nullptr);
            ::execvp("socat", argv.data());
            ::_exit(127);
        }
        ::close(in[0]);
        ::close(out[1]);
        FIn = in[1];
        FOut = out[0];
        ::fcntl(FOut, F_SETFL, O_NONBLOCK);
    }
    ~TSocatPeer()
    {
        CloseInput();
        if (FOut >= 0)
            ::close(FOut);
        if (FPid > 0) {
            ::kill(FPid, SIGTERM);
            ::waitpid(FPid, nullptr, 0);
        }
    }
    TSocatPeer(const TSocatPeer &) = delete;
    TSocatPeer &operator=(const TSocatPeer &) = delete;

    [[nodiscard]] bool Started() const { return FPid > 0; }
    bool Send(const std::string &bytes)
    {
        return FIn >= 0 && ::write(FIn, bytes.data(), bytes.size()) == ssize_t(bytes.size());
    }
    // The peer's input ends: socat closes its side of the link.
    void CloseInput()
    {
        if (FIn >= 0)
            ::close(FIn);
        FIn = -1;
    }
    // Everything received so far.
    const std::string &Output()
    {
        char buf[65536];
        ssize_t n;
        while (FOut >= 0 && (n = ::read(FOut, buf, sizeof buf)) > 0)
            FOutput.append(buf, static_cast<std::size_t>(n));
        return FOutput;
    }
    // True once socat has exited (its link ended).
    bool Exited()
    {
        if (FPid > 0 && ::waitpid(FPid, nullptr, WNOHANG) == FPid)
            FPid = -1;
        return FPid <= 0;
    }

private:
    pid_t FPid = -1;
    int FIn = -1;
    int FOut = -1;
    std::string FOutput;
};

// A port on which nothing of the kind listens now (the system's choice, let go).
inline int VacantPort(int type, int family = AF_INET6)
{
    const int fd = ::socket(family, type | SOCK_CLOEXEC, 0);
    sockaddr_in6 addr{};
    addr.sin6_family = AF_INET6;
    ::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr);
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len);
    ::close(fd);
    return ntohs(addr.sin6_port);
}

// True once a socket of /proc/net/<table> ("tcp6", "udp6") is bound to the
// port (and, for TCP, listens), within the time.
inline bool WaitBound(const std::string &table, int port, int timeoutMs = 5000)
{
    char hex[8];
    std::snprintf(hex, sizeof hex, ":%04X", port);
    QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        std::ifstream file("/proc/net/" + table);
        std::string line;
        while (std::getline(file, line)) {
            std::istringstream fields(line);
            std::string slot;
            std::string local;
            std::string remote;
            std::string state;
            fields >> slot >> local >> remote >> state;
            const bool listening = table.rfind("tcp", 0) != 0 || state == "0A";
            if (local.size() > 5 && local.compare(local.size() - 5, 5, hex) == 0 && listening)
                return true;
        }
        ::usleep(10'000);
    }
    return false;
}

} // namespace kestrune::test
