#pragma once

#include "common/Component.h"
#include "net/AddressHelpers.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QEventLoop;
class QSocketNotifier;

namespace kestrune {

class TSockWindow;

// The network transport: a UDP peer, a TCP server serving one client at a
// time (or, with SeveralClients, every client at once), or a TCP client; one
// of them between a start call and StopSocket. Over IPv4 or IPv6: the server
// and the UDP peer listen on both families with one socket.
// Everything runs on the GUI thread; readiness arrives through notifiers owned
// by a hidden QObject. A handler may send, pause, stop, or stop and delete the
// endpoint from inside any event: the endpoint notices and touches nothing of
// itself afterwards. The start calls raise ESocketError and then leave nothing
// open; nothing is ever thrown out of a notification, failures there are
// reported through OnFailure.
class TDRSock : public TComponent
{
public:
    TDRSock();
    ~TDRSock() override;

    // Read by the start calls only. Ports use their low 16 bits.
    std::string RemoteHost = "127.0.0.1";
    std::int32_t RemotePort = 0;
    std::int32_t LocalPort = 0;
    // How long StartClient waits for the server to answer.
    int ConnectTimeoutMs = 10'000;
    // TCP server: every client is served at once; what is sent goes to all
    // of them. Events of a client carry the client's own endpoint as Sender
    // (its PeerText names it); OnConnected and OnSocketClose come per client.
    bool SeveralClients = false;
    // UDP: sends go to where the last datagram came from; to RemoteHost
    // until one has come.
    bool ReplyToSender = false;
    // UDP to a multicast group: the hops of what is sent, and whether this
    // host's own members (this endpoint too) get it.
    int MulticastTtl = 1;
    bool MulticastLoop = true;

    // The TCP server accepted a client.
    std::function<void(TDRSock *Sender)> OnConnected;
    // Bytes were read: on TCP at most 2,048 per event, on UDP one whole
    // datagram per event, however long; valid until the handler returns. One
    // wake-up reads on while data is ready, up to a budget, so a burst
    // arrives as consecutive events in order. On TCP a count of 0 means the
    // peer closed, and OnSocketClose follows as a later event.
    std::function<void(TDRSock *Sender, const void *Buffer, std::int32_t ByteNum)> OnDataArrival;
    // A read failed with this errno.
    std::function<void(TDRSock *Sender, std::int32_t Code)> OnSocketError;
    // The TCP peer closed the connection. A server is then ready for the next
    // client; a client keeps its socket until StopSocket.
    std::function<void(TDRSock *Sender)> OnSocketClose;
    // Every byte that SendData had to queue has now been handed to the kernel.
    std::function<void(TDRSock *Sender)> OnSendQueueDrained;
    // Something failed while handling a notification; Reason is a sentence
    // for the user. Fatal: the TCP server could not accept (out of
    // descriptors or memory, say), has stopped and is idle: nothing listens
    // any more, raised once. Not fatal: a line of the connection log could not
    // be written; the connect or close it belonged to went ahead as usual.
    // Raised last, after any other event of the same notification; when
    // unassigned, the failure goes unreported (a fatal one still stops).
    std::function<void(TDRSock *Sender, const std::string &Reason, bool Fatal)> OnFailure;

    void StartUDP();
    void StartServer();
    // Connects while the call waits; a normal return means connected. While
    // it waits (at most ConnectTimeoutMs) the event loop runs without user
    // input, so windows keep painting and other channels keep working. On
    // failure the message is "Error while try establish a TCP connect."
    // followed by the system's reason. StopSocket or deleting the endpoint
    // during the wait ends it: the call then raises with the reason
    // "Operation canceled" and touches nothing of a deleted endpoint. So does
    // the application quitting (a termination signal), during the wait or
    // before it: every event loop returns at once then.
    void StartClient();
    // Closes everything without events; does nothing when idle.
    void StopSocket();

