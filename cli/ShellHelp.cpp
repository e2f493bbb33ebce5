#include "cli/ShellHelp.h"

namespace kestrune {

namespace {

constexpr const char *Usage = R"(Usage: kestrune                     the window
       kestrune run LIST [OPTIONS]   run a command list file, then exit
       kestrune bridge [OPTIONS]     open the main channel and its relays until SIGINT or SIGTERM
       kestrune --help | --version
       kestrune COMMAND --help
)";

constexpr const char *ChannelOptions = R"(
Channels (each overrides the settings file; relays given replace the file's):
  --settings FILE              a settings file of the window's format (read, never written)
  --serial PORT[,BAUD[,8N1]]   the main channel is a serial port; PORT may be rfc2217://HOST:PORT
  --udp LOCALPORT,HOST,PORT[,reply-to-sender][,ttl=N][,no-loop]
                               the main channel is a UDP socket; HOST may be IPv6 (::1,
                               fe80::1%eth0), a broadcast address or a multicast group
  --tcp-server PORT[,several]  the main channel is a TCP server (several: every client at once)
  --tcp-client HOST,PORT       the main channel is a TCP client
  --relay KIND,FIELDS          a relay channel (repeatable); KIND is serial, udp, tcp-server or
                               tcp-client, FIELDS as for the main channel's option

Answers:
  --rules FILE                 answer frames the main channel receives by the rules in FILE
                               (A:k:PATTERN:k:REPLY lines)
  --verify-checks              judge each received frame by the settings' check; a bad one
                               is never answered

Output:
  --mode hex|char|mixed        how frames are printed (and how Mixed list lines read)
  --esc '{}'                   the bracket pair of Mixed mode: {}, [] , () or <>
  --log FILE                   write the communication log to FILE; %Y %m %d %H %M %S in it
                               become the date and time (CommLog-%Y%m%d-%H%M%S.txt)
  --capture FILE               write every channel's traffic to FILE as a pcapng capture
  --quiet, -q                  print no frames

Standard output has one line per frame: "HH:mm:ss.zzz main < 01 03 02 00 2A" ('<' received,
'>' sent, R1, R2, ... for relays); standard error has one line per message.
)";

constexpr const char *RunText = R"(
kestrune run LIST: opens the channels, waits until the main channel can send (a TCP server
waits for its client), runs the command list LIST as the window's Send List does, and exits
once it has ended and what it sent has gone out.
  --timeout MS                 a limit for the whole run

Exit status:
  0  every reply line got its reply
  1  at least one reply line did not (each named on standard error; the list goes on)
  2  a usage error, or a file that cannot be read
  3  a channel could not be opened or was lost
  4  --timeout ran out
)";

constexpr const char *BridgeText = R"(
kestrune bridge: opens the main channel and every checked relay and carries bytes between them
until SIGINT or SIGTERM, which closes every channel and the log.

Exit status:
  0  ended by SIGINT or SIGTERM
  2  a usage error, or a file that cannot be read
  3  a channel could not be opened or was lost (a serial port set to wait for its device
     waits instead)
)";

} // namespace

std::string ShellHelpText(const std::string &topic)
{
    if (topic == "run")
        return std::string("Usage: kestrune run LIST [OPTIONS]\n") + RunText + ChannelOptions;
    if (topic == "bridge")
        return std::string("Usage: kestrune bridge [OPTIONS]\n") + BridgeText + ChannelOptions;
    return std::string(Usage) + ChannelOptions + RunText + BridgeText;
}

std::string ShellVersionText()
{
    return std::string("kestrune ") + KESTRUNE_VERSION + "\n";
}

} // namespace kestrune
