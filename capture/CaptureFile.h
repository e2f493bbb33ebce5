#pragma once

#include "capture/IpPackets.h"
#include "capture/PcapngBlocks.h"
#include "common/FileDescriptor.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace kestrune {

// The two ends of a socket link as a capture shows them.
struct TSocketEnds
{
    bool Tcp = false;
    TIpEnd Local;
    TIpEnd Peer;

    friend bool operator==(const TSocketEnds &, const TSocketEnds &) = default;
};

// A pcapng capture being written: one interface per channel name and link
// type, added when its first packet comes. Blocks gather until Flush (its
// owner calls it once the packets of one turn of its event loop are in) or
// until a megabyte waits, and go to the file in one write: a flood costs a
// write per turn, not per packet. The file holds whole blocks only, so it
// reads after any flush, and a crash loses at most the unflushed turn.
// A socket's bytes are wrapped in IPv4 and UDP or TCP headers from its real
// ends, so dissectors apply by port; TCP sequence numbers run on per
// direction for as long as the ends stay the same, and start again with a
// new connection.
class TCaptureFile
{
public:
    // Creates the file, or empties it, and writes the section header. The
    // reason on failure (the capture is closed then).
    [[nodiscard]] std::string Open(const std::string &path);
    // Flushes what waits, then closes.
    void Close();
    ~TCaptureFile();
    TCaptureFile() = default;
    TCaptureFile(const TCaptureFile &) = delete;
    TCaptureFile &operator=(const TCaptureFile &) = delete;
    // Writes the blocks that wait. Empty when written, else the reason; the
    // capture is closed after a failure.
    [[nodiscard]] std::string Flush();
    [[nodiscard]] bool Pending() const { return !FPending.empty(); }
    [[nodiscard]] bool IsOpen() const { return FFd.IsOpen(); }
    [[nodiscard]] const std::string &Path() const { return FPath; }

    // One packet of a serial line. Empty when taken, else the reason; the
    // capture is closed after a failure.
    [[nodiscard]] std::string WriteSerial(const std::string &channel, std::uint64_t timeNs,
                                          TPacketDir dir, std::string_view bytes);
    // One socket write or read. A TCP read of nothing (the peer closed) is a
    // FIN from the peer; a long payload becomes several packets.
    [[nodiscard]] std::string WriteSocket(const std::string &channel, std::uint64_t timeNs,
                                          TPacketDir dir, const TSocketEnds &ends,
                                          std::string_view bytes);

private:
    struct TInterface
    {
        std::string Name;
        std::uint16_t LinkType = 0;
        // The IPv4 identification and, for TCP, the next sequence number of
        // each direction (0 outbound, 1 inbound) of the connection in Ends.
        std::uint16_t IpId = 0;
        TSocketEnds Ends;
        bool Flowing = false;
        std::uint32_t NextSeq[2] = {0, 0};
    };

    [[nodiscard]] std::string Interface(const std::string &name, std::uint16_t linkType,
                                        std::uint32_t &id);
    [[nodiscard]] std::string Put(const std::string &block);
    [[nodiscard]] std::string Put(const TBlockAround &around, std::string_view payload);
    [[nodiscard]] std::string Put(std::string_view head, std::string_view payload,
                                  std::string_view tail);

    static constexpr std::size_t FlushBytes = 1 << 20;

    TFileDescriptor FFd;
    std::string FPath;
    std::string FPending;                // whole blocks not yet written
    std::vector<std::size_t> FBlockEnds; // where each of them ends in FPending
    off_t FSize = 0;                     // bytes of whole blocks written
    std::vector<TInterface> FInterfaces;
};

} // namespace kestrune
