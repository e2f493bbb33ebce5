// A remote serial port (RFC 2217, served by the real ser2net) as a channel of
// the real window: relayed into without loss, and its open failure reported.
#include "MainWindowFixture.h"
#include "TestPeers.h"

#include "serial/rfc2217_peers.h"

#include <QPushButton>
#include <QTest>

#include <arpa/inet.h>
#include <atomic>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>

using namespace kestrune;
using namespace kestrune::testing;

namespace {

// Every byte value, with runs of 64 0xFF bytes here and there.
std::uint8_t StreamByte(std::uint64_t i)
{
    if ((i & 0xFFF) < 64 && (i >> 12) % 3 == 0)
        return 0xFF;
    return static_cast<std::uint8_t>(i ^ (i >> 8) * 31 ^ (i >> 16) * 7 ^ (i >> 24));
}

} // namespace

class RemotePortWindowTest : public MainWindowTest
{
protected:
    void start(const std::string &settings)
    {
        writeSettings(settings);
        open();
        window->show();
        QTest::mouseClick(find<QPushButton>("btnStart"), Qt::LeftButton);
    }
};

// A TCP client feeds the main channel (a TCP server); the relay is the remote
// port. Every byte value occurs, 0xFF in runs too, and all of them must reach
// the pty behind ser2net, in order.
TEST_F(RemotePortWindowTest, RelayFromTcpServerMainToRemotePortLosesNothingOver10MB)
{
    TSer2net server;
    std::string error;
    ASSERT_TRUE(server.Start(error)) << error;
    const int port = TSocketPeer::FreePort();
    start("[Main]\r\nMethod=TCPServer\r\nLocalPort=" + std::to_string(port) +
          "\r\n[Other]\r\nDataMode=0\r\nTransNum=1\r\n[Trans0]\r\nEnable=1\r\n"
          "Method=Serial\r\nBaudrate=115200\r\nPort=" +
          server.Url() + "\r\n");
    ASSERT_EQ(find<QPushButton>("btnStart")->text(), "Stop")
        << (messages.empty() ? "" : messages[0].text.toStdString());
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address), 0);
    ASSERT_TRUE(WaitFor([&] { return find<QPushButton>("btnSend")->isEnabled(); }));

    constexpr std::uint64_t total = 10'000'000;
    std::atomic<std::uint64_t> received{0};
    std::atomic<std::int64_t> firstBad{-1};
    std::atomic<bool> stop{false};
    std::thread reader([&] {
        std::vector<char> buffer(65536);
        while (!stop && received < total) {
            pollfd p{server.Master(), POLLIN, 0};
            if (::poll(&p, 1, 50) != 1)
                continue;
            const ssize_t n = ::read(server.Master(), buffer.data(), buffer.size());
            const std::uint64_t at = received;
            for (ssize_t k = 0; k < n; ++k) {
                if (static_cast<std::uint8_t>(buffer[k]) != StreamByte(at + k) && firstBad < 0)
                    firstBad = static_cast<std::int64_t>(at + k);
            }
            received += static_cast<std::uint64_t>(std::max<ssize_t>(n, 0));
        }
    });
    // Pushed from a thread as fast as the window takes the bytes.
    std::thread pusher([&] {
        std::vector<char> chunk(65536);
        for (std::uint64_t sent = 0; !stop && sent < total;) {
            const std::size_t n = std::min<std::uint64_t>(chunk.size(), total - sent);
            for (std::size_t k = 0; k < n; ++k)
                chunk[k] = static_cast<char>(StreamByte(sent + k));
            pollfd p{fd, POLLOUT, 0};
            const ssize_t w = ::poll(&p, 1, 50) == 1
                                  ? ::send(fd, chunk.data(), n, MSG_NOSIGNAL | MSG_DONTWAIT)
                                  : 0;
            sent += static_cast<std::uint64_t>(std::max<ssize_t>(w, 0));
        }
    });
    const bool done = WaitFor([&] { return received >= total || firstBad >= 0; }, 90'000);
    stop = true;
    pusher.join();
    reader.join();
    ::close(fd);
    EXPECT_EQ(firstBad, -1) << "a byte out of order or changed";
    EXPECT_TRUE(done && received == total) << received << " of " << total << " bytes arrived";
    EXPECT_TRUE(messages.empty()) << messages[0].text.toStdString();
    EXPECT_EQ(find<QPushButton>("btnStart")->text(), "Stop");
}

TEST_F(RemotePortWindowTest, RemotePortThatCannotBeReachedGivesTheSerialErrorDialog)
{
    const std::string name = "rfc2217://127.0.0.1:" + std::to_string(TSocketPeer::FreePort());
    start("[Main]\r\nMethod=Serial\r\nPort=" + name + "\r\n");
    EXPECT_EQ(find<QPushButton>("btnStart")->text(), "Start");
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(messages[0].text.startsWith("Open serial port failed.\r\nError msg:Error opening "
                                            "serial port (cannot connect to 127.0.0.1:"))
        << messages[0].text.toStdString();
    EXPECT_TRUE(messages[0].text.endsWith("Connection refused)")) << messages[0].text.toStdString();
}
