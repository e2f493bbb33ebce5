#include "DebugChannelSupport.h"

#include <QProcess>
#include <memory>

namespace kestrune {
namespace {

class StandInTest : public DebugChannelTest
{
protected:
    std::unique_ptr<QProcess> Start()
    {
        auto process = std::make_unique<QProcess>();
        process->start(QString::fromStdString(StandInProgram()),
                       {QString::fromStdString(SocketPath())});
        EXPECT_TRUE(process->waitForStarted(10000));
        return process;
    }
    void TearDown() override
    {
        for (auto &process : Processes) {
            process->kill();
            process->waitForFinished(10000);
        }
        DebugChannelTest::TearDown();
    }
    std::vector<std::unique_ptr<QProcess>> Processes;
};

TEST_F(StandInTest, StopsOnSigintOrSigtermAndRemovesItsSocket)
{
    for (int sig : {SIGINT, SIGTERM}) {
        QProcess *window = Processes.emplace_back(Start()).get();
        ASSERT_TRUE(WaitUntil([&] { return static_cast<bool>(FindDebugWindow()); })) << sig;
        ::kill(static_cast<pid_t>(window->processId()), sig);
        ASSERT_TRUE(window->waitForFinished(10000)) << sig;
        EXPECT_EQ(window->exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(window->exitCode(), 0);
        EXPECT_FALSE(std::filesystem::exists(SocketPath())) << sig;
    }
}

TEST_F(StandInTest, SecondWindowLeavesTheRunningOneAlone)
{
    QProcess *first = Processes.emplace_back(Start()).get();
    ASSERT_TRUE(WaitUntil([&] { return static_cast<bool>(FindDebugWindow()); }));
    QProcess *second = Processes.emplace_back(Start()).get();
    ASSERT_TRUE(second->waitForFinished(10000));
    EXPECT_EQ(second->exitCode(), 1);

    SendDebugText("COMModemStateChange");
    EXPECT_TRUE(WaitUntil([&] {
        first->waitForReadyRead(50);
        return first->peek(1 << 16).contains("kind 2: COMModemStateChange\n");
    }));
}

TEST_F(StandInTest, ReplacesADeadWindowsSocketButNoOtherFile)
{
    {
        TRecordListener dead(SocketPath());
    }
    QProcess *window = Processes.emplace_back(Start()).get();
    EXPECT_TRUE(WaitUntil([&] { return static_cast<bool>(FindDebugWindow()); }));
    window->kill();
    window->waitForFinished(10000);

    std::filesystem::remove(SocketPath());
    WriteFile(SocketPath(), "keep me");
    QProcess *refused = Processes.emplace_back(Start()).get();
    ASSERT_TRUE(refused->waitForFinished(10000));
    EXPECT_EQ(refused->exitCode(), 1);
    EXPECT_EQ(FileText(SocketPath()), "keep me");
}

} // namespace
} // namespace kestrune
