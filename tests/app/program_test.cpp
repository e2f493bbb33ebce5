#include "app/KestruneApp.h"
#include "common/IniFile.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <unistd.h>

// The real program, copied into a folder of its own so its settings file lands there.
class ProgramTest : public ::testing::TestWithParam<int>
{
};

TEST_P(ProgramTest, TerminationSignalClosesTheWindowAndSavesSettings)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string program = dir.filePath("kestrune").toStdString();
    std::filesystem::copy_file(KESTRUNE_PROGRAM, program);
    kestrune::TIniFile seed(program + ".ini");
    seed.WriteString("Other", "SendText", "kept");
    seed.UpdateFile();

    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    process.setProcessEnvironment(env);
    process.setWorkingDirectory(dir.path());
    process.start(QString::fromStdString(program), {});
    ASSERT_TRUE(process.waitForStarted(10000));
    // Give the window time to come up before the signal arrives.
    process.waitForFinished(1500);
    ASSERT_EQ(process.state(), QProcess::Running) << process.readAllStandardError().toStdString();
    ::kill(static_cast<pid_t>(process.processId()), GetParam());
    ASSERT_TRUE(process.waitForFinished(10000));
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);

    const kestrune::TIniFile ini(program + ".ini");
    EXPECT_EQ(ini.ReadString("Other", "SendText", ""), "kept");
    EXPECT_EQ(ini.ReadString("Main", "Method", ""), "Serial") << "the exit steps ran";
}

INSTANTIATE_TEST_SUITE_P(Signals, ProgramTest, ::testing::Values(SIGTERM, SIGINT, SIGHUP));

// The disk is full when the settings are saved on the way out after a
// termination signal: the reason goes to standard error and the program ends,
// with the file as it was. No box waits for someone to press OK, and a second
// signal is not needed (nor, before, was it heard).
TEST(ProgramExitSave, AFullDiskAfterASignalIsReportedAndTheProgramEnds)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string program = dir.filePath("kestrune").toStdString();
    std::filesystem::copy_file(KESTRUNE_PROGRAM, program);
    const std::string ini = program + ".ini";
    kestrune::TIniFile seed(ini);
    seed.WriteString("Other", "SendText", "kept");
    seed.UpdateFile();
    const std::string seeded = kestrune::ReadWholeFile(ini).value_or("");

    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    process.setProcessEnvironment(env);
    process.setWorkingDirectory(dir.path());
    // Files of the program may not grow past 64 bytes: the disk is full.
    process.setChildProcessModifier([] {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{64, 64};
        ::setrlimit(RLIMIT_FSIZE, &limit);
    });
    // The program has read its settings once it closes the file again.
    const int watch = ::inotify_init1(IN_CLOEXEC);
    ASSERT_GE(::inotify_add_watch(watch, ini.c_str(), IN_CLOSE_NOWRITE), 0);
    process.start(QString::fromStdString(program), {});
    ASSERT_TRUE(process.waitForStarted(10000));
    pollfd ready{watch, POLLIN, 0};
    ASSERT_EQ(::poll(&ready, 1, 20000), 1);
    ::close(watch);

    const auto pid = static_cast<pid_t>(process.processId());
    ::kill(pid, SIGTERM);
    bool ended = process.waitForFinished(5000);
    if (!ended) {
        ::kill(pid, SIGTERM);
        ended = process.waitForFinished(5000);
    }
    ASSERT_TRUE(ended) << "still waiting for someone to press OK";
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    const std::string errors = process.readAllStandardError().toStdString();
    EXPECT_NE(errors.find("Unable to write to " + ini), std::string::npos) << errors;
    EXPECT_EQ(kestrune::ReadWholeFile(ini), seeded);
}

// Without a display the program says what it needs in one line and ends with
// status 2, before Qt would abort; it writes no settings.
TEST(ProgramWithoutDisplay, SaysHowToRunHeadlessAndExitsWithTwo)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string program = dir.filePath("kestrune").toStdString();
    std::filesystem::copy_file(KESTRUNE_PROGRAM, program);

    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(name);
    env.insert("DISPLAY", ""); // set but empty counts as unset
    process.setProcessEnvironment(env);
    process.start(QString::fromStdString(program), {});
    ASSERT_TRUE(process.waitForFinished(10000));
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 2);
    const QString err = QString::fromLocal8Bit(process.readAllStandardError());
    EXPECT_EQ(err.count('\n'), 1) << err.toStdString();
    EXPECT_TRUE(err.contains("graphical session")) << err.toStdString();
    EXPECT_TRUE(err.contains("QT_QPA_PLATFORM=offscreen")) << err.toStdString();
    EXPECT_TRUE(process.readAllStandardOutput().isEmpty());
    EXPECT_FALSE(std::filesystem::exists(program + ".ini"));
}

TEST(ProgramIcon, TheInstalledSvgRendersAtEverySize)
{
    const QIcon icon = kestrune::AppIcon();
    for (int size : {16, 48, 256}) {
        const QImage image = icon.pixmap(size).toImage();
        ASSERT_EQ(image.width(), size) << "the SVG icon engine is missing (libqt6svg6)";
        // Transparent corners, an opaque plate in the middle.
        EXPECT_EQ(image.pixelColor(0, 0).alpha(), 0) << size;
        EXPECT_EQ(image.pixelColor(size / 2, size - size / 4).alpha(), 255) << size;
    }
}
