#include "engine/Channel.h"

#include "common/IntText.h"
#include "engine/ChannelOptions.h"
#include "engine/ChoiceLists.h"
#include "net/AddressHelpers.h"

namespace kestrune {

namespace {

std::string NetworkDescription(const TChannel &c)
{
    switch (c.Method) {
    case cmUDP:
        return "UDP," + HostPortText(c.IPAddr, c.RemotePort) + ",L:" + std::to_string(c.LocalPort);
    case cmTCPServer:
        return "TCP Server," + std::to_string(c.LocalPort);
    case cmTCPClient:
        return "TCP Client," + HostPortText(c.IPAddr, c.RemotePort);
    default:
        return {};
    }
}

} // namespace

std::string ChannelDescription(const TChannel &c)
{
    if (c.Method == cmSerial) {
        const std::string parity = ChoiceText(ParityTexts, c.ParityBit);
        return "Serial," + c.Port + "," + std::to_string(c.Baudrate) + "," +
               ChoiceText(ByteSizeTexts, c.ByteSize) + "," + parity.substr(0, 1) + "," +
               ChoiceText(StopBitsTexts, c.StopBits);
    }
    const std::string options = NetworkOptionWords(c);
    return NetworkDescription(c) + (options.empty() ? "" : "," + options);
}

std::int32_t ParseSizeText(std::string_view text)
{
    if (text.empty())
        return -1;
    std::int64_t multiplier = 1;
    switch (text.back()) {
    case 'k':
    case 'K':
        multiplier = 1024;
        text.remove_suffix(1);
        break;
    case 'm':
    case 'M':
        multiplier = 1048576;
        text.remove_suffix(1);
        break;
    default:
        break;
    }
    const auto number = TryStrToInt(text);
    if (!number)
        return -1;
    // A product outside 32 bits would wrap into a wrong size: refuse it instead.
    const std::int64_t size = multiplier * *number;
    if (size > INT32_MAX || size < INT32_MIN)
        return -1;
    return static_cast<std::int32_t>(size);
}

std::string AddressPaneCaption(const std::string &list)
{
    const auto first = list.find(',');
    if (first == std::string::npos || first == 0)
        return list;
    const auto second = list.find(',', first + 1);
    return second == std::string::npos ? list : list.substr(0, second);
}

} // namespace kestrune
