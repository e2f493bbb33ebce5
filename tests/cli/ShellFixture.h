#pragma once

// Runs the real program's shell commands as child processes, against socat
// peers, from a copy of the program in a folder of its own (its connection
// log lands there).

#include "app/ProgramCopy.h"
#include "tests/support/LoopbackPort.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStringList>
#include <QThread>
#include <chrono>
#include <functional>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace shelltest {

struct TRunResult
{
    int Exit = -1;
    QString Out;
    QString Err;
};

inline bool WaitUntil(const std::function<bool()> &done, int ms = 10000)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        QThread::msleep(10);
    }
    return true;
}

using kestrune::testing::FreeLoopbackPort;

// A child that is killed when the test ends, however it ends.
class TChild
{
public:
    ~TChild() { Kill(); }
    QProcess &Process() { return FProcess; }
    void Start(const QString &program, const QStringList &args, const QString &dir = {})
    {
        if (!dir.isEmpty())
            FProcess.setWorkingDirectory(dir);
        FProcess.start(program, args);
        ASSERT_TRUE(FProcess.waitForStarted(5000)) << program.toStdString();
    }
    // socat with -d -d, ready once it says it listens (or, for a pty, once its link is there).
    void StartSocat(const QStringList &args, const QString &awaitFile = {})
    {
        FProcess.setProcessChannelMode(QProcess::MergedChannels);
        Start("socat", QStringList{"-d", "-d"} + args);
        const bool ready = awaitFile.isEmpty()
                               ? WaitUntil([&] {
                                     FProcess.waitForReadyRead(20);
                                     FLog += FProcess.readAll();
                                     return FLog.contains("listening on");
                                 })
                               : WaitUntil([&] { return QFile::exists(awaitFile); });
        ASSERT_TRUE(ready) << "socat did not start: " << FLog.toStdString();
    }
    void Kill()
    {
        if (FProcess.state() != QProcess::NotRunning) {
            FProcess.kill();
            FProcess.waitForFinished(5000);
        }
    }

private:
    QProcess FProcess;
    QByteArray FLog;
};

class ShellTest : public ::testing::Test
{
protected:
    QString Dir() const { return FCopy.Folder(); }
    QString PathOf(const QString &name) const { return QDir(FCopy.Folder()).filePath(name); }
    void Write(const QString &name, const QByteArray &text) const
    {
        QFile file(PathOf(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text);
    }
    QByteArray Read(const QString &name) const
    {
        QFile file(PathOf(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    // Starts the program in its folder; `env` replaces the environment when given.
    void Start(QProcess &process, const QStringList &args,
               const std::optional<QProcessEnvironment> &env = std::nullopt) const
    {
        process.setWorkingDirectory(Dir());
        if (env)
            process.setProcessEnvironment(*env);
        process.start(QString::fromStdString(FCopy.Program), args);
    }
    // Runs the program to its end (killed after `ms`).
    TRunResult Run(const QStringList &args, int ms = 30000,
                   const std::optional<QProcessEnvironment> &env = std::nullopt) const
    {
        QProcess process;
        Start(process, args, env);
        TRunResult result;
        if (!process.waitForFinished(ms)) {
            process.kill();
            process.waitForFinished(5000);
            result.Err = "(killed after the test's bound)";
            return result;
        }
        result.Exit = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        result.Out = QString::fromUtf8(process.readAllStandardOutput());
        result.Err += QString::fromUtf8(process.readAllStandardError());
        return result;
    }

    TProgramCopy FCopy;
};

} // namespace shelltest