    // UDP: one datagram to the destination resolved at start (empty frames
    // included). TCP: the bytes join the stream; what the kernel does not take
    // now is queued and written in order when the socket is writable, so no
    // byte is lost while the connection lives. Returns the bytes the kernel
    // took in this call (0 when all was queued), or -1 when nothing can be
    // sent (no client, idle, connection failed, bad arguments).
    std::int32_t SendData(const void *Buffer, std::int32_t Count);
    std::int32_t SendData(const std::string &bytes)
    {
        return SendData(bytes.data(), static_cast<std::int32_t>(bytes.size()));
    }

    // Bytes waiting in the send queue for the TCP peer; with several
    // clients, the most that waits for any one of them.
    [[nodiscard]] std::size_t QueuedBytes() const;
    // Stops (true) or resumes (false) reading the data socket, leaving unread
    // bytes to the kernel's flow control. Holds across clients until changed.
    void PauseReading(bool Pause);

    // 0 idle (also while StartClient waits), 1 TCP server, 2 TCP client, 3 UDP peer.
    [[nodiscard]] int State() const { return FState; }
    // The port the TCP server or UDP peer is bound to (LocalPort 0 lets the
    // system choose); 0 when not bound.
    [[nodiscard]] int BoundPort() const;
    // The TCP peer ("a.b.c.d:port", "[v6]:port"), or the sender of the last
    // datagram; empty when there is none.
    [[nodiscard]] std::string PeerText() const;
    // Clients a TCP server serves now.
    [[nodiscard]] int ClientCount() const;
    // This end and the peer's of the data socket (a UDP peer's is its
    // destination); false while there is none. A socket bound to any address
    // reports the address the system sends from to that peer.
    [[nodiscard]] bool Ends(sockaddr_in &local, sockaddr_in &peer) const;

private:
    friend struct TDRSockTestAccess;

    int connectWaiting(int fd, const TSockAddress &to);
    void joinGroup(int fd, const TSockAddress &group);
    void adoptClient(int fd, const TSockAddress &peer);
    void acceptSeveral(int fd, const TSockAddress &peer);
    void clientClosed(TDRSock *client);
    void clientDrained();
    [[nodiscard]] std::size_t ownQueuedBytes() const { return FSendQueue.size() - FSendQueueHead; }
    void logLogin(const TSockAddress &peer, bool connected, std::string &logError);
    void attachDataSocket(int fd, bool tcp);
    void closeDataSocket();
    void closeListenSocket();
    void updateReadNotifier();
    void handleAccept();
    void handleRead();
    void handleWritable();
    void handleClose(std::uint64_t generation);
    void reportFailure(const std::shared_ptr<bool> &alive, const std::string &reason, bool fatal);

    std::uint8_t FState = 0;
    // False once destroyed; a loop that raised an event checks its copy first.
    std::shared_ptr<bool> FAlive = std::make_shared<bool>(true);
    QEventLoop *FConnectLoop = nullptr; // set while StartClient waits
    TSockWindow *FWindow = nullptr;
    int FListenSocket = -1;
    int FDataSocket = -1;
    bool FDataIsTcp = false;
    bool FPeerClosed = false; // a TCP read returned 0; the close event is posted
    bool FReadPaused = false;
    std::uint64_t FDataGeneration = 0; // tells a posted close which connection it was for
    QSocketNotifier *FListenNotifier = nullptr;
    QSocketNotifier *FReadNotifier = nullptr;
    QSocketNotifier *FWriteNotifier = nullptr;
    TSockAddress FClientAddress; // kept from the accept
    TSockAddress FSendTo;
    TSockAddress FLastSender; // of the last datagram
    int FDataFamily = 0;
    // With SeveralClients: one endpoint per client, each a connected stream.
    std::vector<std::unique_ptr<TDRSock>> FClients;
    std::string FSendQueue;
    std::size_t FSendQueueHead = 0;
    // UDP: room for the longest datagram. TCP: reads take up to 32 KiB in one
    // call, handed on in blocks of at most 2,048 bytes, so the events are the
    // same as with small reads at a fraction of the calls; bytes read but not
    // yet handed on (a handler paused reading) wait here for the resume.
    std::vector<char> FRecvBuffer;
    std::size_t FStreamHead = 0;
    std::size_t FStreamTail = 0;
    void scheduleRead();
};

} // namespace kestrune
