// The shell commands against their baselines, in one run:
//  - reply lines per second of `kestrune run` (send a frame, wait for its echo)
//    against a plain C loop doing the same write-and-wait on the same link,
//    over TCP and over a pty pair, each with a socat echo peer;
//  - `kestrune bridge` relaying one TCP stream against socat doing the same.
//
// KESTRUNE_SHELL_BENCH_LINES (default 4000) and KESTRUNE_SHELL_BENCH_MB
// (default 200) set the sizes.
#include "bench/BenchProcess.h"
#include "tests/support/LoopbackPort.h"

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <spawn.h>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace kestrune::bench;

int EnvInt(const char *name, int fallback)
{
    const char *value = std::getenv(name);
    return value && *value ? std::atoi(value) : fallback;
}

pid_t Spawn(const std::vector<std::string> &args)
{
    return kestrune::bench::Spawn(args, 1);
}

void Stop(pid_t pid)
{
    if (pid > 0) {
        ::kill(pid, SIGTERM);
        Wait(pid);
    }
}

// A connected loopback socket, retried while the listener is starting.
int Connect(int port)
{
    for (int attempt = 0; attempt < 500; ++attempt) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<std::uint16_t>(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0) {
            const int one = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            return fd;
        }
        ::close(fd);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return -1;
}

constexpr char Frame[] = "\x01\x02\x03\x04\x05\x06\x07\x08";
constexpr std::size_t FrameSize = 8;

// The baseline: write a frame, read until its echo is whole, n times.
double CLoopLinesPerSecond(int fd, int n)
{
    const auto start = Clock::now();
    char buffer[64];
    for (int i = 0; i < n; ++i) {
        if (::write(fd, Frame, FrameSize) != static_cast<ssize_t>(FrameSize))
            return 0;
        std::size_t got = 0;
        while (got < FrameSize) {
            const ssize_t r = ::read(fd, buffer, sizeof buffer);
            if (r <= 0)
                return 0;
            got += static_cast<std::size_t>(r);
        }
    }
    return n / Seconds(start);
}

std::string WriteList(const std::string &dir, int pairs)
{
    const std::string path = dir + "/list" + std::to_string(pairs) + ".txt";
    std::ofstream list(path);
    for (int i = 0; i < pairs; ++i)
        list << "S:H:01 02 03 04 05 06 07 08\nR:T2000:H:01 02 03 04 05 06 07 08\n";
    return path;
}

// `kestrune run` over `channel`: the rate of reply lines, start-up left out by
// taking a one-line run's time from an n-line run's.
double RunLinesPerSecond(const std::string &dir, const std::vector<std::string> &channel, int n)
{
    double seconds[2] = {0, 0};
    const int sizes[2] = {1, n};
    for (int k = 0; k < 2; ++k) {
        std::vector<std::string> args = {KESTRUNE_PROGRAM, "run", WriteList(dir, sizes[k]), "-q"};
        args.insert(args.end(), channel.begin(), channel.end());
        const auto start = Clock::now();
        if (Wait(Spawn(args)) != 0) {
            std::fprintf(stderr, "kestrune run failed on %s\n", channel.back().c_str());
            return 0;
        }
        seconds[k] = Seconds(start);
    }
    return (n - 1) / (seconds[1] - seconds[0]);
}

