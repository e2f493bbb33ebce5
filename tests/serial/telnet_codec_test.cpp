// The Telnet layer of remote serial ports on its own: option negotiation,
// IAC escaping across read boundaries, subnegotiations good and bad, the
// COM-PORT-OPTION messages and port names.

#include "serial/Rfc2217Connect.h"
#include "serial/Rfc2217Messages.h"
#include "serial/TelnetCodec.h"

#include <gtest/gtest.h>

#include <random>

namespace kestrune {
namespace {

using namespace telnet;

constexpr unsigned char Echo = 1;

std::string Bytes(std::initializer_list<int> Values)
{
    std::string out;
    for (const int v : Values)
        out.push_back(char(v));
    return out;
}

struct TDecoded
{
    std::string Data;
    std::vector<TTelnetSubneg> Subnegs;
    std::string Replies;
};

TDecoded Feed(TTelnetCodec &Codec, const std::string &Input)
{
    TDecoded out;
    Codec.Decode(Input.data(), Input.size(), out.Data, out.Subnegs);
    out.Replies = Codec.TakeReplies();
    return out;
}

// --- Negotiation ----------------------------------------------------------------------

struct TNegotiation
{
    const char *Label;
    bool Started;       // our own requests went out first
    std::string Input;  // what the peer sends
    std::string Answer; // what we owe it afterwards
    bool BinaryLocal;   // state of BINARY afterwards, our side
    TOptionAnswer ComPort;
};

class Negotiation : public ::testing::TestWithParam<TNegotiation>
{
};

TEST_P(Negotiation, AnswersOnlyRequestsThatChangeAState)
{
    const TNegotiation &c = GetParam();
    TTelnetCodec codec = MakeComPortCodec();
    if (c.Started) {
        codec.StartNegotiation();
        (void)codec.TakeReplies();
    }
    const TDecoded got = Feed(codec, c.Input);
    EXPECT_EQ(got.Replies, c.Answer);
    EXPECT_EQ(got.Data, "");
    EXPECT_EQ(codec.LocalEnabled(OptBinary), c.BinaryLocal);
    EXPECT_EQ(codec.LocalAnswer(OptComPort), c.ComPort);
}

const TNegotiation NegotiationCases[] = {
    {"DoSupportedIsAgreedOnce", false, Bytes({IAC, DO, 0, IAC, DO, 0}), Bytes({IAC, WILL, 0}), true,
     TOptionAnswer::None},
    {"DoAfterOurWillIsNotAnswered", true, Bytes({IAC, DO, 0}), "", true, TOptionAnswer::None},
    {"DoUnsupportedIsRefused", false, Bytes({IAC, DO, Echo}), Bytes({IAC, WONT, Echo}), false,
     TOptionAnswer::None},
    {"WillUnsupportedIsRefused", false, Bytes({IAC, WILL, Echo}), Bytes({IAC, DONT, Echo}), false,
     TOptionAnswer::None},
    {"WillSupportedIsAgreedOnce", false, Bytes({IAC, WILL, 3, IAC, WILL, 3}), Bytes({IAC, DO, 3}),
     false, TOptionAnswer::None},
    {"RefusingWhatIsOffIsQuiet", false, Bytes({IAC, DONT, 0, IAC, WONT, 0, IAC, DONT, Echo}), "",
     false, TOptionAnswer::None},
    {"SwitchOffIsAcknowledgedOnce", false, Bytes({IAC, DO, 0, IAC, DONT, 0, IAC, DONT, 0}),
     Bytes({IAC, WILL, 0, IAC, WONT, 0}), false, TOptionAnswer::None},
    {"ComPortAgreed", true, Bytes({IAC, DO, 44}), "", false, TOptionAnswer::Accepted},
    {"ComPortRefused", true, Bytes({IAC, DONT, 44}), "", false, TOptionAnswer::Refused},
    {"ComPortAgreedThenWithdrawn", true, Bytes({IAC, DO, 44, IAC, DONT, 44}),
     Bytes({IAC, WONT, 44}), false, TOptionAnswer::Refused},
};

INSTANTIATE_TEST_SUITE_P(Cases, Negotiation, ::testing::ValuesIn(NegotiationCases),
                         [](const auto &Info) { return std::string(Info.param.Label); });

TEST(Negotiation, StartAsksForEveryOptionOnce)
{
    TTelnetCodec codec = MakeComPortCodec();
    codec.StartNegotiation();
    EXPECT_EQ(codec.TakeReplies(),
              Bytes({IAC, WILL, 0, IAC, WILL, 3, IAC, WILL, 44, IAC, DO, 0, IAC, DO, 3}));
    codec.StartNegotiation();
    EXPECT_EQ(codec.TakeReplies(), "") << "requests already open are not repeated";
}

// Two codecs with random option sets and random first requests answering
// each other: the talk ends, and both agree on every option. With stray
// requests mixed in, as a confused peer sends them, the talk still ends.
TEST(Negotiation, TwoPeersAlwaysFallSilent)
{
    std::mt19937 random(2217);
    const std::vector<unsigned char> pool = {0, 1, 3, 5, 24, 44};
    const auto subset = [&] {
        std::vector<unsigned char> out;
        for (const unsigned char option : pool) {
            if (random() % 2)
                out.push_back(option);
        }
        return out;
    };
    const int verbs[] = {WILL, WONT, DO, DONT};
    for (int round = 0; round < 400; ++round) {
        const bool stray = round % 2 == 1;
        const auto al = subset(), ar = subset(), bl = subset(), br = subset();
        TTelnetCodec a(al, ar);
        TTelnetCodec b(bl, br);
        if (random() % 2)
            a.StartNegotiation();
        if (random() % 2)
            b.StartNegotiation();
        std::string toB = a.TakeReplies();
        std::string toA = b.TakeReplies();
        for (int k = 0; stray && k < 6; ++k)
            toB += Bytes({IAC, verbs[random() % 4], pool[random() % pool.size()]});
        int exchanges = 0;
        std::string data;
        std::vector<TTelnetSubneg> subnegs;
        while (!toA.empty() || !toB.empty()) {
            ASSERT_LT(++exchanges, 40) << "round " << round << ": the peers keep answering";
            b.Decode(toB.data(), toB.size(), data, subnegs);
            a.Decode(toA.data(), toA.size(), data, subnegs);
            toA = b.TakeReplies();
            toB = a.TakeReplies();
        }
        EXPECT_TRUE(data.empty());
        for (const unsigned char option : pool) {
            if (stray)
                break;
            EXPECT_EQ(a.LocalEnabled(option), b.RemoteEnabled(option))
                << "round " << round << ", option " << int(option);
            EXPECT_EQ(b.LocalEnabled(option), a.RemoteEnabled(option))
                << "round " << round << ", option " << int(option);
        }
    }
}

// --- Data and escaping ------------------------------------------------------------------

std::string DataWithIacRuns()
{
    std::string bytes;
    for (int v = 0; v < 256; ++v)
        bytes.push_back(char(v));
    for (int run = 1; run <= 5; ++run)
        bytes += std::string(std::size_t(run), '\xFF') + 'x';
    return bytes + std::string(4, '\xFF');
}

TEST(TelnetData, EscapedBytesComeBackWhateverTheReadBoundaries)
{
    const std::string data = DataWithIacRuns();
    std::string wire;
    TelnetEscape(data.data(), data.size(), wire);
    EXPECT_EQ(wire.size(), data.size() + std::size_t(std::count(data.begin(), data.end(), '\xFF')));
    // Commands and a subnegotiation in the middle carry no data.
    const std::string middle =
        Bytes({IAC, NOP, IAC, SE}) + TelnetSubnegotiation(OptComPort, Bytes({107, 0xFF, 1}));
    wire.insert(wire.size() / 2, middle);

    std::mt19937 random(17);
    for (int trial = 0; trial < 200; ++trial) {
        TTelnetCodec codec = MakeComPortCodec();
        std::string got;
        std::vector<TTelnetSubneg> subnegs;
        // Every split of the first trials at one point, then random pieces.
        const std::size_t cut = trial < 100 ? std::size_t(trial) * wire.size() / 100 : 0;
        std::size_t at = 0;
        while (at < wire.size()) {
            std::size_t piece =
                trial < 100 ? (at < cut ? cut - at : wire.size() - at) : 1 + random() % 7;
            piece = std::min(piece, wire.size() - at);
            codec.Decode(wire.data() + at, piece, got, subnegs);
            at += piece;
        }
        ASSERT_EQ(got, data) << "trial " << trial;
        ASSERT_EQ(subnegs.size(), 1u);
        EXPECT_EQ(subnegs[0].Payload, Bytes({107, 0xFF, 1}));
        EXPECT_EQ(codec.TakeReplies(), "");
    }
}

// --- Subnegotiations --------------------------------------------------------------------

struct TSubnegCase
{
    const char *Label;
    std::string Input;
    std::string Data;
    std::vector<std::string> Payloads; // of option 44
    std::string Replies;
};

class Subnegotiation : public ::testing::TestWithParam<TSubnegCase>
{
};

TEST_P(Subnegotiation, IsTakenWholeOrDroppedWithoutLosingTheStream)
{
    const TSubnegCase &c = GetParam();
    TTelnetCodec codec = MakeComPortCodec();
    const TDecoded got = Feed(codec, c.Input);
    EXPECT_EQ(got.Data, c.Data);
    std::vector<std::string> payloads;
    for (const TTelnetSubneg &subneg : got.Subnegs) {
        EXPECT_EQ(subneg.Option, OptComPort);
        payloads.push_back(subneg.Payload);
    }
    EXPECT_EQ(payloads, c.Payloads);
    EXPECT_EQ(got.Replies, c.Replies);
}

const std::string LongPayload(TTelnetCodec::MaxSubnegSize + 1, 'p');

const TSubnegCase SubnegCases[] = {
    {"Whole",
     Bytes({'a', IAC, SB, 44, 101, 0, IAC, IAC, 1, IAC, SE, 'b'}),
     "ab",
     {Bytes({101, 0, 0xFF, 1})},
     ""},
    {"Empty", Bytes({IAC, SB, 44, IAC, SE, 'z'}), "z", {""}, ""},
    {"TruncatedGivesNothing", Bytes({'a', IAC, SB, 44, 106, 8}), "a", {}, ""},
    {"UnclosedEndsAtTheNextCommand",
     Bytes({IAC, SB, 44, 106, IAC, WILL, Echo, 'c'}),
     "c",
     {},
     Bytes({IAC, DONT, Echo})},
    {"TooLongIsDroppedWhole",
     Bytes({IAC, SB, 44}) + LongPayload + Bytes({IAC, SE, 'd', IAC, SB, 44, 7, IAC, SE}),
     "d",
     {Bytes({7})},
     ""},
    {"StrayEndAndUnknownCommandsAreIgnored",
     Bytes({'e', IAC, SE, IAC, NOP, IAC, 249, 'f'}),
     "ef",
     {},
     ""},
};

INSTANTIATE_TEST_SUITE_P(Cases, Subnegotiation, ::testing::ValuesIn(SubnegCases),
                         [](const auto &Info) { return std::string(Info.param.Label); });

// --- COM-PORT-OPTION messages -----------------------------------------------------------

TEST(ComPortMessages, LineSettingsBecomeCommandsWithTheirValueBytesEscaped)
{
    TLineSettings settings;
    settings.BaudRate = 0x0001C2FF; // a value byte of 0xFF must be doubled
    settings.DataBits = 7;
    settings.Parity = TLineSettings::TParityKind::Mark;
    settings.TwoStopBits = true;
    settings.OneAndHalfStopBits = true;
    settings.XonXoffOut = true;
    settings.DtrOn = false;
    const auto sb = [](std::initializer_list<int> Values) {
        return Bytes({IAC, SB, 44}) + Bytes(Values) + Bytes({IAC, SE});
    };
    EXPECT_EQ(LineSettingsCommands(settings), sb({1, 0, 1, 0xC2, 0xFF, 0xFF}) + sb({2, 7}) +
                                                  sb({3, 4}) + sb({4, 3}) + sb({5, 2}) +
                                                  sb({5, 14}) + sb({5, 9}) + sb({5, 11}));

    settings.HardwareFlow = true; // RTS is then the driver's: no RTS command
    const std::string hardware = LineSettingsCommands(settings);
    EXPECT_NE(hardware.find(sb({5, 3}) + sb({5, 16}) + sb({5, 9})), std::string::npos);
    EXPECT_EQ(hardware.find(sb({5, 11})), std::string::npos);
}

struct TNotification
{
    std::string Payload; // after option 44
    TLineCounters Expected;
};

TEST(ComPortMessages, NotificationsCountLineErrorsAndModemChanges)
{
    const auto counters = [](std::uint32_t Frame, std::uint32_t Overrun, std::uint32_t Parity,
                             std::uint32_t Break, std::uint32_t Carrier, std::uint32_t Ring,
                             std::uint32_t Cts, std::uint32_t Dsr) {
        TLineCounters c;
        c.Frame = Frame;
        c.Overrun = Overrun;
        c.Parity = Parity;
        c.Break = Break;
        c.Carrier = Carrier;
        c.Ring = Ring;
        c.Cts = Cts;
        c.Dsr = Dsr;
        return c;
    };
    // Each row is taken after the rows before it; counters are running totals.
    const TNotification steps[] = {
        {Bytes({106, 0x1E}), counters(1, 1, 1, 1, 0, 0, 0, 0)},
        {Bytes({106, 0x61}), counters(1, 1, 1, 1, 0, 0, 0, 0)}, // data ready, not errors
        {Bytes({106, 1, 2}), counters(1, 1, 1, 1, 0, 0, 0, 0)}, // malformed length
        {Bytes({107, 0x30}), counters(1, 1, 1, 1, 0, 0, 0, 0)}, // first report: a baseline
        {Bytes({107, 0x30 | 0x80 | 0x08}), counters(1, 1, 1, 1, 1, 0, 0, 0)},
        {Bytes({107, 0x30}), counters(1, 1, 1, 1, 2, 0, 0, 0)}, // CD fell, no delta bit
        {Bytes({107, 0x30 | 0x04}), counters(1, 1, 1, 1, 2, 1, 0, 0)},
        {Bytes({107, 0x40 | 0x03}), counters(1, 1, 1, 1, 2, 2, 1, 1)},
        {Bytes({101, 0, 0, 0x4B, 0}), counters(1, 1, 1, 1, 2, 2, 1, 1)},
    };
    TComPortState state;
    for (std::size_t i = 0; i < std::size(steps); ++i) {
        EXPECT_EQ(state.Take({OptComPort, steps[i].Payload}), "");
        const TLineCounters &got = state.Counters();
        const TLineCounters &want = steps[i].Expected;
        EXPECT_EQ(std::tie(got.Frame, got.Overrun, got.Parity, got.Break, got.Carrier, got.Ring,
                           got.Cts, got.Dsr),
                  std::tie(want.Frame, want.Overrun, want.Parity, want.Break, want.Carrier,
                           want.Ring, want.Cts, want.Dsr))
            << "step " << i;
    }
    EXPECT_EQ(state.ReportedBaudRate(), 19200u);
    EXPECT_EQ(state.Take({OptBinary, Bytes({106, 0x1E})}), "") << "another option's";
    EXPECT_EQ(state.Counters().Frame, 1u);
    EXPECT_EQ(state.Take({OptComPort, Bytes({100})}),
              ComPortCommand(rfc2217::Signature, std::string("Kestrune")));
}

// --- Port names -------------------------------------------------------------------------

TEST(RemotePortName, IsParsedOrRejected)
{
    struct TCase
    {
        const char *Name;
        const char *Host; // nullptr: rejected
        int Port;
    };
    const TCase cases[] = {
        {"rfc2217://127.0.0.1:2217", "127.0.0.1", 2217},
        {"RFC2217://Board-7.lab:4001/", "Board-7.lab", 4001},
        {"Rfc2217://[::1]:65535", "::1", 65535},
        {"rfc2217://host", nullptr, 0},
        {"rfc2217://host:", nullptr, 0},
        {"rfc2217://:2217", nullptr, 0},
        {"rfc2217://host:0", nullptr, 0},
        {"rfc2217://host:65536", nullptr, 0},
        {"rfc2217://host:22x", nullptr, 0},
        {"rfc2217://::1:2217", nullptr, 0},
        {"rfc2217://a b:1", nullptr, 0},
        {"rfc2217:/host:1", nullptr, 0},
        {"ttyUSB0", nullptr, 0},
    };
    for (const TCase &c : cases) {
        const auto parsed = ParseRemotePortName(c.Name);
        ASSERT_EQ(parsed.has_value(), c.Host != nullptr) << c.Name;
        if (parsed) {
            EXPECT_EQ(parsed->Host, c.Host);
            EXPECT_EQ(parsed->Port, c.Port);
        }
    }
    EXPECT_TRUE(IsRemotePortName("rFc2217://x"));
    EXPECT_FALSE(IsRemotePortName("/dev/rfc2217://x"));
}

} // namespace
} // namespace kestrune
