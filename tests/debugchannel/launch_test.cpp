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

// A program that starts but opens no socket is no failure: the next text tries again.
TEST_F(DebugWindowLaunchTest, ProgramThatOpensNoWindowIsStartedAgainForTheNextText)
{
    WriteFile(Dir + "/bin/GExpertsDebugWindow", "#!/bin/sh\nexit 0\n", 0755);
    EXPECT_FALSE(LaunchDebugWindow());
    EXPECT_FALSE(LaunchDebugWindow());
    EXPECT_FALSE(DebugWindowLaunchFailed());
    EXPECT_EQ(debugchannel_testing::SpawnAttempts(), 2);
}

} // namespace
} // namespace kestrune
