// What a remote serial port's server sends: Telnet data, negotiation and
// COM-PORT-OPTION subnegotiations. Any bytes decode to the same data,
// subnegotiations, answers and line counters however they are split into
// reads; escaped data and a built subnegotiation decode back to themselves;
// decoding never lengthens, a kept subnegotiation is at most its limit, the
// negotiation answers are bounded, and what waits for the server stays within
// the outbox's bound, which refuses exactly what would pass it.
//
// Input: one byte n, then n % 8 read lengths, one byte for how much the
// socket takes per round, then the stream.
#include "FuzzCheck.h"
#include "serial/Rfc2217Connect.h"
#include "serial/Rfc2217Stream.h"
#include "serial/TelnetCodec.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

using namespace kestrune;

namespace {

// Everything a read sequence produces, joined over its reads.
struct TDecoded
{
    std::string Data;
    std::vector<TTelnetSubneg> Subnegs;
    std::string Replies;
    std::size_t Owed = 0;
    TLineCounters Counters;
    int ModemState = -1;
    std::uint32_t BaudRate = 0;
};

bool SameSubnegs(const std::vector<TTelnetSubneg> &A, const std::vector<TTelnetSubneg> &B)
{
    if (A.size() != B.size())
        return false;
    for (std::size_t i = 0; i < A.size(); ++i) {
        if (A[i].Option != B[i].Option || A[i].Payload != B[i].Payload)
            return false;
    }
    return true;
}

bool SameCounters(const TLineCounters &A, const TLineCounters &B)
{
    return A.Frame == B.Frame && A.Overrun == B.Overrun && A.Parity == B.Parity &&
           A.Break == B.Break && A.Carrier == B.Carrier && A.Ring == B.Ring && A.Cts == B.Cts &&
           A.Dsr == B.Dsr;
}

// Decodes Stream in reads of the given lengths (the rest in one last read),
// through the bare codec and through the remote port's input, as the device does.
TDecoded Decode(std::string_view Stream, const std::vector<std::size_t> &Reads)
{
    TDecoded out;
    TTelnetCodec codec = MakeComPortCodec();
    TComPortInput input(MakeComPortCodec());
    std::string inputData;
    std::size_t offset = 0;
    const auto read = [&](std::size_t Length) {
        const std::string_view piece = Stream.substr(offset, Length);
        offset += piece.size();
        const std::size_t before = out.Data.size();
        std::vector<TTelnetSubneg> subnegs;
        codec.Decode(piece.data(), piece.size(), out.Data, subnegs);
        FUZZ_CHECK(out.Data.size() - before <= piece.size());
        for (TTelnetSubneg &subneg : subnegs) {
            FUZZ_CHECK(subneg.Payload.size() <= TTelnetCodec::MaxSubnegSize);
            out.Subnegs.push_back(std::move(subneg));
        }
        out.Replies += codec.TakeReplies();
        out.Owed += input.Take(piece.data(), piece.size(), inputData).size();
    };
    for (const std::size_t length : Reads)
        read(length);
    read(Stream.size() - offset);
    FUZZ_CHECK(inputData == out.Data);
    out.Counters = input.State().Counters();
    out.ModemState = input.State().ModemState();
    out.BaudRate = input.State().ReportedBaudRate();
    return out;
}

void CheckSame(const TDecoded &A, const TDecoded &B)
{
    FUZZ_CHECK(A.Data == B.Data);
    FUZZ_CHECK(SameSubnegs(A.Subnegs, B.Subnegs));
    FUZZ_CHECK(A.Replies == B.Replies);
    // Answers to negotiation and to subnegotiations may interleave differently.
    FUZZ_CHECK(A.Owed == B.Owed);
    FUZZ_CHECK(SameCounters(A.Counters, B.Counters));
    FUZZ_CHECK(A.ModemState == B.ModemState);
    FUZZ_CHECK(A.BaudRate == B.BaudRate);
}

// Escaped bytes are data only, whatever they hold; a built subnegotiation is
// one subnegotiation, kept when within the limit.
void CheckEscaping(std::string_view Bytes)
{
    std::string escaped;
    TelnetEscape(Bytes.data(), Bytes.size(), escaped);
    escaped += TelnetSubnegotiation(telnet::OptComPort, std::string(Bytes));
    TTelnetCodec codec = MakeComPortCodec();
    std::string data;
    std::vector<TTelnetSubneg> subnegs;
    // One byte at a time: every IAC pair is cut.
    for (const char byte : escaped)
        codec.Decode(&byte, 1, data, subnegs);
    FUZZ_CHECK(data == Bytes);
    FUZZ_CHECK(!codec.HasReplies());
    if (Bytes.size() <= TTelnetCodec::MaxSubnegSize) {
        FUZZ_CHECK(subnegs.size() == 1);
        FUZZ_CHECK(subnegs[0].Option == telnet::OptComPort && subnegs[0].Payload == Bytes);
    } else {
        FUZZ_CHECK(subnegs.empty());
    }
}

// A server that sends the stream again and again while the socket takes only
// Take bytes a round: the outbox holds at most its bound and refuses exactly
// the bytes that would pass it. Ends once the socket keeps up.
void CheckOutboxBound(std::string_view Stream, std::size_t Take)
{
    TComPortInput input(MakeComPortCodec());
    TComPortOutbox outbox;
    std::string data;
    // Enough for a stream that leaves 16 bytes more each round to fill it.
    const std::size_t rounds = TComPortOutbox::MaxPending / 16 + 1;
    std::size_t quiet = 0; // rounds in a row that owed nothing
    for (std::size_t round = 0; round < rounds; ++round) {
        data.clear();
        const std::string owed = input.Take(Stream.data(), Stream.size(), data);
        const std::size_t before = outbox.Pending().size();
        const bool fits = owed.size() <= TComPortOutbox::MaxPending - before;
        FUZZ_CHECK(outbox.Add(owed) == fits);
        FUZZ_CHECK(outbox.Pending().size() == (fits ? before + owed.size() : before));
        FUZZ_CHECK(outbox.Pending().size() <= TComPortOutbox::MaxPending);
        if (!fits)
            return; // the device gives the connection up here
        outbox.Sent(std::min(Take, outbox.Pending().size()));
        // Nothing builds up from here once the socket keeps up, or the stream
        // owes nothing any more (negotiation answers are used up by now).
        quiet = owed.empty() ? quiet + 1 : 0;
        if (round >= 4 && (outbox.Empty() || quiet >= 2))
            return;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    std::string_view input(reinterpret_cast<const char *>(data), size);
    if (input.empty())
        return 0;
    const std::size_t cuts = static_cast<unsigned char>(input[0]) % 8;
    input.remove_prefix(1);
    if (input.size() < cuts + 1)
        return 0;
    std::vector<std::size_t> reads;
    for (std::size_t i = 0; i < cuts; ++i)
        reads.push_back(static_cast<unsigned char>(input[i]));
    const std::size_t take = static_cast<unsigned char>(input[cuts]);
    const std::string_view stream = input.substr(cuts + 1);

    const TDecoded whole = Decode(stream, {});
    FUZZ_CHECK(whole.Data.size() <= stream.size());
    // At most MaxAnswersPerOption answers per option and side, three bytes each.
    FUZZ_CHECK(whole.Replies.size() <= 2 * 256 * TTelnetCodec::MaxAnswersPerOption * 3);
    CheckSame(whole, Decode(stream, reads));
    CheckSame(whole, Decode(stream, std::vector<std::size_t>(stream.size(), 1)));

    CheckEscaping(stream);
    CheckOutboxBound(stream, take);
    return 0;
}
