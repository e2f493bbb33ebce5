#include "engine/ChannelTransports.h"

#include "net/DRSock.h"
#include "net/SocketError.h"
#include "serial/Comm.h"
#include "serial/CommTimeouts.h"
#include "serial/PortIdentity.h"
#include "serial/PortNames.h"
#include "serial/PortReturnWatch.h"
#include "serial/Rfc2217Connect.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <utility>

namespace kestrune {

namespace {

// A serial write request carries a 16-bit length.
constexpr std::size_t MaxSerialRequest = 65535;

class TSerialTransport final : public TTransport, public TLineControl
{
public:
    TSerialTransport(std::unique_ptr<TComm> comm, bool reopenOnReturn)
        : FComm(std::move(comm)), FReopenOnReturn(reopenOnReturn)
    {
        FComm->OnReceiveData = [this](TComm *, const char *buffer, std::uint16_t length) {
            if (OnData)
                OnData(std::string_view(buffer, length));
        };
        FComm->OnRequestHangup = [this](TComm *) {
            if (FReopenOnReturn) {
                DeviceLost();
                return;
            }
            if (!OnHangup)
                return;
            const std::string reason = FComm->HangupReason();
            OnHangup(reason.empty() ? "Serial port error, Stop."
                                    : "Serial port error, Stop.\r\nError msg:" + reason);
        };
        FComm->OnSendDataEmpty = [this](TComm *) {
            if (OnDrained)
                OnDrained();
        };
        FComm->OnReceiveError = [this](TComm *, std::uint32_t errors) {
            if (OnLineError)
                OnLineError(errors);
        };
        FComm->OnModemStateChange = [this](TComm *, std::uint32_t modemEvent) {
            if (OnModemChange)
                OnModemChange(modemEvent);
        };
        FComm->OnModemLines = [this](TComm *, std::uint32_t lines) {
            if (OnModemLines)
                OnModemLines(lines);
        };
    }

    ~TSerialTransport() override { FComm->ClosePort(); }

    // Called once the port has opened: what the port is called, what finds it
    // again, and the output lines it opened with.
    void Opened(const std::string &portName)
    {
        FPortName = portName;
        // A remote port is reached again only by a new Start.
        if (IsRemotePortName(portName))
            FReopenOnReturn = false;
        if (FReopenOnReturn)
            FReturnTarget = TPortReturnTarget(ResolvePortPath(portName));
        FOpenDtr = FComm->DtrControl();
        FOpenRts = FComm->RtsControl();
    }

    TWriteResult Write(std::string_view bytes) override
    {
        if (bytes.empty())
            return TWriteResult::Refused("An empty frame cannot go out on a serial port.");
        if (FWaiting) {
            FDropped += bytes.size();
            return TWriteResult::Refused("Waiting for " + FPortName +
                                         ": bytes for it are dropped.");
        }
        // Split, never cut: the requests queue in order.
        for (std::size_t offset = 0; offset < bytes.size(); offset += MaxSerialRequest) {
            const std::size_t n = std::min(MaxSerialRequest, bytes.size() - offset);
            if (!FComm->WriteData(bytes.data() + offset, static_cast<std::uint16_t>(n)))
                return TWriteResult::Refused("The serial port does not take data any more.");
        }
        return {};
    }

    std::size_t QueuedBytes() const override { return FComm->QueuedBytes(); }
    std::size_t DeviceQueuedBytes() const override { return FComm->DeviceQueuedBytes(); }
    void PauseReading(bool paused) override { FComm->PauseReading(paused); }
    [[nodiscard]] const std::vector<TReadQuiet> *BlockQuiet() const override
    {
        return &FComm->ReceiveQuiet();
    }

    bool PausesWithoutLoss() const override
    {
        // With RTS/CTS the driver lowers RTS once its buffer fills; with input
        // XON/XOFF it sends XOFF. Without either the device just goes on.
        return FComm->Outx_CtsFlow() || FComm->RtsControl() == TRtsControl::RtsHandshake ||
               FComm->Inx_XonXoffFlow();
    }

