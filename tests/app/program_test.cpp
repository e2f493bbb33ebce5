#include "ProgramCopy.h"
#include "app/KestruneApp.h"
#include "common/IniFile.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/resource.h>

class ProgramTest : public ::testing::TestWithParam<int>
{
};

TEST_P(ProgramTest, TerminationSignalClosesTheWindowAndSavesSettings)
{
    const TProgramCopy copy;
    kestrune::TIniFile seed(copy.Ini);
    seed.WriteString("Other", "SendText", "kept");
    seed.UpdateFile();

    QProcess process;
    ASSERT_TRUE(copy.StartAndAwaitSettingsRead(process));
    ::kill(static_cast<pid_t>(process.processId()), GetParam());
    ASSERT_TRUE(process.waitForFinished(10000));
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);

    const kestrune::TIniFile ini(copy.Ini);
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
    const TProgramCopy copy;
    kestrune::TIniFile seed(copy.Ini);
    seed.WriteString("Other", "SendText", "kept");
    seed.UpdateFile();
    const std::string seeded = kestrune::ReadWholeFile(copy.Ini).value_or("");

    QProcess process;
    // Files of the program may not grow past 64 bytes: the disk is full.
    process.setChildProcessModifier([] {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{64, 64};
        ::setrlimit(RLIMIT_FSIZE, &limit);
    });
    ASSERT_TRUE(copy.StartAndAwaitSettingsRead(process));
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
    EXPECT_NE(errors.find("Unable to write to " + copy.Ini), std::string::npos) << errors;
    EXPECT_EQ(kestrune::ReadWholeFile(copy.Ini), seeded);
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
