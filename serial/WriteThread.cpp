#include "serial/WriteThread.h"

#include "serial/CommLink.h"
#include "serial/CommWriteQueue.h"
#include "serial/SerialDevice.h"

#include <cerrno>
#include <poll.h>
#include <system_error>

namespace kestrune {

void TWriteThread::Start()
{
    if (!FQueue.IsValid())
        throw std::system_error(EMFILE, std::system_category());
    FThread = std::thread([this] { Run(); });
}

void TWriteThread::Join()
{
    if (FThread.joinable())
        FThread.join();
}

void TWriteThread::Run()
{
    bool noticeDue = true;
    for (;;) {
        std::optional<std::string> request = FQueue.TryTake();
        if (!request) {
            if (noticeDue)
                FLink.Post(TCommMessage::Sent);
            noticeDue = false;
            pollfd fds[2] = {{FLink.StopEvent().Fd(), POLLIN, 0}, {FQueue.WakeFd(), POLLIN, 0}};
            if (::poll(fds, 2, -1) < 0) {
                if (errno == EINTR)
                    continue;
                FLink.SignalHangup();
                break;
            }
            if (fds[0].revents != 0)
                break;
            FQueue.ClearWake();
            continue;
        }
        if (FLink.StopEvent().IsSet())
            break;
        if (!WriteRequest(*request))
            break;
        noticeDue = true;
    }
    FLink.Device().PurgeOutput();
    FQueue.Close();
}

bool TWriteThread::WriteRequest(const std::string &Request)
{
    TSerialDevice &device = FLink.Device();
    std::size_t offset = 0;
    while (offset < Request.size()) {
        const TIoResult result = device.Write(Request.data() + offset, Request.size() - offset);
        switch (result.Status) {
        case TIoStatus::Ok:
            offset += result.Count;
            FQueue.Written(result.Count);
            continue;
        case TIoStatus::Invalid:
            return false;
        case TIoStatus::Failed:
            FLink.SignalHangup();
            return false;
        case TIoStatus::WouldBlock:
            break;
        }
        // Write time-outs would only end a device write early for it to be
        // continued with the rest, so waiting for room without a limit writes
        // the same bytes in the same order.
        pollfd fds[2] = {{FLink.StopEvent().Fd(), POLLIN, 0}, {device.Fd(), POLLOUT, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            FLink.SignalHangup();
            return false;
        }
        if (fds[0].revents != 0)
            return false;
        if (fds[1].revents & POLLNVAL)
            return false;
        if ((fds[1].revents & (POLLHUP | POLLERR)) && !(fds[1].revents & POLLOUT)) {
            FLink.SignalHangup();
            return false;
        }
    }
    return true;
}

} // namespace kestrune