    bool KeepsWriteBoundaries() const override { return false; }
    TLinkState State() const override
    {
        if (FWaiting)
            return TLinkState::Waiting;
        return FComm->IsOpen() ? TLinkState::Open : TLinkState::Closed;
    }

    void Close() override
    {
        FComm->OnReceiveData = nullptr;
        FComm->OnRequestHangup = nullptr;
        FComm->OnSendDataEmpty = nullptr;
        FComm->OnReceiveError = nullptr;
        FComm->OnModemStateChange = nullptr;
        FComm->OnModemLines = nullptr;
        FWatch.reset();
        FWaiting = false;
        FComm->ClosePort();
    }

    TLineControl *LineControl() override { return this; }
    std::uint64_t DroppedBytes() const override { return FDropped; }

    void SetPromptReads(bool on) override
    {
        if (on == FPromptReads)
            return;
        FPromptReads = on;
        if (on) {
            FSavedTimeouts = {FComm->ReadIntervalTimeout(), FComm->ReadTotalTimeoutMultiplier(),
                              FComm->ReadTotalTimeoutConstant()};
            // An endless interval with no total: a read ends with the bytes there are.
            FComm->SetReadIntervalTimeout(MaxTimeout);
            FComm->SetReadTotalTimeoutMultiplier(0);
            FComm->SetReadTotalTimeoutConstant(0);
        } else {
            FComm->SetReadIntervalTimeout(FSavedTimeouts[0]);
            FComm->SetReadTotalTimeoutMultiplier(FSavedTimeouts[1]);
            FComm->SetReadTotalTimeoutConstant(FSavedTimeouts[2]);
        }
    }

    bool Present() const override { return FComm->IsOpen(); }
    bool Dtr() const override { return FComm->DtrControl() != TDtrControl::DtrDisable; }
    bool Rts() const override { return FComm->RtsControl() != TRtsControl::RtsDisable; }
    bool RtsByFlowControl() const override
    {
        return FComm->RtsControl() == TRtsControl::RtsHandshake;
    }
    void SetDtr(bool on) override
    {
        if (FComm->IsOpen())
            FComm->SetDtrControl(on ? TDtrControl::DtrEnable : TDtrControl::DtrDisable);
    }
    void SetRts(bool on) override
    {
        if (FComm->IsOpen() && !RtsByFlowControl())
            FComm->SetRtsControl(on ? TRtsControl::RtsEnable : TRtsControl::RtsDisable);
    }
    void SendBreak(int ms) override { FComm->SendBreak(ms); }
    std::int32_t ModemLines() const override { return FWaiting ? -1 : FComm->ModemLines(); }
    TLineErrorCounts LineErrors() const override
    {
        TLineErrorCounts total = FErrorsBefore;
        total += FComm->LineErrors();
        return total;
    }

private:
    // The device hung up: close it and watch for its return. Bytes it had not
    // yet sent are lost with it and counted.
    void DeviceLost()
    {
        FDropped += FComm->QueuedBytes();
        FErrorsBefore = LineErrors();
        FComm->ClosePort();
        FWaiting = true;
        if (!FWatch)
            FWatch = std::make_unique<TPortReturnWatch>([this] { TryReturn(); });
        FWatch->Start();
        if (OnWaiting)
            OnWaiting(FPortName);
    }

    void TryReturn()
    {
        // Only the device that went away: another one at its node stays closed.
        if (!FWaiting || !FReturnTarget.IsBack())
            return;
        // Reopened as it was opened: the same settings, the output lines as at open.
        FComm->SetCommName(FReturnTarget.Path());
        FComm->SetDtrControl(FOpenDtr);
        FComm->SetRtsControl(FOpenRts);
        try {
            FComm->OpenPort();
        } catch (const ECommsError &) {
            return; // not ready yet (busy, node without its group yet): the next look
        }
        FWaiting = false;
        FWatch->Stop();
        if (OnReturned)
            OnReturned(FPortName);
    }

