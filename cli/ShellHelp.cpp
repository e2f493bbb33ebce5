#include "cli/ShellHelp.h"

namespace kestrune {

namespace {

constexpr const char *Usage = R"(Usage: kestrune                     the window
       kestrune run LIST [OPTIONS]   run a command list file, then exit
       kestrune bridge [OPTIONS]     open the main channel and its relays until SIGINT or SIGTERM
       kestrune send FILE... --protocol P [OPTIONS]     send files over the main channel
       kestrune receive PATH --protocol P [OPTIONS]     receive files from the main channel
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

constexpr const char *TransferText = R"(
kestrune send FILE... --protocol raw|xmodem|xmodem-1k|ymodem
kestrune receive PATH --protocol xmodem|xmodem-1k|ymodem
Opens the main channel, waits until it can send (a TCP server waits for its client), moves the
files and exits. The peer runs the other side (rx, rb, sx, sb, a boot loader). XMODEM and
XMODEM-1K move one file; a received one keeps the padding of its last block, as the protocol
carries no size. YMODEM moves several files with names and sizes and receives into the folder
PATH. A raw send writes the files' bytes as they are.
  --rate BYTES_PER_S           raw: keep to this many bytes a second
  --chunk SIZE,DELAY_MS        raw: send SIZE bytes, then wait DELAY_MS, and so on
  --retry-timeout MS           how long one try waits for the peer (10000); the start waits
                               six of these and a block is sent at most ten times
  --timeout MS                 a limit for the whole transfer
SIGINT or SIGTERM cancels the transfer on both sides.

Exit status:
  0  every file moved
  1  the transfer failed or was cancelled (standard error says why)
  2  a usage error, or a file that cannot be read
  3  a channel could not be opened or was lost
  4  --timeout ran out
)";

} // namespace

std::string ShellHelpText(const std::string &topic)
{
    if (topic == "run")
        return std::string("Usage: kestrune run LIST [OPTIONS]\n") + RunText + ChannelOptions;
    if (topic == "bridge")
        return std::string("Usage: kestrune bridge [OPTIONS]\n") + BridgeText + ChannelOptions;
    if (topic == "send" || topic == "receive")
        return std::string("Usage:\n") + TransferText + ChannelOptions;
    return std::string(Usage) + ChannelOptions + RunText + BridgeText + TransferText;
}

std::string ShellVersionText()
{
    return std::string("kestrune ") + KESTRUNE_VERSION + "\n";
}

} // namespace kestrune
