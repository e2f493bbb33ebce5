#include "engine/Channel.h"

#include <gtest/gtest.h>

using namespace kestrune;

TEST(SizeText, Table)
{
    const struct
    {
        const char *text;
        std::int32_t size;
    } rows[] = {{"64k", 65536},    {"64K", 65536},
                {"2M", 2097152},   {"2m", 2097152},
                {"1000", 1000},    {"0", 0},
                {"k", -1},         {"1.5k", -1},
                {"8 k", -1},       {"-3", -3},
                {"", -1},          {"$10k", 16384},
                {" 5", 5},         {"2047M", 2146435072},
                {"2048M", -1},     {"2097152k", -1},
                {"99999999k", -1}, {"kk", -1},
                {"1MB", -1}};
    for (const auto &row : rows)
        EXPECT_EQ(ParseSizeText(row.text), row.size) << row.text;
}

TEST(ChannelDescription, OneLinePerMethod)
{
    TChannel c;
    c.Port = "COM1*";
    c.Baudrate = 9600;
    c.ByteSize = 3;
    c.ParityBit = 3;
    c.StopBits = 1;
    c.IPAddr = "127.0.0.1";
    c.LocalPort = 13001;
    c.RemotePort = 13002;
    EXPECT_EQ(ChannelDescription(c), "Serial,COM1*,9600,8,M,1.5");
    c.Method = cmUDP;
    EXPECT_EQ(ChannelDescription(c), "UDP,127.0.0.1:13002,L:13001");
    c.Method = cmTCPServer;
    EXPECT_EQ(ChannelDescription(c), "TCP Server,13001");
    c.Method = cmTCPClient;
    EXPECT_EQ(ChannelDescription(c), "TCP Client,127.0.0.1:13002");
}

TEST(AddressPane, CaptionStopsBeforeTheSecondComma)
{
    EXPECT_EQ(AddressPaneCaption("127.0.0.1"), "127.0.0.1");
    EXPECT_EQ(AddressPaneCaption("192.168.1.5, 127.0.0.1"), "192.168.1.5, 127.0.0.1");
    EXPECT_EQ(AddressPaneCaption("192.168.1.5, 10.0.0.7, 127.0.0.1"), "192.168.1.5, 10.0.0.7");
    EXPECT_EQ(AddressPaneCaption(",a,b"), ",a,b");
}