    std::unique_ptr<TComm> FComm;
    bool FReopenOnReturn;
    std::string FPortName;
    TPortReturnTarget FReturnTarget;
    TDtrControl FOpenDtr = TDtrControl::DtrEnable;
    TRtsControl FOpenRts = TRtsControl::RtsEnable;
    bool FWaiting = false;
    std::uint64_t FDropped = 0;
    bool FPromptReads = false;
    std::array<std::uint32_t, 3> FSavedTimeouts{}; // interval, multiplier, constant
    TLineErrorCounts FErrorsBefore; // from earlier opens: each open starts the port's own at 0
    std::unique_ptr<TPortReturnWatch> FWatch;
};

class TSocketTransport final : public TTransport
{
public:
    explicit TSocketTransport(std::unique_ptr<TDRSock> sock, TCommMethod method)
        : FSock(std::move(sock)), FMethod(method)
    {
        FSock->OnDataArrival = [this](TDRSock *from, const void *buffer, std::int32_t length) {
            // 0 on TCP is the peer closing; it goes through like any block,
            // and the close event follows.
            if (length < 0 || !OnData)
                return;
            const TDRSock *outer = std::exchange(FDelivering, from);
            OnData(std::string_view(static_cast<const char *>(buffer),
                                    static_cast<std::size_t>(length)));
            FDelivering = outer;
        };
        FSock->OnConnected = [this](TDRSock *) {
            FHasPeer = true;
            FEndsKnown = false;
            if (OnPeerConnected)
                OnPeerConnected();
        };
        FSock->OnSocketClose = [this](TDRSock *) {
            if (FSock->ClientCount() > 0) {
                // One of several left: the others are served on, and what
                // waited only for the one that left is gone with it.
                if (FSock->QueuedBytes() == 0 && OnDrained)
                    OnDrained();
                if (OnPeersChanged)
                    OnPeersChanged();
                return;
            }
            FHasPeer = false;
            FEndsKnown = false;
            // A client without its server has nothing left to do: the link
            // closes without a word, as the user ended it.
            if (FMethod == cmTCPClient) {
                if (OnHangup)
                    OnHangup(std::string());
            } else if (OnPeerClosed) {
                OnPeerClosed();
            }
        };
        FSock->OnSendQueueDrained = [this](TDRSock *) {
            if (OnDrained)
                OnDrained();
        };
        // A server that can no longer accept has stopped: the link is lost, as
        // a serial port's is on a hang-up. A connection-log line that could
        // not be written leaves the link as it was.
        FSock->OnFailure = [this](TDRSock *, const std::string &reason, bool fatal) {
            if (fatal) {
                if (OnHangup)
                    OnHangup(NetworkErrorPrefix + reason);
            } else if (OnWarning) {
                OnWarning(reason);
            }
        };
    }

    ~TSocketTransport() override { FSock->StopSocket(); }

    TWriteResult Write(std::string_view bytes) override
    {
        if (FMethod == cmTCPServer && !FHasPeer)
            return TWriteResult::Refused("No client is connected.");
        if (bytes.size() > static_cast<std::size_t>(INT32_MAX))
            return TWriteResult::Refused("The frame is too long.");
        errno = 0;
        const std::int32_t n =
            FSock->SendData(bytes.data(), static_cast<std::int32_t>(bytes.size()));
        if (n < 0) {
            const int code = errno;
            return TWriteResult::Refused(code ? std::string("Send failed: ") + std::strerror(code)
                                              : std::string("Send failed."));
        }
        return {};
    }

    std::size_t QueuedBytes() const override { return FSock->QueuedBytes(); }
    void PauseReading(bool paused) override { FSock->PauseReading(paused); }
    bool PausesWithoutLoss() const override { return FMethod != cmUDP; }
    int PeerCount() const override { return FSock->ClientCount(); }
    std::string DataPeer() const override
    {
        return FDelivering ? FDelivering->PeerText() : std::string();
    }
    bool KeepsWriteBoundaries() const override { return FMethod == cmUDP; }

    TLinkState State() const override
    {
        if (FSock->State() == 0)
            return TLinkState::Closed;
        if (FMethod == cmTCPServer)
            return FHasPeer ? TLinkState::Connected : TLinkState::Listening;
        return TLinkState::Open;
    }

