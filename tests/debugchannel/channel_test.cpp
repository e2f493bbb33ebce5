#include "DebugChannelSupport.h"

#include "debugchannel/DebugRecord.h"

#include <atomic>
#include <memory>

using namespace std::string_literals;

namespace kestrune {
namespace {

TEST_F(DebugChannelTest, RunningWindowGetsEachTextAsOneRecordInOrder)
{
    TRecordListener window(SocketPath());
    SendDebugText("COMReceiveError");
    SendDebugText("COMModemStateChange");
    SendDebugTextOfKind("a\0b"s, 7);
    SendDebugText("\x03");

    EXPECT_EQ(window.Receive(), "\x01\x03"
                                "COMReceiveError\0"s);
    EXPECT_EQ(window.Receive(), "\x01\x03"
                                "COMModemStateChange\0"s);
    EXPECT_EQ(window.Receive(), "\x01\x08"
                                "a\0b\0"s);
    EXPECT_EQ(window.Receive(), "\x03\x03\x03\0"s);
    EXPECT_EQ(debugchannel_testing::LaunchAttempts(), 0);
}

TEST_F(DebugChannelTest, WithNoWindowAndNoProgramTheFirstTextSetsTheFlagAndLaterOnesTryNoStart)
{
    SendDebugText("COMReceiveError");
    EXPECT_TRUE(DebugWindowLaunchFailed());
    EXPECT_EQ(debugchannel_testing::LaunchAttempts(), 1);

    for (int i = 0; i < 3; ++i)
        SendDebugText("COMModemStateChange");
    EXPECT_EQ(debugchannel_testing::LaunchAttempts(), 1);
    EXPECT_EQ(debugchannel_testing::SpawnAttempts(), 0);

    // The window is still looked for before every text.
    TRecordListener window(SocketPath());
    SendDebugText("COMReceiveError");
    EXPECT_EQ(window.Receive(), "\x01\x03"
                                "COMReceiveError\0"s);
}

TEST_F(DebugChannelTest, SocketLeftBehindByADeadWindowIsNoWindow)
{
    {
        TRecordListener dead(SocketPath());
    }
    ASSERT_TRUE(std::filesystem::exists(SocketPath()));
    EXPECT_FALSE(FindDebugWindow());
    SendDebugText("COMReceiveError");
    EXPECT_TRUE(DebugWindowLaunchFailed());
}

// One socket serves every text; a restarted window is found again at once.
TEST_F(DebugChannelTest, OneSocketIsKeptAndAReplacedWindowIsReconnected)
{
    auto window = std::make_unique<TRecordListener>(SocketPath());
    SendDebugText("first");
    EXPECT_TRUE(window->Receive().has_value());
    const int fds = OpenFdCount();
    for (int i = 0; i < 20; ++i) {
        SendDebugText("again");
        EXPECT_TRUE(window->Receive().has_value());
    }
    EXPECT_EQ(OpenFdCount(), fds) << "no socket per text";

    window.reset();
    std::filesystem::remove(SocketPath());
    window = std::make_unique<TRecordListener>(SocketPath());
    SendDebugText("after restart");
    EXPECT_EQ(window->Receive(), "\x01\x03"
                                 "after restart\0"s);
    EXPECT_EQ(OpenFdCount(), fds);
    EXPECT_EQ(debugchannel_testing::LaunchAttempts(), 0);
}

// A window that stopped reading must not hold the caller (the GUI thread):
// the text it has no room for is dropped, and the window stays in use.
TEST_F(DebugChannelTest, FullWindowDropsTheTextWithoutWaiting)
{
    TRecordListener hung(SocketPath());
    SendDebugText("before");
    // Fill the window's queue from sockets of our own until it takes nothing more.
    std::vector<TDebugWindow> fillers;
    for (int i = 0; i < 64; ++i) {
        TDebugWindow filler = FindDebugWindow();
        ASSERT_TRUE(filler);
        const std::string record = BuildDebugRecord("fill", 2);
        bool full = true;
        while (::send(filler.Handle(), record.data(), record.size(), MSG_DONTWAIT) > 0)
            full = false;
        fillers.push_back(std::move(filler));
        if (full)
            break;
    }

    // Run apart, so a send that waits fails the test instead of hanging it.
    auto returned = std::make_shared<std::atomic<bool>>(false);
    std::thread([returned] {
        SendDebugText("dropped");
        *returned = true;
    }).detach();
    ASSERT_TRUE(WaitUntil([&] { return returned->load(); }, 5000));

    const std::vector<std::string> queued = hung.Drain();
    EXPECT_EQ(queued.front(), "\x01\x03"
                              "before\0"s);
    for (const std::string &record : queued)
        EXPECT_EQ(record.find("dropped"), std::string::npos);
    SendDebugText("later");
    EXPECT_EQ(hung.Receive(), "\x01\x03"
                              "later\0"s);
    EXPECT_FALSE(DebugWindowLaunchFailed());
    EXPECT_EQ(debugchannel_testing::LaunchAttempts(), 0);
}

TEST_F(DebugChannelTest, ProgramPathComesFromFilePathOrFallsBackBesideTheExecutable)
{
    const std::string beside = Dir + "/bin/GExpertsDebugWindow";
    const std::pair<std::optional<std::string>, std::string> cases[] = {
        {std::nullopt, beside},
        {"[Debug]\r\nFilePath=   \r\n", beside},
        {"[Debug]\r\nFilePath=\r\n", beside},
        {"[Other]\r\nFilePath=/opt/dw\r\n", beside},
        {"[Debug]\r\nFilePath=/opt/dw\r\n", "/opt/dw"},
        {"[debug]\nfilepath=  /opt/debug window  \n", "/opt/debug window"},
    };
    for (const auto &[ini, program] : cases) {
        std::filesystem::remove(Dir + "/Debug.ini");
        if (ini)
            WriteFile(Dir + "/Debug.ini", *ini);
        EXPECT_EQ(DebugWindowProgramPath(), program) << ini.value_or("(no file)");
    }
}

TEST(DebugSocketFolder, OnlyAPrivateFolderOfThisUserIsTrusted)
{
    char pattern[] = "/tmp/kdbgXXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    const std::string dir = pattern;
    std::filesystem::create_directory(dir + "/open");
    ::chmod((dir + "/open").c_str(), 0755);
    std::filesystem::create_directory_symlink(dir, dir + "/link");
    WriteFile(dir + "/file", "");

    ::chmod(dir.c_str(), 0700);
    EXPECT_TRUE(IsPrivateUserFolder(dir));
    for (const char *other : {"/open", "/link", "/file", "/missing"})
        EXPECT_FALSE(IsPrivateUserFolder(dir + other)) << other;
    std::filesystem::remove_all(dir);
}

} // namespace
} // namespace kestrune