void ReplyLines(const std::string &dir, int n)
{
    // TCP: a socat echo that serves every connection.
    const int port = kestrune::testing::FreeLoopbackPort();
    const pid_t echo =
        Spawn({"socat", "TCP-LISTEN:" + std::to_string(port) + ",bind=127.0.0.1,reuseaddr,fork",
               "EXEC:cat"});
    const int fd = Connect(port);
    const double cTcp = CLoopLinesPerSecond(fd, n);
    ::close(fd);
    const double kTcp =
        RunLinesPerSecond(dir, {"--tcp-client", "127.0.0.1," + std::to_string(port)}, n);
    Stop(echo);
    std::printf("reply lines over TCP:  kestrune run %.0f/s, C loop %.0f/s, ratio %.2f\n", kTcp,
                cTcp, kTcp / cTcp);

    // A pty pair: socat's pty, echoed by cat.
    const std::string tty = dir + "/tty";
    const pid_t ptyEcho = Spawn({"socat", "PTY,link=" + tty + ",rawer", "EXEC:cat"});
    WaitForFile(tty);
    const int serial = ::open(tty.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios t{};
    ::tcgetattr(serial, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(serial, TCSANOW, &t);
    const double cPty = CLoopLinesPerSecond(serial, n);
    ::close(serial);
    // The default read time-outs end a read after 100 ms of silence, so a
    // reply waits that long; a read that returns what is there is one setting away.
    const std::string immediate = dir + "/immediate.ini";
    std::ofstream(immediate) << "[Main]\nReadIntervalTimeout=-1\nReadTimeoutMultiplier=0\n"
                                "ReadTimeoutConstant=0\n";
    const double kPty =
        RunLinesPerSecond(dir, {"--settings", immediate, "--serial", tty + ",115200"}, n);
    const double kPtyDefault = RunLinesPerSecond(dir, {"--serial", tty + ",115200"}, 21);
    Stop(ptyEcho);
    std::printf("reply lines over a pty: kestrune run %.0f/s (reads returning at once), C loop "
                "%.0f/s, ratio %.2f; with the default read time-outs %.1f/s\n",
                kPty, cPty, kPty / cPty, kPtyDefault);
}

// A source that writes `bytes` of a counting pattern into `port`, and a sink
// that takes them from its listening socket and checks them: the seconds from
// the source's connect to the sink's last byte, negative when a byte was lost
// or changed.
double Relay(int sourcePort, int sinkListen, std::size_t bytes)
{
    std::atomic<bool> intact{true};
    std::atomic<std::size_t> received{0};
    std::thread sink([&] {
        const int fd = ::accept(sinkListen, nullptr, nullptr);
        std::vector<unsigned char> buffer(1 << 16);
        std::size_t pos = 0;
        while (pos < bytes) {
            const ssize_t r = ::read(fd, buffer.data(), buffer.size());
            if (r <= 0)
                break;
            for (ssize_t i = 0; i < r; ++i, ++pos) {
                if (buffer[static_cast<std::size_t>(i)] != static_cast<unsigned char>(pos % 251))
                    intact = false;
            }
        }
        received = pos;
        ::close(fd);
    });
    const int source = Connect(sourcePort);
    const auto start = Clock::now();
    std::vector<unsigned char> chunk(1 << 16);
    for (std::size_t sent = 0; sent < bytes;) {
        const std::size_t n = std::min(chunk.size(), bytes - sent);
        for (std::size_t i = 0; i < n; ++i)
            chunk[i] = static_cast<unsigned char>((sent + i) % 251);
        const ssize_t w = ::write(source, chunk.data(), n);
        if (w <= 0)
            break;
        sent += static_cast<std::size_t>(w);
    }
    sink.join();
    const double seconds = Seconds(start);
    ::close(source);
    return intact && received == bytes ? seconds : -seconds;
}

int Listen(int &port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
    ::listen(fd, 4);
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len);
    port = ntohs(a.sin_port);
    return fd;
}

void Bridge(std::size_t mb)
{
    const std::size_t bytes = mb << 20;
    double socatSeconds = 0;
    double bridgeSeconds = 0;
    {
        int sinkPort = 0;
        const int sink = Listen(sinkPort);
        const int port = kestrune::testing::FreeLoopbackPort();
        const pid_t socat =
            Spawn({"socat", "TCP-LISTEN:" + std::to_string(port) + ",bind=127.0.0.1,reuseaddr",
                   "TCP:127.0.0.1:" + std::to_string(sinkPort)});
        socatSeconds = Relay(port, sink, bytes);
        Stop(socat);
        ::close(sink);
    }
    {
        int sinkPort = 0;
        const int sink = Listen(sinkPort);
        const int port = kestrune::testing::FreeLoopbackPort();
        const pid_t bridge =
            Spawn({KESTRUNE_PROGRAM, "bridge", "-q", "--tcp-server", std::to_string(port),
                   "--relay", "tcp-client,127.0.0.1," + std::to_string(sinkPort)});
        bridgeSeconds = Relay(port, sink, bytes);
        Stop(bridge);
        ::close(sink);
    }
    const auto rate = [&](double s) { return s > 0 ? mb / s : 0.0; };
    std::printf("bridge, %zu MB over TCP: kestrune %.0f MB/s%s, socat %.0f MB/s%s, ratio %.2f\n",
                mb, rate(bridgeSeconds), bridgeSeconds > 0 ? "" : " (LOST BYTES)",
                rate(socatSeconds), socatSeconds > 0 ? "" : " (LOST BYTES)",
                rate(bridgeSeconds) / rate(socatSeconds));
}

} // namespace

int main()
{
    std::signal(SIGPIPE, SIG_IGN);
    char dirTemplate[] = "/tmp/kestrune-shell-bench-XXXXXX";
    const std::string dir = ::mkdtemp(dirTemplate);
    ReplyLines(dir, EnvInt("KESTRUNE_SHELL_BENCH_LINES", 4000));
    Bridge(static_cast<std::size_t>(EnvInt("KESTRUNE_SHELL_BENCH_MB", 200)));
    std::string cleanup = "rm -rf '" + dir + "'";
    return std::system(cleanup.c_str()) == 0 ? 0 : 1;
}