    void Close() override
    {
        FSock->OnDataArrival = nullptr;
        FSock->OnConnected = nullptr;
        FSock->OnSocketClose = nullptr;
        FSock->OnSendQueueDrained = nullptr;
        FSock->OnFailure = nullptr;
        FSock->StopSocket();
    }

    bool Addresses(TLinkAddresses &out) const override
    {
        // Asked for every captured packet: looked up once per peer.
        if (!FEndsKnown) {
            sockaddr_in local{};
            sockaddr_in peer{};
            if (!FSock->Ends(local, peer))
                return false;
            FEnds.Tcp = FMethod != cmUDP;
            FEnds.LocalAddr = ntohl(local.sin_addr.s_addr);
            FEnds.LocalPort = ntohs(local.sin_port);
            FEnds.PeerAddr = ntohl(peer.sin_addr.s_addr);
            FEnds.PeerPort = ntohs(peer.sin_port);
            FEndsKnown = true;
        }
        out = FEnds;
        return true;
    }

private:
    std::unique_ptr<TDRSock> FSock;
    TCommMethod FMethod;
    bool FHasPeer = false;
    const TDRSock *FDelivering = nullptr; // the endpoint whose block OnData carries
    mutable bool FEndsKnown = false;
    mutable TLinkAddresses FEnds;
};

} // namespace

std::unique_ptr<TTransport>
OpenChannelTransport(const TChannel &channel, const std::function<void(TComm &)> &onSerialCreated)
{
    if (channel.Method == cmSerial) {
        auto comm = std::make_unique<TComm>();
        std::string port = channel.Port;
        // The mark of a present port is for display only.
        if (!port.empty() && port.back() == '*')
            port.pop_back();
        comm->SetCommName(port);
        comm->SetBaudRate(static_cast<std::uint32_t>(channel.Baudrate));
        comm->SetByteSize(static_cast<TByteSize>(channel.ByteSize));
        comm->SetParity(static_cast<TParity>(channel.ParityBit));
        comm->SetStopBits(static_cast<TStopBits>(channel.StopBits));
        comm->SetReadIntervalTimeout(channel.ReadIntervalTimeout);
        comm->SetReadTotalTimeoutMultiplier(channel.ReadTimeoutMultiplier);
        comm->SetReadTotalTimeoutConstant(channel.ReadTimeoutConstant);
        comm->SetWriteTotalTimeoutMultiplier(channel.WriteTimeoutMultiplier);
        comm->SetWriteTotalTimeoutConstant(channel.WriteTimeoutConstant);
        switch (channel.FlowControl) {
        case TFlowControl::None:
            break;
        case TFlowControl::RtsCts:
            comm->SetOutx_CtsFlow(true);
            comm->SetRtsControl(TRtsControl::RtsHandshake);
            break;
        case TFlowControl::XonXoff:
            comm->SetOutx_XonXoffFlow(true);
            comm->SetInx_XonXoffFlow(true);
            break;
        }
        if (onSerialCreated)
            onSerialCreated(*comm);
        TComm *c = comm.get();
        // Wired before it opens, so no early event is missed.
        auto transport =
            std::make_unique<TSerialTransport>(std::move(comm), channel.ReopenOnReturn);
        c->OpenPort();
        transport->Opened(port);
        return transport;
    }

    auto sock = std::make_unique<TDRSock>();
    sock->LocalPort = channel.LocalPort;
    sock->RemotePort = channel.RemotePort;
    sock->RemoteHost = channel.IPAddr;
    sock->SeveralClients = channel.SeveralClients;
    sock->ReplyToSender = channel.ReplyToSender;
    sock->MulticastTtl = channel.MulticastTtl;
    sock->MulticastLoop = channel.MulticastLoop;
    TDRSock *s = sock.get();
    auto transport = std::make_unique<TSocketTransport>(std::move(sock), channel.Method);
    switch (channel.Method) {
    case cmUDP:
        s->StartUDP();
        break;
    case cmTCPServer:
        s->StartServer();
        break;
    default:
        s->StartClient();
        break;
    }
    return transport;
}

} // namespace kestrune
