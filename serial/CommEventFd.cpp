#include "serial/CommEventFd.h"

#include <cstdint>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace kestrune {

TCommEventFd::TCommEventFd() : FFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

TCommEventFd::~TCommEventFd()
{
    if (FFd >= 0)
        ::close(FFd);
}

void TCommEventFd::Set()
{
    const std::uint64_t one = 1;
    // A full counter (EAGAIN) is still signalled, which is all that matters.
    [[maybe_unused]] const auto n = ::write(FFd, &one, sizeof one);
}

void TCommEventFd::Clear()
{
    std::uint64_t value = 0;
    [[maybe_unused]] const auto n = ::read(FFd, &value, sizeof value);
}

bool TCommEventFd::IsSet() const
{
    pollfd fd{FFd, POLLIN, 0};
    return ::poll(&fd, 1, 0) > 0 && (fd.revents & POLLIN);
}

} // namespace kestrune
