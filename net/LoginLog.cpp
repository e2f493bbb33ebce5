#include "net/LoginLog.h"

#include "common/FileDescriptor.h"
#include "common/LocalDateTime.h"
#include "net/AddressHelpers.h"

#include <stdexcept>

namespace kestrune {

std::string LoginLine(const QDateTime &when, const std::string &address, int port, bool connected)
{
    return LocalDateTimeText(when, QLocale::system()) + "  " + HostPortText(address, port) +
           (connected ? " Connected." : " Disconnected.") + "\r\n";
}

void AppendLoginLine(const std::string &path, const std::string &line)
{
    if (const int error = AppendToFile(path, line); error != 0)
        throw std::runtime_error("Cannot write \"" + path + "\": " + ErrorText(error));
}

} // namespace kestrune
