// A channel's network options: kept in its section, shown in its
// description, and read from the words a command line gives.
#include "common/IniFile.h"
#include "engine/ChannelOptions.h"
#include "engine/Settings.h"

#include <QTemporaryDir>
#include <fstream>
#include <gtest/gtest.h>

using namespace kestrune;

namespace {

TChannel Network(TCommMethod method, const std::string &host)
{
    TChannel c;
    c.Method = method;
    c.IPAddr = host;
    c.LocalPort = 13001;
    c.RemotePort = 13002;
    return c;
}

TEST(ChannelOptions, SavedLoadedAndOldFilesGiveThePlainEndpoint)
{
    QTemporaryDir dir;
    const std::string path = dir.filePath(QStringLiteral("k.ini")).toStdString();
    TChannel c = Network(cmUDP, "ff15::1%lo");
    c.SeveralClients = true;
    c.ReplyToSender = true;
    c.MulticastTtl = 9;
    c.MulticastLoop = false;
    {
        TIniFile ini(path);
        SaveChannelSettings(ini, "Trans0", c);
        ini.UpdateFile();
    }
    const TChannel back = LoadChannelSettings(TIniFile(path), "Trans0").Channel;
    EXPECT_EQ(back.IPAddr, c.IPAddr);
    EXPECT_TRUE(back.SeveralClients && back.ReplyToSender && !back.MulticastLoop);
    EXPECT_EQ(back.MulticastTtl, 9);

    std::ofstream(path, std::ios::binary) << "[Main]\r\nMethod=TCPServer\r\nMulticastTTL=999\r\n";
    const TChannel old = LoadChannelSettings(TIniFile(path), "Main").Channel;
    EXPECT_FALSE(old.SeveralClients || old.ReplyToSender);
    EXPECT_TRUE(old.MulticastLoop);
    EXPECT_EQ(old.MulticastTtl, 255) << "a hop count past the range is its largest";
}

TEST(ChannelOptions, DescriptionsBracketIPv6AndNameOptionsThatAreOn)
{
    TChannel server = Network(cmTCPServer, "");
    TChannel udp = Network(cmUDP, "::1");
    const TChannel client = Network(cmTCPClient, "fe80::1%eth0");
    EXPECT_EQ(ChannelDescription(server), "TCP Server,13001");
    EXPECT_EQ(ChannelDescription(udp), "UDP,[::1]:13002,L:13001");
    EXPECT_EQ(ChannelDescription(client), "TCP Client,[fe80::1%eth0]:13002");
    server.SeveralClients = true;
    server.ReplyToSender = true; // not a server's option: not shown
    udp.ReplyToSender = true;
    udp.MulticastTtl = 8;
    udp.MulticastLoop = false;
    EXPECT_EQ(ChannelDescription(server), "TCP Server,13001,several");
    EXPECT_EQ(ChannelDescription(udp), "UDP,[::1]:13002,L:13001,reply-to-sender,ttl=8,no-loop");
}

TEST(ChannelOptions, WordsApplyToTheirMethodOnlyAndRoundTrip)
{
    TChannel udp = Network(cmUDP, "239.1.2.3");
    EXPECT_EQ(ApplyNetworkOptionWords(udp, {"reply-to-sender", "ttl=32", "no-loop"}), std::nullopt);
    EXPECT_EQ(NetworkOptionWords(udp), "reply-to-sender,ttl=32,no-loop");
    TChannel server = Network(cmTCPServer, "");
    EXPECT_EQ(ApplyNetworkOptionWords(server, {"several"}), std::nullopt);
    EXPECT_TRUE(server.SeveralClients);

    const std::pair<TCommMethod, std::string> refused[] = {
        {cmTCPServer, "reply-to-sender"},
        {cmUDP, "several"},
        {cmUDP, "ttl=256"},
        {cmUDP, "ttl=-1"},
        {cmUDP, "ttl="},
        {cmTCPClient, "several"},
        {cmSerial, "no-loop"},
    };
    for (const auto &[method, word] : refused) {
        TChannel c = Network(method, "::1");
        const auto error = ApplyNetworkOptionWords(c, {word});
        ASSERT_TRUE(error.has_value()) << word;
        EXPECT_NE(error->find("\"" + word + "\""), std::string::npos) << *error;
    }
}

} // namespace
