#include "serial/Rfc2217Messages.h"

namespace kestrune {

using namespace rfc2217;

TTelnetCodec MakeComPortCodec()
{
    using namespace telnet;
    return TTelnetCodec({OptBinary, OptSuppressGoAhead, OptComPort},
                        {OptBinary, OptSuppressGoAhead});
}

std::string ComPortCommand(unsigned char Code, const std::string &Value)
{
    std::string payload(1, static_cast<char>(Code));
    payload += Value;
    return TelnetSubnegotiation(telnet::OptComPort, payload);
}

std::string ComPortCommand(unsigned char Code, unsigned char Value)
{
    return ComPortCommand(Code, std::string(1, static_cast<char>(Value)));
}

std::string LineSettingsCommands(const TLineSettings &Settings)
{
    // Network byte order; a byte 0xFF in it is doubled like any other.
    const std::uint32_t rate = Settings.BaudRate;
    const std::string baud{static_cast<char>(rate >> 24), static_cast<char>(rate >> 16),
                           static_cast<char>(rate >> 8), static_cast<char>(rate)};
    // The option counts parity none..space from 1, in the same order.
    const auto parity = static_cast<unsigned char>(int(Settings.Parity) + 1);
    const unsigned char stop = Settings.OneAndHalfStopBits ? 3 : Settings.TwoStopBits ? 2 : 1;
    const unsigned char outbound = Settings.HardwareFlow ? FlowHardware
                                   : Settings.XonXoffOut ? FlowXonXoff
                                                         : FlowNone;
    const unsigned char inbound = Settings.HardwareFlow ? InboundFlowHardware
                                  : Settings.XonXoffIn  ? InboundFlowXonXoff
                                                        : InboundFlowNone;

    std::string out = ComPortCommand(SetBaudRate, baud);
    out += ComPortCommand(SetDataSize, static_cast<unsigned char>(Settings.DataBits));
    out += ComPortCommand(SetParity, parity);
    out += ComPortCommand(SetStopSize, stop);
    out += ComPortCommand(SetControl, outbound);
    out += ComPortCommand(SetControl, inbound);
    out += ComPortCommand(SetControl, Settings.DtrOn ? DtrOn : DtrOff);
    if (!Settings.HardwareFlow)
        out += ComPortCommand(SetControl, Settings.RtsOn ? RtsOn : RtsOff);
    return out;
}

std::string NotificationMaskCommands()
{
    return ComPortCommand(SetLineStateMask, LineStateMask) +
           ComPortCommand(SetModemStateMask, ModemStateMask);
}

std::string TComPortState::Take(const TTelnetSubneg &Subneg)
{
    if (Subneg.Option != telnet::OptComPort || Subneg.Payload.empty())
        return {};
    const auto code = static_cast<unsigned char>(Subneg.Payload[0]);
    const std::string value = Subneg.Payload.substr(1);
    const auto first = value.empty() ? 0 : static_cast<unsigned char>(value[0]);
    switch (code) {
    case ServerOffset + Signature:
        // An empty signature asks for ours.
        if (value.empty())
            return ComPortCommand(Signature, std::string("Kestrune"));
        break;
    case ServerOffset + SetBaudRate:
        if (value.size() == 4) {
            FBaudRate = 0;
            for (const char byte : value)
                FBaudRate = (FBaudRate << 8) | static_cast<unsigned char>(byte);
        }
        break;
    case ServerOffset + NotifyLineState:
        if (value.size() == 1) {
            FCounters.Break += (first & LineBreak) ? 1 : 0;
            FCounters.Frame += (first & LineFraming) ? 1 : 0;
            FCounters.Parity += (first & LineParity) ? 1 : 0;
            FCounters.Overrun += (first & LineOverrun) ? 1 : 0;
        }
        break;
    case ServerOffset + NotifyModemState:
        if (value.size() == 1)
            TakeModemState(first);
        break;
    default:
        // Answers to our settings, and codes this client does not act on:
        // FLOWCONTROL-SUSPEND among them, as TCP already holds the sender back.
        break;
    }
    return {};
}

void TComPortState::TakeModemState(unsigned char State)
{
    // A change counts once, whether the server flags it with a delta bit, the
    // level differs from the last report, or both. The first report only sets
    // where the lines stand.
    const bool known = FModemState >= 0;
    const auto last = static_cast<unsigned char>(known ? FModemState : State);
    const auto changed = [&](unsigned char Level, unsigned char Delta) {
        return (State & Delta) || ((State ^ last) & Level);
    };
    if (changed(ModemCd, ModemDeltaCd))
        ++FCounters.Carrier;
    if ((State & ModemRiTrailingEdge) || ((State & ModemRi) && !(last & ModemRi)))
        ++FCounters.Ring;
    if (changed(ModemCts, ModemDeltaCts))
        ++FCounters.Cts;
    if (changed(ModemDsr, ModemDeltaDsr))
        ++FCounters.Dsr;
    FModemState = State;
}

} // namespace kestrune
