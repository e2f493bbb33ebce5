// File transfer against its baselines, in one run:
//  - XMODEM-1K from `kestrune send` to lrzsz's rx, against lrzsz's own sx to
//    the same rx, on the same socat pty at 115200 baud (rx behind socat's pipes
//    in both runs), with the line time (10 bits a byte) for scale;
//  - a raw send paced at --rate, read on a pty with time stamps: the rate kept
//    over about 10 s.
//
// KESTRUNE_TRANSFER_BENCH_KB (default 256) sets the XMODEM file's size.
#include "bench/BenchProcess.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <pty.h>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace kestrune::bench;

pid_t Spawn(const std::vector<std::string> &args, const std::string &dir = {})
{
    return kestrune::bench::Spawn(args, 2, dir);
}

std::string Slurp(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// One XMODEM-1K send to rx behind a socat pty; the seconds it took, or -1.
double SendToRx(const std::string &folder, const std::string &file,
                const std::vector<std::string> &sender, const std::string &expected)
{
    const std::string tty = folder + "/tty";
    const std::string got = folder + "/got.bin";
    ::unlink(got.c_str());
    const pid_t socat =
        Spawn({"socat", "pty,raw,echo=0,link=" + tty, "EXEC:rx -c got.bin,pipes"}, folder);
    if (socat < 0 || !WaitForFile(tty))
        return -1;
    std::vector<std::string> args = sender;
    for (std::string &a : args) {
        for (std::size_t at = a.find("TTY"); at != std::string::npos; at = a.find("TTY"))
            a.replace(at, 3, tty);
    }
    const auto start = Clock::now();
    const int status = Wait(Spawn(args, folder));
    const double took = Seconds(start);
    Wait(socat);
    const std::string received = Slurp(got);
    if (status != 0 || received.substr(0, expected.size()) != expected) {
        std::printf("  (failed: status %d, %zu bytes received)\n", status, received.size());
        return -1;
    }
    return took;
}

} // namespace

int main()
{
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const char *kbText = std::getenv("KESTRUNE_TRANSFER_BENCH_KB");
    const int kb = kbText && *kbText ? std::atoi(kbText) : 256;
    char folderTemplate[] = "/tmp/kestrune-transfer-bench-XXXXXX";
    const std::string folder = ::mkdtemp(folderTemplate);
    std::string data(static_cast<std::size_t>(kb) * 1024, '\0');
    unsigned x = 12345;
    for (char &c : data) {
        x = x * 1103515245u + 12345u;
        c = static_cast<char>(x >> 16);
    }
    const std::string file = folder + "/file.bin";
    std::ofstream(file, std::ios::binary) << data;

    const double lineTime = double(data.size()) * 10 / 115200;
    std::printf("XMODEM-1K, %d KiB at 115200 baud (line time %.2f s):\n", kb, lineTime);
    // sx takes its line's speed from the tty: set it as the program sets its own.
    const std::string sx = "stty -F TTY 115200 && exec sx -k file.bin <TTY >TTY";
    const double lrzsz = SendToRx(folder, file, {"sh", "-c", sx}, data);
    const double kestrune = SendToRx(
        folder, file,
        {KESTRUNE_PROGRAM, "send", file, "--protocol", "xmodem-1k", "--serial", "TTY,115200"},
        data);
    std::printf("  sx -k -> rx:          %.2f s (%.2f x line time)\n", lrzsz, lrzsz / lineTime);
    std::printf("  kestrune send -> rx:  %.2f s (%.2f x line time, %.2f x sx)\n", kestrune,
                kestrune / lineTime, kestrune / lrzsz);

    // Raw paced: 10 s at the rate, read on a pty with time stamps.
    const int rate = 20000;
    const std::string raw = folder + "/raw.bin";
    std::ofstream(raw, std::ios::binary) << std::string(std::size_t(rate) * 10, 'r');
    int master = -1;
    int slave = -1;
    char name[256] = {};
    if (::openpty(&master, &slave, name, nullptr, nullptr) != 0)
        return 1;
    termios tio{};
    ::tcgetattr(slave, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(slave, TCSANOW, &tio);
    const pid_t sender = Spawn({KESTRUNE_PROGRAM, "send", raw, "--protocol", "raw", "--rate",
                                std::to_string(rate), "--serial", name});
    std::size_t total = 0;
    std::size_t first = 0;
    Clock::time_point firstAt;
    Clock::time_point lastAt;
    char buffer[65536];
    while (total < std::size_t(rate) * 10) {
        pollfd p{master, POLLIN, 0};
        if (::poll(&p, 1, 5000) <= 0)
            break;
        const ssize_t n = ::read(master, buffer, sizeof buffer);
        if (n <= 0)
            break;
        if (total == 0) {
            firstAt = Clock::now();
            first = std::size_t(n);
        }
        total += std::size_t(n);
        lastAt = Clock::now();
    }
    Wait(sender);
    ::close(slave);
    ::close(master);
    const double span = std::chrono::duration<double>(lastAt - firstAt).count();
    const double kept = span > 0 ? double(total - first) / span : 0;
    std::printf("Raw send at --rate %d over %.2f s: %.0f bytes/s (%+.2f%%)\n", rate, span, kept,
                (kept / rate - 1) * 100);
    std::remove(file.c_str());
    std::remove(raw.c_str());
    std::remove((folder + "/got.bin").c_str());
    ::rmdir(folder.c_str());
    return 0;
}
