#include "capture/CaptureFile.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace kestrune {

namespace {

// First sequence numbers of a new connection, one per direction, far apart so
// the two are never mistaken for each other.
constexpr std::uint32_t LocalIsn = 0x10000000;
constexpr std::uint32_t PeerIsn = 0x50000000;

} // namespace

std::string TCaptureFile::Open(const std::string &path)
{
    Close();
    TOpenedFile opened = OpenFile(path, O_WRONLY | O_CREAT | O_TRUNC);
    if (opened.Error != 0)
        return ErrorText(opened.Error);
    FFd = std::move(opened.Fd);
    FPath = path;
    FSize = 0;
    if (std::string error = Put(SectionHeaderBlock("Kestrune")); !error.empty())
        return error;
    return Flush();
}

TCaptureFile::~TCaptureFile()
{
    Close();
}

void TCaptureFile::Close()
{
    if (FFd.IsOpen() && !FPending.empty())
        (void)Flush();
    FPending.clear();
    FBlockEnds.clear();
    (void)FFd.Close();
    FInterfaces.clear();
}

std::string TCaptureFile::Flush()
{
    if (!FFd.IsOpen() || FPending.empty())
        return {};
    std::size_t written = 0;
    int error = 0;
    while (written < FPending.size() && error == 0) {
        const ssize_t n = ::write(FFd.Get(), FPending.data() + written, FPending.size() - written);
        if (n > 0)
            written += static_cast<std::size_t>(n);
        else if (n == 0)
            error = EIO;
        else if (errno != EINTR)
            error = errno;
    }
    if (error == 0) {
        FSize += static_cast<off_t>(written);
        FPending.clear();
        FBlockEnds.clear();
        return {};
    }
    // The blocks that went whole stay; one cut short would spoil them, so
    // the file ends before it.
    std::size_t whole = 0;
    for (const std::size_t end : FBlockEnds)
        if (end <= written)
            whole = end;
    FSize += static_cast<off_t>(whole);
    (void)::ftruncate(FFd.Get(), FSize);
    FPending.clear();
    FBlockEnds.clear();
    Close();
    return ErrorText(error);
}

std::string TCaptureFile::Put(const std::string &block)
{
    return Put({}, block, {});
}

std::string TCaptureFile::Put(const TBlockAround &around, std::string_view payload)
{
    return Put(around.Head, payload, around.Tail);
}

std::string TCaptureFile::Put(std::string_view head, std::string_view payload,
                              std::string_view tail)
{
    if (!FFd.IsOpen())
        return "The capture is closed.";
    FPending.append(head);
    FPending.append(payload);
    FPending.append(tail);
    FBlockEnds.push_back(FPending.size());
    return FPending.size() >= FlushBytes ? Flush() : std::string();
}

std::string TCaptureFile::Interface(const std::string &name, std::uint16_t linkType,
                                    std::uint32_t &id)
{
    for (std::size_t i = 0; i < FInterfaces.size(); ++i) {
        if (FInterfaces[i].Name == name && FInterfaces[i].LinkType == linkType) {
            id = static_cast<std::uint32_t>(i);
            return {};
        }
    }
    std::string error = Put(InterfaceBlock(linkType, name));
    if (!error.empty())
        return error;
    id = static_cast<std::uint32_t>(FInterfaces.size());
    TInterface face;
    face.Name = name;
    face.LinkType = linkType;
    FInterfaces.push_back(face);
    return {};
}

std::string TCaptureFile::WriteSerial(const std::string &channel, std::uint64_t timeNs,
                                      TPacketDir dir, std::string_view bytes)
{
    std::uint32_t id = 0;
    if (std::string error = Interface(channel, LinkTypeUser0, id); !error.empty())
        return error;
    return Put(PacketBlockAround(id, timeNs, dir, {}, bytes.size()), bytes);
}

std::string TCaptureFile::WriteSocket(const std::string &channel, std::uint64_t timeNs,
                                      TPacketDir dir, const TSocketEnds &ends,
                                      std::string_view bytes)
{
    std::uint32_t id = 0;
    if (std::string error = Interface(channel, LinkTypeIpv4, id); !error.empty())
        return error;
    TInterface &face = FInterfaces[id];
    const bool out = dir == TPacketDir::Outbound;
    const TIpEnd &from = out ? ends.Local : ends.Peer;
    const TIpEnd &to = out ? ends.Peer : ends.Local;
    if (!ends.Tcp) {
        // A datagram never exceeds the limit on a real link; split regardless.
        std::size_t at = 0;
        do {
            const std::string_view part = bytes.substr(at, MaxUdpPayload);
            const std::string headers = UdpHeaders(from, to, face.IpId++, part);
            if (std::string error =
                    Put(PacketBlockAround(id, timeNs, dir, headers, part.size()), part);
                !error.empty())
                return error;
            at += part.size();
        } while (at < bytes.size());
        return {};
    }
    // Nothing goes on a stream for an empty write.
    if (bytes.empty() && out)
        return {};
    if (!face.Flowing || !(face.Ends == ends)) {
        face.Ends = ends;
        face.Flowing = true;
        face.NextSeq[0] = LocalIsn;
        face.NextSeq[1] = PeerIsn;
    }
    std::uint32_t &seq = face.NextSeq[out ? 0 : 1];
    const std::uint32_t &ack = face.NextSeq[out ? 1 : 0];
    if (bytes.empty()) {
        // Nothing read: the peer closed its side.
        const std::string packet = TcpPacket(from, to, face.IpId++, seq, ack, TcpFin | TcpAck, {});
        ++seq;
        face.Flowing = false;
        return Put(PacketBlock(id, timeNs, dir, packet));
    }
    for (std::size_t at = 0; at < bytes.size(); at += MaxTcpPayload) {
        const std::string_view part = bytes.substr(at, MaxTcpPayload);
        const std::string headers =
            TcpHeaders(from, to, face.IpId++, seq, ack, TcpPsh | TcpAck, part);
        seq += static_cast<std::uint32_t>(part.size());
        if (std::string error = Put(PacketBlockAround(id, timeNs, dir, headers, part.size()), part);
            !error.empty())
            return error;
    }
    return {};
}

} // namespace kestrune
