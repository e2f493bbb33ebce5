#include "common/IniFile.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>

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
