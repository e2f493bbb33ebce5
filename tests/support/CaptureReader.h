#pragma once

// Reads pcapng captures back with tshark and capinfos, and runs socat peers:
// the programs a user would check a capture with. Every wait has a deadline.
#include "tests/support/LoopbackPort.h"
#include <QProcess>
#include <QStringList>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace kestrune::testing {

// Runs a program to its end (at most 60 s): its standard output, or
// "exit N: <stderr>" when it failed.
inline std::string RunTool(const QString &program, const QStringList &args, bool *ok = nullptr)
{
    QProcess p;
    p.start(program, args);
    const bool done = p.waitForStarted(10000) && p.waitForFinished(60000);
    const bool good = done && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    if (ok)
        *ok = good;
    if (!good)
        return "exit " + std::to_string(p.exitCode()) + ": " +
               p.readAllStandardError().toStdString();
    return p.readAllStandardOutput().toStdString();
}

// The given fields of every packet that passes `filter`, one row per packet,
// fields joined by '|'. `options` go before the fields (-d, -o).
inline std::vector<std::string> TsharkRows(const std::string &capture, const QStringList &fields,
                                           const QStringList &options = {},
                                           const QString &filter = {})
{
    QStringList args{"-r",         QString::fromStdString(capture), "-n", "-T", "fields", "-E",
                     "separator=|"};
    args += options;
    if (!filter.isEmpty())
        args += QStringList{"-Y", filter};
    for (const QString &f : fields)
        args += QStringList{"-e", f};
    bool ok = false;
    const std::string out = RunTool("tshark", args, &ok);
    std::vector<std::string> rows;
    if (!ok)
        return {out};
    std::size_t at = 0;
    while (at < out.size()) {
        const std::size_t end = out.find('\n', at);
        rows.push_back(out.substr(at, end - at));
        at = end == std::string::npos ? out.size() : end + 1;
    }
    return rows;
}

} // namespace kestrune::testing
