// Request-to-answer time and answers per second of the answer rules, against
// a python3-pymodbus RTU server answering the same register, on the same kind
// of socat pty pair in the same run. The time runs from the request's last
// byte written to the answer's first byte read; each request waits for its
// answer, as a Modbus master does. The rules run twice: with a read interval
// of 1 ms, and with reads that hand on what there is at once (an endless
// interval and no total, the time-outs a quick responder is given).
//
//   bench_answer_bench [requests] [frame gap ms]
#include "engine/Engine.h"
#include "tests/support/SocatPair.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QProcess>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <thread>
#include <vector>

using namespace kestrune;
using namespace kestrune::testing;
using Clock = std::chrono::steady_clock;

namespace {

const std::string Request("\x01\x03\x00\x00\x00\x01\x84\x0A", 8);
const std::string Answer("\x01\x03\x02\x00\x2A\x39\x9B", 7);

struct TResult
{
    std::vector<double> LatencyMs;
    double Seconds = 0;
    int Missed = 0;
};

// The master's side, on its own thread: one request at a time.
TResult Poll(const std::string &device, int requests)
{
    TResult result;
    TRawEnd end(device);
    if (!end.Valid())
        return result;
    // A first exchange that is not timed: the server may still be starting.
    for (int i = 0; i < 50; ++i) {
        end.Write(Request);
        if (end.Read(Answer.size(), 200) == Answer)
            break;
    }
    const auto begin = Clock::now();
    for (int i = 0; i < requests; ++i) {
        end.Write(Request);
        const auto written = Clock::now();
        const std::string first = end.Read(1, 1000);
        const auto firstByte = Clock::now();
        if (first.empty() || first + end.Read(Answer.size() - 1, 1000) != Answer) {
            ++result.Missed;
            continue;
        }
        result.LatencyMs.push_back(
            std::chrono::duration<double, std::milli>(firstByte - written).count());
    }
    result.Seconds = std::chrono::duration<double>(Clock::now() - begin).count();
    return result;
}

double Percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, static_cast<std::size_t>(p * values.size()))];
}

void Report(const char *name, const TResult &r)
{
    std::printf("%-22s answers %5zu  missed %3d  median %6.2f ms  p99 %6.2f ms  %7.1f answers/s\n",
                name, r.LatencyMs.size(), r.Missed, Percentile(r.LatencyMs, 0.5),
                Percentile(r.LatencyMs, 0.99), r.LatencyMs.size() / std::max(r.Seconds, 1e-9));
}

// Runs the event loop until the master's thread is done.
TResult PollWhileLooping(const std::string &device, int requests);

// The engine with one rule on end A of a new pair, polled from end B.
TResult PollRules(int requests, int gapMs, bool promptReads)
{
    std::string error;
    TSocatPair pair;
    if (!pair.Start(error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return {};
    }
    const std::string rules = pair.EndA() + ".rules";
    std::ofstream(rules) << "A:H:01 03 00 00 00 01:H:01 03 02 00 2A\n";
    TEngine engine;
    TSettings settings;
    settings.Main.Port = pair.EndA();
    settings.Main.Baudrate = 115200;
    settings.Main.ByteSize = 3;
    settings.Main.ReadIntervalTimeout = promptReads ? UINT32_MAX : 1;
    settings.General.Check = 1;
    settings.General.VerifyChecks = true;
    settings.General.FrameGap = gapMs;
    engine.SetSettings(settings);
    engine.OnError = [](TEngineError, const std::string &m) {
        std::fprintf(stderr, "%s\n", m.c_str());
    };
    if (engine.SetAnswerRules(rules) || !engine.Start())
        return {};
    TResult result = PollWhileLooping(pair.EndB(), requests);
    engine.Stop();
    return result;
}

TResult PollWhileLooping(const std::string &device, int requests)
{
    QEventLoop loop;
    TResult result;
    std::thread master([&] {
        result = Poll(device, requests);
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec();
    master.join();
    return result;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int requests = argc > 1 ? std::atoi(argv[1]) : 2000;
    const int gapMs = argc > 2 ? std::atoi(argv[2]) : 5;
    std::string error;
    const TResult interval = PollRules(requests, gapMs, false);
    const TResult prompt = PollRules(requests, gapMs, true);
    if (interval.LatencyMs.empty() || prompt.LatencyMs.empty())
        return 1;

    // pymodbus on end A of another pair.
    TSocatPair theirs;
    if (!theirs.Start(error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    QProcess server;
    server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    server.start(QStringLiteral("/usr/bin/python3"),
                 {QStringLiteral(KESTRUNE_SOURCE_DIR "/bench/pymodbus_rtu_server.py"),
                  QString::fromStdString(theirs.EndA())});
    if (!server.waitForStarted(5000)) {
        std::fprintf(stderr, "cannot start /usr/bin/python3 with pymodbus\n");
        return 1;
    }
    const TResult pymodbus = PollWhileLooping(theirs.EndB(), requests);
    server.kill();
    server.waitForFinished(5000);

    std::printf("frame gap %d ms, %d requests each\n", gapMs, requests);
    Report("rules, interval 1 ms", interval);
    Report("rules, prompt reads", prompt);
    Report("pymodbus RTU server", pymodbus);
    const auto rate = [](const TResult &r) {
        return r.LatencyMs.size() / std::max(r.Seconds, 1e-9);
    };
    std::printf("answers per second against pymodbus: interval 1 ms %.2f, prompt reads %.2f\n",
                rate(interval) / std::max(rate(pymodbus), 1e-9),
                rate(prompt) / std::max(rate(pymodbus), 1e-9));
    return 0;
}
