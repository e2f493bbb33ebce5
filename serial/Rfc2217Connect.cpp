#include "serial/Rfc2217Connect.h"

#include "common/CaseInsensitive.h"
#include "serial/CommNotifier.h"
#include "serial/Rfc2217Messages.h"
#include "serial/SerialDevice.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QPointer>
#include <QThread>
#include <QTimer>

#include <cctype>
#include <cerrno>
#include <mutex>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace kestrune {

namespace {

using Clock = std::chrono::steady_clock;

constexpr char Scheme[] = "rfc2217://";
constexpr std::size_t SchemeLength = sizeof Scheme - 1;
// Waits are cut into slices this long so a cancel is seen promptly.
constexpr int SliceMs = 100;
// How often the GUI thread looks whether the helper thread has finished.
constexpr int DoneLookMs = 5;

// Waits for Events on Fd until Deadline; false on time-out or cancel.
bool WaitFor(int Fd, short Events, Clock::time_point Deadline, const std::atomic<bool> &Cancel)
{
    for (;;) {
        if (Cancel.load())
            return false;
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(Deadline - Clock::now()).count();
        if (left <= 0)
            return false;
        pollfd fd{Fd, Events, 0};
        const int ready = ::poll(&fd, 1, int(std::min<long long>(left, SliceMs)));
        if (ready > 0)
            return true;
        if (ready < 0 && errno != EINTR)
            return true; // the following call reports what is wrong
    }
}

// Sends all of Bytes before Deadline; the reason when it cannot.
std::string SendAll(int Fd, const std::string &Bytes, Clock::time_point Deadline,
                    const std::atomic<bool> &Cancel)
{
    std::size_t offset = 0;
    while (offset < Bytes.size()) {
        const ssize_t n = ::send(Fd, Bytes.data() + offset, Bytes.size() - offset, MSG_NOSIGNAL);
        if (n > 0) {
            offset += std::size_t(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return IoErrorText(errno);
        if (!WaitFor(Fd, POLLOUT, Deadline, Cancel))
            return "the server does not take data";
    }
    return {};
}

std::string Endpoint(const TRemotePortAddress &Address)
{
    return Address.Host + ":" + std::to_string(Address.Port);
}

// Connects to one of the host's addresses; -1 and the reason when none works.
int Connect(const TRemotePortAddress &Address, Clock::time_point Deadline,
            const std::atomic<bool> &Cancel, std::string &Reason)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo *found = nullptr;
    const std::string service = std::to_string(Address.Port);
    const int looked = ::getaddrinfo(Address.Host.c_str(), service.c_str(), &hints, &found);
    if (looked != 0) {
        Reason = "cannot resolve host '" + Address.Host + "': " +
                 (looked == EAI_SYSTEM ? IoErrorText(errno) : std::string(::gai_strerror(looked)));
        return -1;
    }
    std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> list(found, &::freeaddrinfo);

    Reason.clear();
    for (const addrinfo *entry = found; entry; entry = entry->ai_next) {
        const int fd =
            ::socket(entry->ai_family, entry->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            Reason = IoErrorText(errno);
            continue;
        }
        int error = 0;
        if (::connect(fd, entry->ai_addr, entry->ai_addrlen) != 0) {
            error = errno;
            if (error == EINPROGRESS) {
                if (!WaitFor(fd, POLLOUT, Deadline, Cancel)) {
                    ::close(fd);
                    Reason = "connection to " + Endpoint(Address) + " timed out";
                    return -1;
                }
                socklen_t length = sizeof error;
                if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0)
                    error = errno;
            }
        }
        if (error == 0) {
            // Commands are small and should not wait for the next data.
            const int on = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            return fd;
        }
        ::close(fd);
        Reason = "cannot connect to " + Endpoint(Address) + ": " + IoErrorText(error);
    }
    if (Reason.empty())
        Reason = "no address for host '" + Address.Host + "'";
    return -1;
}

// Holds back the serial components' notifications while a remote port opens:
// their handlers may close channels, and the window is in the middle of
// opening them. Each held component is woken again afterwards; nothing it
// queued meanwhile is lost.
class TCommWakeDeferral : public QObject
{
public:
    ~TCommWakeDeferral() override
    {
        for (const QPointer<QObject> &target : FHeld) {
            if (target)
                QCoreApplication::postEvent(target, new QEvent(TCommNotifier::WakeType));
        }
    }

protected:
    bool eventFilter(QObject *Watched, QEvent *Event) override
    {
        if (Event->type() != TCommNotifier::WakeType)
            return false;
        FHeld.emplace_back(Watched);
        return true;
    }

private:
    std::vector<QPointer<QObject>> FHeld;
};

// Shared by the GUI thread and the helper thread, which may outlive the wait.
// The helper touches no Qt object: the GUI thread looks for its result.
struct TOpenAttempt
{
    std::mutex Lock;
    bool Done = false;
    bool Abandoned = false;
    TRemoteConnection Result;
    std::atomic<bool> Cancel{false};
};

} // namespace

bool IsRemotePortName(const std::string &CommName)
{
    return StartsWithText(CommName, Scheme);
}

