// A line error and a modem change on a real serial channel reach the stand-in
// debug window, which the channel starts itself.
#include "MainWindowFixture.h"
#include "TestPeers.h"

#include "common/IniFile.h"
#include "debugchannel/DbugIntf.h"
#include "serial/Comm.h"
#include "serial/SerialDevice.h"

#include <QComboBox>
#include <QFile>
#include <QPushButton>
#include <QTest>
#include <csignal>
#include <cstdlib>
#include <mutex>
#include <sys/stat.h>

using namespace kestrune;
using namespace kestrune::testing;

namespace {

// Counters the test changes; the reader looks at them as at a real port's.
struct TCounters
{
    std::mutex Lock;
    TLineCounters Value;
};

class TCountingDevice : public TSerialDevice
{
public:
    TCountingDevice(int fd, TCounters &counters) : TSerialDevice(fd), FCounters(counters) {}
    TIoStatus ReadLineCounters(TLineCounters &counters) override
    {
        std::lock_guard lock(FCounters.Lock);
        counters = FCounters.Value;
        return TIoStatus::Ok;
    }

private:
    TCounters &FCounters;
};

} // namespace

TEST_F(MainWindowTest, SerialLineEventsReachTheDebugWindowStartedForThem)
{
    const std::string runtime = dir.filePath("runtime").toStdString();
    ASSERT_EQ(::mkdir(runtime.c_str(), 0700), 0);
    ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    const QString output = dir.filePath("debug-window.txt");
    const std::string launcher = dir.filePath("launch-debug-window").toStdString();
    {
        QFile script(QString::fromStdString(launcher));
        ASSERT_TRUE(script.open(QIODevice::WriteOnly));
        script.write(QStringLiteral("#!/bin/sh\nexec \"%1\" > \"%2\"\n")
                         .arg(KESTRUNE_DEBUG_WINDOW, output)
                         .toUtf8());
    }
    ASSERT_EQ(::chmod(launcher.c_str(), 0755), 0);
    const std::string debugIni = dir.filePath("Debug.ini").toStdString();
    TIniFile debugSettings(debugIni);
    debugSettings.WriteString("Debug", "FilePath", launcher);
    debugSettings.UpdateFile();
    debugchannel_testing::Reset();
    debugchannel_testing::SetSettingsPathOverride(debugIni);

    TCounters counters;
    TfrmMain::OnCommCreated = [&counters](TComm &comm) {
        comm.SetDeviceFactory(
            [&counters](int fd) { return std::make_unique<TCountingDevice>(fd, counters); });
    };
    TPty pty;
    ASSERT_TRUE(pty.Valid());
    open();
    find<QComboBox>("cboCOMPort")->setEditText(QString::fromStdString(pty.SlavePath()));
    QTest::mouseClick(find<QPushButton>("btnStart"), Qt::LeftButton);
    ASSERT_EQ(find<QPushButton>("btnStart")->text(), "Stop");
    Pump(200); // the reader takes its first look at the counters

    {
        std::lock_guard lock(counters.Lock);
        ++counters.Value.Frame;
    }
    ASSERT_TRUE(WaitFor([] { return debugchannel_testing::SpawnAttempts() == 1; }, 5000));
    Pump(200);
    {
        std::lock_guard lock(counters.Lock);
        ++counters.Value.Carrier;
    }
    auto printed = [&] {
        QFile f(output);
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    };
    const bool both = WaitFor(
        [&] {
            const QString text = printed();
            return text.contains("COMReceiveError") && text.contains("COMModemStateChange");
        },
        8000);

    TfrmMain::OnCommCreated = nullptr;
    if (const pid_t pid = debugchannel_testing::LastSpawnedPid(); pid > 0)
        ::kill(pid, SIGTERM);
    debugchannel_testing::Reset();
    ::unsetenv("XDG_RUNTIME_DIR");
    EXPECT_TRUE(both) << printed().toStdString();
}
