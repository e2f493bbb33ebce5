#include "DebugChannelSupport.h"

#include <filesystem>

namespace kestrune {
namespace {

// Starts the real stand-in on this test's socket with its output in a file, since
// the channel starts programs without arguments.
class DebugWindowLaunchTest : public DebugChannelTest
{
protected:
    std::string WriteStarter(const std::string &path)
    {
        WriteFile(path,
                  "#!/bin/sh\nexec '" + StandInProgram() + "' '" + SocketPath() + "' >'" +
                      Output() + "' 2>/dev/null\n",
                  0755);
        return path;
    }
    std::string Output() const { return Dir + "/window.txt"; }
    bool OutputHas(const std::string &text)
    {
        return WaitUntil([&] { return FileText(Output()).find(text) != std::string::npos; });
    }
};

TEST_F(DebugWindowLaunchTest, BlankFilePathStartsTheProgramBesideTheExecutableOnce)
{
    ASSERT_TRUE(std::filesystem::exists(StandInProgram())) << StandInProgram();
    WriteFile(Dir + "/Debug.ini", "[Debug]\r\nFilePath=    \r\n");
    WriteStarter(Dir + "/bin/GExpertsDebugWindow");

    SendDebugText("COMReceiveError");
    EXPECT_TRUE(OutputHas("kind 2: COMReceiveError\n"));
    SendDebugText("COMModemStateChange");
    EXPECT_TRUE(OutputHas("kind 2: COMReceiveError\nkind 2: COMModemStateChange\n"));
    EXPECT_EQ(debugchannel_testing::SpawnAttempts(), 1);
    EXPECT_FALSE(DebugWindowLaunchFailed());

    // The stand-in clears its socket away when told to stop.
    ASSERT_GT(debugchannel_testing::LastSpawnedPid(), 0);
    ::kill(debugchannel_testing::LastSpawnedPid(), SIGTERM);
    EXPECT_TRUE(WaitUntil([&] { return !std::filesystem::exists(SocketPath()); }));
}

TEST_F(DebugWindowLaunchTest, FilePathIsUsedAsWritten)
{
    WriteFile(Dir + "/Debug.ini", "[Debug]\r\nFilePath=" + WriteStarter(Dir + "/other") + "\r\n");
    SendDebugText("COMReceiveError");
    EXPECT_TRUE(OutputHas("kind 2: COMReceiveError\n"));
}

TEST_F(DebugWindowLaunchTest, FilePathToAMissingProgramDoesNotFallBack)
{
    WriteStarter(Dir + "/bin/GExpertsDebugWindow");
    WriteFile(Dir + "/Debug.ini", "[Debug]\r\nFilePath=" + Dir + "/missing\r\n");
    SendDebugText("COMReceiveError");
    EXPECT_TRUE(DebugWindowLaunchFailed());
    EXPECT_EQ(debugchannel_testing::SpawnAttempts(), 0);
}

TEST_F(DebugWindowLaunchTest, ProgramThatCannotRunSetsTheFlag)
{
    const std::pair<std::string, int> cases[] = {{"folder", 0}, {"not-executable", 1}};
    std::filesystem::create_directory(Dir + "/folder");
    WriteFile(Dir + "/not-executable", "#!/bin/sh\n", 0644);
    for (const auto &[name, spawns] : cases) {
        ResetChannel();
        WriteFile(Dir + "/Debug.ini", "[Debug]\r\nFilePath=" + Dir + "/" + name + "\r\n");
        SendDebugText("COMReceiveError");
        EXPECT_TRUE(DebugWindowLaunchFailed()) << name;
        EXPECT_EQ(debugchannel_testing::SpawnAttempts(), spawns) << name;
    }
}

// Texts sent while the started window comes up wait for it, in order and up to
// the queue's limit; the sender never waits for the window.
TEST_F(DebugWindowLaunchTest, TextsSentWhileTheWindowStartsAreQueuedAndFlushed)
{
    WriteFile(Dir + "/bin/GExpertsDebugWindow",
              "#!/bin/sh\nsleep 0.3\nexec '" + StandInProgram() + "' '" + SocketPath() + "' >'" +
                  Output() + "' 2>/dev/null\n",
              0755);
    SendDebugText("t0");
    EXPECT_TRUE(DebugWindowStarting()) << "returned before the window was up";
    for (int i = 1; i < 100; ++i)
        SendDebugText("t" + std::to_string(i));
    ASSERT_TRUE(WaitUntil([] { return !DebugWindowStarting(); }));
    std::string expected;
    for (std::size_t i = 0; i < DebugQueueLimit; ++i)
        expected += "kind 2: t" + std::to_string(i) + "\n";
    EXPECT_TRUE(OutputHas(expected));
    SendDebugText("after");
    EXPECT_TRUE(OutputHas(expected + "kind 2: after\n")) << "the rest were dropped";
    EXPECT_EQ(debugchannel_testing::SpawnAttempts(), 1);
}

// A program that opens no socket in time is no failure: its texts are dropped
// and the next text starts it again.
TEST_F(DebugWindowLaunchTest, ProgramThatOpensNoWindowIsStartedAgainForTheNextText)
{
    const std::pair<const char *, const char *> cases[] = {{"ends at once", "exit 0"},
                                                           {"stays silent", "exec sleep 30"}};
    for (const auto &[name, body] : cases) {
        ResetChannel();
        WriteFile(Dir + "/bin/GExpertsDebugWindow", std::string("#!/bin/sh\n") + body + "\n", 0755);
        for (int spawn = 1; spawn <= 2; ++spawn) {
            EXPECT_TRUE(LaunchDebugWindow()) << name;
            EXPECT_TRUE(
                WaitUntil([] { return !DebugWindowStarting(); }, DebugWindowStartWaitMs + 5000))
                << name;
            ::kill(debugchannel_testing::LastSpawnedPid(), SIGTERM);
            EXPECT_FALSE(DebugWindowLaunchFailed()) << name;
            EXPECT_EQ(debugchannel_testing::SpawnAttempts(), spawn) << name;
        }
    }
}

} // namespace
} // namespace kestrune
