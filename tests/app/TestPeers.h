#pragma once

// Real peers for main-window tests: a pty whose master the test holds, and plain
// loopback sockets. Every wait keeps the event loop running and has a deadline.

#include <QCoreApplication>
#include <QEventLoop>
#include <chrono>
#include <functional>
#include <string>

namespace kestrune::testing {

// Runs the event loop until `done` holds or `ms` pass; returns `done()`.
bool WaitFor(const std::function<bool()> &done, int ms = 5000);
// Runs the event loop for `ms` milliseconds.
void Pump(int ms);

class TPty
{
public:
    TPty();
    ~TPty();
    TPty(const TPty &) = delete;
    TPty &operator=(const TPty &) = delete;

    [[nodiscard]] bool Valid() const { return FMaster >= 0; }
    [[nodiscard]] const std::string &SlavePath() const { return FSlave; }
    bool Write(const std::string &bytes);
    // Reads what is there now, pumping the event loop until `count` bytes or the deadline.
    std::string Read(std::size_t count, int ms = 5000);
    void CloseMaster();

private:
    int FMaster = -1;
    std::string FSlave;
};

// A loopback socket: a listening TCP server, a TCP connection or a UDP socket.
class TSocketPeer
{
public:
    ~TSocketPeer();
    TSocketPeer() = default;
    TSocketPeer(const TSocketPeer &) = delete;
    TSocketPeer &operator=(const TSocketPeer &) = delete;

    static int FreePort(bool udp = false);
    bool Listen(int port = 0);             // TCP server on 127.0.0.1
    bool Accept(int ms = 5000);            // takes one client of Listen()
    bool Connect(int port, int ms = 5000); // TCP client to 127.0.0.1:port
    bool BindUdp(int port = 0);
    [[nodiscard]] int Port() const { return FPort; }
    bool Send(const std::string &bytes, int ms = 5000);
    bool SendTo(const std::string &bytes, int port);
    std::string Read(std::size_t count, int ms = 5000);
    void Close();
    // True once the other side has closed the connection.
    bool WaitClosed(int ms = 5000);

private:
    int FListen = -1;
    int FSocket = -1;
    int FPort = 0;
};

} // namespace kestrune::testing
