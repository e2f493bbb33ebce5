// Stand-in debug window: binds the debug socket and prints each record it
// receives to stdout, one line per record. Usage: GExpertsDebugWindow [socket-path]

#include "debugchannel/DebugRecord.h"
#include "debugchannel/DebugSocketPath.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <string>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

using namespace kestrune;

namespace {

constexpr const char *programName = "GExpertsDebugWindow";

bool anotherWindowListens(const sockaddr_un &addr)
{
    const int probe = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (probe < 0)
        return false;
    const bool listens =
        ::connect(probe, reinterpret_cast<const sockaddr *>(&addr), sizeof addr) == 0;
    ::close(probe);
    return listens;
}

// Removes the socket at exit only while it is still ours, not one that a later
// window bound after replacing it.
void removeOwnSocket(const std::string &path, const struct stat &own)
{
    struct stat now = {};
    if (::lstat(path.c_str(), &now) == 0 && now.st_dev == own.st_dev && now.st_ino == own.st_ino)
        ::unlink(path.c_str());
}

} // namespace

int main(int argc, char **argv)
{
    const std::string path = argc > 1 ? std::string(argv[1]) : DebugSocketPath(true);
    sockaddr_un addr{};
    if (!MakeDebugSocketAddress(path, addr)) {
        std::fprintf(stderr, "%s: no usable socket path\n", programName);
        return 1;
    }

    // Signals arrive through a descriptor, so the loop can end cleanly between records.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    for (int sig : {SIGINT, SIGTERM, SIGHUP})
        sigaddset(&stopSignals, sig);
    sigprocmask(SIG_BLOCK, &stopSignals, nullptr);
    const int signals = ::signalfd(-1, &stopSignals, SFD_CLOEXEC);
    const int sock = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (signals < 0 || sock < 0) {
        std::fprintf(stderr, "%s: %s\n", programName, std::strerror(errno));
        return 1;
    }

    if (anotherWindowListens(addr)) {
        std::fprintf(stderr, "%s: a debug window already listens at %s\n", programName,
                     path.c_str());
        return 1;
    }
    // A socket left behind by a window that died is replaced; anything else is kept.
    struct stat existing = {};
    if (::lstat(path.c_str(), &existing) == 0 && S_ISSOCK(existing.st_mode))
        ::unlink(path.c_str());
    const mode_t oldMask = ::umask(077);
    const int bound = ::bind(sock, reinterpret_cast<const sockaddr *>(&addr), sizeof addr);
    ::umask(oldMask);
    struct stat own = {};
    if (bound != 0 || ::lstat(path.c_str(), &own) != 0) {
        std::fprintf(stderr, "%s: cannot listen at %s: %s\n", programName, path.c_str(),
                     std::strerror(errno));
        return 1;
    }
    std::fprintf(stderr, "%s: listening at %s\n", programName, path.c_str());

    // Larger than any datagram the kernel lets a sender queue by default.
    std::vector<char> buffer(256 * 1024);
    pollfd fds[2] = {{sock, POLLIN, 0}, {signals, POLLIN, 0}};
    for (;;) {
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (fds[1].revents)
            break;
        if (!(fds[0].revents & POLLIN))
            continue;
        const ssize_t got = ::recv(sock, buffer.data(), buffer.size(), MSG_TRUNC | MSG_DONTWAIT);
        if (got < 0)
            continue;
        std::string line;
        if (static_cast<std::size_t>(got) > buffer.size())
            line = "record of " + std::to_string(got) + " bytes is too long";
        else
            line = DescribeDebugRecord(std::string_view(buffer.data(), got));
        std::fprintf(stdout, "%s\n", line.c_str());
        std::fflush(stdout);
    }
    removeOwnSocket(path, own);
    ::close(sock);
    return 0;
}
