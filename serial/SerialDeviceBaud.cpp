// termios2 lives in the kernel's headers, which clash with <termios.h>; this
// file therefore includes only those.
#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <cstdint>

extern "C" int ioctl(int Fd, unsigned long Request, ...);

namespace kestrune {

bool SetCustomBaudRate(int Fd, std::uint32_t BaudRate)
{
    struct termios2 tio
    {
    };
    if (ioctl(Fd, TCGETS2, &tio) != 0)
        return false;
    tio.c_cflag &= ~tcflag_t(CBAUD | (CBAUD << IBSHIFT));
    tio.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    tio.c_ispeed = BaudRate;
    tio.c_ospeed = BaudRate;
    return ioctl(Fd, TCSETS2, &tio) == 0;
}

std::uint32_t ReadBaudRate(int Fd)
{
    struct termios2 tio
    {
    };
    if (ioctl(Fd, TCGETS2, &tio) != 0)
        return 0;
    return tio.c_ospeed;
}

} // namespace kestrune
