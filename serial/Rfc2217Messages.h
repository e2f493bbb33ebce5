#pragma once

#include "serial/SerialDevice.h"
#include "serial/TelnetCodec.h"

#include <cstdint>
#include <string>

namespace kestrune {

// The COM-PORT-OPTION of RFC 2217: command codes a client sends; the server
// answers and notifies with the same codes plus 100.
namespace rfc2217 {
inline constexpr unsigned char Signature = 0;
inline constexpr unsigned char SetBaudRate = 1;
inline constexpr unsigned char SetDataSize = 2;
inline constexpr unsigned char SetParity = 3;
inline constexpr unsigned char SetStopSize = 4;
inline constexpr unsigned char SetControl = 5;
inline constexpr unsigned char NotifyLineState = 6;
inline constexpr unsigned char NotifyModemState = 7;
inline constexpr unsigned char FlowControlSuspend = 8;
inline constexpr unsigned char FlowControlResume = 9;
inline constexpr unsigned char SetLineStateMask = 10;
inline constexpr unsigned char SetModemStateMask = 11;
inline constexpr unsigned char PurgeData = 12;
inline constexpr unsigned char ServerOffset = 100;

// SET-CONTROL values.
inline constexpr unsigned char FlowNone = 1;
inline constexpr unsigned char FlowXonXoff = 2;
inline constexpr unsigned char FlowHardware = 3;
inline constexpr unsigned char BreakOn = 5;
inline constexpr unsigned char BreakOff = 6;
inline constexpr unsigned char DtrOn = 8;
inline constexpr unsigned char DtrOff = 9;
inline constexpr unsigned char RtsOn = 11;
inline constexpr unsigned char RtsOff = 12;
inline constexpr unsigned char InboundFlowNone = 14;
inline constexpr unsigned char InboundFlowXonXoff = 15;
inline constexpr unsigned char InboundFlowHardware = 16;

// PURGE-DATA values: the server's buffer of data from the device, of data to it.
inline constexpr unsigned char PurgeReceive = 1;
inline constexpr unsigned char PurgeTransmit = 2;

// NOTIFY-LINESTATE bits.
inline constexpr unsigned char LineBreak = 0x10;
inline constexpr unsigned char LineFraming = 0x08;
inline constexpr unsigned char LineParity = 0x04;
inline constexpr unsigned char LineOverrun = 0x02;

// NOTIFY-MODEMSTATE bits.
inline constexpr unsigned char ModemCd = 0x80;
inline constexpr unsigned char ModemRi = 0x40;
inline constexpr unsigned char ModemDsr = 0x20;
inline constexpr unsigned char ModemCts = 0x10;
inline constexpr unsigned char ModemDeltaCd = 0x08;
inline constexpr unsigned char ModemRiTrailingEdge = 0x04;
inline constexpr unsigned char ModemDeltaDsr = 0x02;
inline constexpr unsigned char ModemDeltaCts = 0x01;

// What this client asks to be told about: line errors, and every modem line.
inline constexpr unsigned char LineStateMask = LineBreak | LineFraming | LineParity | LineOverrun;
inline constexpr unsigned char ModemStateMask = 0xFF;
} // namespace rfc2217

// The codec a remote serial port speaks with: BINARY and SUPPRESS-GO-AHEAD
// both ways, and COM-PORT-OPTION offered by this side.
[[nodiscard]] TTelnetCodec MakeComPortCodec();

// One client command on the wire: IAC SB COM-PORT-OPTION Code Value... IAC SE.
[[nodiscard]] std::string ComPortCommand(unsigned char Code, const std::string &Value);
[[nodiscard]] std::string ComPortCommand(unsigned char Code, unsigned char Value);

// The commands that set the remote line to Settings: rate, data size,
// parity, stop size, both flow directions, and DTR and RTS (RTS only without
// hardware flow, which drives it).
[[nodiscard]] std::string LineSettingsCommands(const TLineSettings &Settings);

// The commands sent once the option is agreed: which notifications to send.
[[nodiscard]] std::string NotificationMaskCommands();

// The server's side of the option as the client sees it: notifications turned
// into running counters of line errors and modem-line changes, the values it
// reported back, and a signature request answered.
class TComPortState
{
public:
    // Takes one subnegotiation from the server; other options are ignored.
    // Returns the bytes owed to the server (an answer to a signature request).
    std::string Take(const TTelnetSubneg &Subneg);

    [[nodiscard]] const TLineCounters &Counters() const { return FCounters; }
    // Last modem state reported, -1 before the first report.
    [[nodiscard]] int ModemState() const { return FModemState; }
    // Last baud rate the server reported it set, 0 before any.
    [[nodiscard]] std::uint32_t ReportedBaudRate() const { return FBaudRate; }

private:
    void TakeModemState(unsigned char State);

    TLineCounters FCounters;
    int FModemState = -1;
    std::uint32_t FBaudRate = 0;
};

} // namespace kestrune