std::optional<TRemotePortAddress> ParseRemotePortName(const std::string &CommName)
{
    if (!IsRemotePortName(CommName))
        return std::nullopt;
    std::string rest = CommName.substr(SchemeLength);
    if (!rest.empty() && rest.back() == '/')
        rest.pop_back();

    TRemotePortAddress address;
    std::string port;
    if (!rest.empty() && rest.front() == '[') {
        const std::size_t close = rest.find(']');
        if (close == std::string::npos || close + 1 >= rest.size() || rest[close + 1] != ':')
            return std::nullopt;
        address.Host = rest.substr(1, close - 1);
        port = rest.substr(close + 2);
    } else {
        const std::size_t colon = rest.find(':');
        if (colon == std::string::npos || rest.find(':', colon + 1) != std::string::npos)
            return std::nullopt;
        address.Host = rest.substr(0, colon);
        port = rest.substr(colon + 1);
    }
    if (address.Host.empty() || port.empty() || port.size() > 5)
        return std::nullopt;
    for (const char c : address.Host) {
        if (std::isspace(static_cast<unsigned char>(c)) || c == '/' || c == '[' || c == ']')
            return std::nullopt;
    }
    unsigned long number = 0;
    for (const char c : port) {
        if (!std::isdigit(static_cast<unsigned char>(c)))
            return std::nullopt;
        number = number * 10 + unsigned(c - '0');
    }
    if (number == 0 || number > 65535)
        return std::nullopt;
    address.Port = static_cast<std::uint16_t>(number);
    return address;
}

TRemoteOpenLimits &RemoteOpenLimits()
{
    static TRemoteOpenLimits limits;
    return limits;
}

TRemoteConnection ConnectRemotePort(const TRemotePortAddress &Address,
                                    const TRemoteOpenLimits &Limits,
                                    const std::atomic<bool> &Cancel)
{
    TRemoteConnection result;
    const Clock::time_point start = Clock::now();
    const Clock::time_point deadline = start + Limits.Total;
    const int fd = Connect(Address, deadline, Cancel, result.Reason);
    if (fd < 0)
        return result;
    const auto fail = [&](std::string Reason) {
        ::close(fd);
        result.Reason = std::move(Reason);
        return std::move(result);
    };

    auto codec = std::make_unique<TTelnetCodec>(MakeComPortCodec());
    codec->StartNegotiation();
    const Clock::time_point answerDeadline = std::min(deadline, Clock::now() + Limits.OptionAnswer);
    std::string data;
    std::vector<TTelnetSubneg> subnegs;
    char buffer[4096];
    for (;;) {
        if (std::string error = SendAll(fd, codec->TakeReplies(), deadline, Cancel); !error.empty())
            return fail(error);
        const TOptionAnswer answer = codec->LocalAnswer(telnet::OptComPort);
        if (answer == TOptionAnswer::Refused)
            return fail("the server at " + Endpoint(Address) +
                        " refuses the COM-PORT-OPTION (RFC 2217)");
        if (answer == TOptionAnswer::Accepted)
            break;
        if (!WaitFor(fd, POLLIN, answerDeadline, Cancel))
            return fail(Cancel.load() ? "cancelled"
                                      : "the server at " + Endpoint(Address) +
                                            " does not answer the COM-PORT-OPTION (RFC 2217)");
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n == 0)
            return fail("the server at " + Endpoint(Address) + " closed the connection");
        if (n < 0) {
            if (errno == EAGAIN || errno == EINTR)
                continue;
            return fail(IoErrorText(errno));
        }
        data.clear();
        subnegs.clear();
        codec->Decode(buffer, std::size_t(n), data, subnegs);
    }
    if (std::string error = SendAll(fd, NotificationMaskCommands(), deadline, Cancel);
        !error.empty())
        return fail(error);
    result.Socket = fd;
    result.Codec = std::move(codec);
    return result;
}

TRemoteConnection OpenRemotePort(const TRemotePortAddress &Address)
{
    const TRemoteOpenLimits limits = RemoteOpenLimits();
    QCoreApplication *app = QCoreApplication::instance();
    if (!app || QThread::currentThread() != app->thread()) {
        const std::atomic<bool> never{false};
        return ConnectRemotePort(Address, limits, never);
    }

    auto attempt = std::make_shared<TOpenAttempt>();
    std::thread([attempt, Address, limits] {
        TRemoteConnection result = ConnectRemotePort(Address, limits, attempt->Cancel);
        std::lock_guard lock(attempt->Lock);
        if (attempt->Abandoned) {
            if (result.Socket >= 0)
                ::close(result.Socket);
            return;
        }
        attempt->Result = std::move(result);
        attempt->Done = true;
    }).detach();

    const auto done = [&attempt] {
        std::lock_guard lock(attempt->Lock);
        return attempt->Done;
    };
    if (!done()) {
        QEventLoop loop;
        QTimer look;
        QObject::connect(&look, &QTimer::timeout, &loop, [&] {
            if (done())
                loop.quit();
        });
        look.start(DoneLookMs);
        // The helper keeps its own deadline; this one only covers a name
        // lookup that does not return in time.
        QTimer::singleShot(limits.Total + std::chrono::milliseconds(250), &loop, &QEventLoop::quit);
        TCommWakeDeferral deferral;
        app->installEventFilter(&deferral);
        loop.exec(QEventLoop::ExcludeUserInputEvents | QEventLoop::ExcludeSocketNotifiers);
        app->removeEventFilter(&deferral);
    }

    std::lock_guard lock(attempt->Lock);
    if (attempt->Done)
        return std::move(attempt->Result);
    attempt->Abandoned = true;
    attempt->Cancel = true;
    TRemoteConnection late;
    late.Reason = "connection to " + Endpoint(Address) + " timed out";
    return late;
}

} // namespace kestrune
