#include "exchange/StatusTexts.h"

#include <gtest/gtest.h>

namespace kestrune {
namespace {

const std::string Start = "2026/12/6 19:31:15";

TEST(StatusTexts, SendPane)
{
    EXPECT_EQ(SendPaneCaption(12, 3), "Send: 12B, 3P.");
    EXPECT_EQ(SendPaneCaption(0, 0), SendPaneInitialCaption);
    EXPECT_EQ(SendPaneHint(Start, 12, 3), "From2026/12/6 19:31:15, Total 12Bytes(3Pkgs).");
    EXPECT_EQ(SendPaneHint(Start, 0, 1), "From2026/12/6 19:31:15, Total 0Bytes(1Pkgs).");
    EXPECT_EQ(SendPaneResetHint(Start), "From2026/12/6 19:31:15, Total0Bytes(0Pkgs).");
}

TEST(StatusTexts, RecvPane)
{
    EXPECT_EQ(RecvPaneCaption(7), "Recv: 7B.");
    EXPECT_EQ(RecvPaneCaption(0), RecvPaneInitialCaption);
    EXPECT_EQ(RecvPaneHint(Start, 7), "From2026/12/6 19:31:15, Total 7Bytes");
    EXPECT_EQ(RecvPaneResetHint(Start), "From2026/12/6 19:31:15, Total 0Bytes.");
}

TEST(StatusTexts, CountsPastThirtyTwoBitsStayPositive)
{
    EXPECT_EQ(SendPaneCaption(3000000000LL, 2147483648LL), "Send: 3000000000B, 2147483648P.");
    EXPECT_EQ(RecvPaneCaption(5000000000LL), "Recv: 5000000000B.");
}

TEST(StatusTexts, DateTimeLeavesOutMidnight)
{
    EXPECT_EQ(DateTimeText("2026/12/6", "19:31:15", false), "2026/12/6 19:31:15");
    EXPECT_EQ(DateTimeText("2026/12/6", "0:00:00", true), "2026/12/6");
}

TEST(StatusTexts, CommandListProgress)
{
    EXPECT_EQ(CmdListReplyText(2000), "Wait data, Timeout=2000ms.");
    EXPECT_EQ(CmdListReplyText(0), "Wait data, until the reply comes.");
    EXPECT_EQ(CmdListReplyText(-5), "Wait data, until the reply comes.");
    EXPECT_EQ(CmdListDelayText(500), "Wait 500ms.");
    EXPECT_EQ(CmdListDelayText(-3), "Wait -3ms.");
}

} // namespace
} // namespace kestrune
