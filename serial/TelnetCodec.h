#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kestrune {

// Telnet command bytes (RFC 854) and the options a remote serial port uses.
namespace telnet {
inline constexpr unsigned char SE = 240;
inline constexpr unsigned char NOP = 241;
inline constexpr unsigned char SB = 250;
inline constexpr unsigned char WILL = 251;
inline constexpr unsigned char WONT = 252;
inline constexpr unsigned char DO = 253;
inline constexpr unsigned char DONT = 254;
inline constexpr unsigned char IAC = 255;

inline constexpr unsigned char OptBinary = 0;          // RFC 856
inline constexpr unsigned char OptSuppressGoAhead = 3; // RFC 858
inline constexpr unsigned char OptComPort = 44;        // RFC 2217
} // namespace telnet

// One subnegotiation received whole: the option and its payload with IAC IAC
// already reduced to one 0xFF.
struct TTelnetSubneg
{
    unsigned char Option = 0;
    std::string Payload;
};

// What the peer said about an option we asked for.
enum class TOptionAnswer : std::uint8_t
{
    None,     // not asked, or no answer yet
    Accepted, // the option is on
    Refused   // the peer said no (or switched it off later)
};

// A Telnet stream codec without sockets: feed it what the peer sent, take the
// data bytes, the subnegotiations and the answers it owes the peer. Option
// negotiation follows RFC 854's rule that a request for the state already in
// force is not answered, and remembers its own open requests, so two such
// codecs never answer each other forever.
class TTelnetCodec
{
public:
    // The options this side performs (WILL) and asks the peer to perform (DO).
    // Requests for any other option are refused.
    TTelnetCodec(std::vector<unsigned char> LocalOptions, std::vector<unsigned char> RemoteOptions);

    // Queues WILL for every local option and DO for every remote one; the
    // bytes go out with TakeReplies.
    void StartNegotiation();

    // Decodes Size received bytes: data is appended to Data, whole
    // subnegotiations to Subnegs. State carries over between calls, so an IAC
    // split from what follows it is handled.
    void Decode(const char *Bytes, std::size_t Size, std::string &Data,
                std::vector<TTelnetSubneg> &Subnegs);

    // Bytes owed to the peer (negotiation answers and requests), then cleared.
    [[nodiscard]] std::string TakeReplies();
    [[nodiscard]] bool HasReplies() const { return !FReplies.empty(); }

    [[nodiscard]] bool LocalEnabled(unsigned char Option) const;
    [[nodiscard]] bool RemoteEnabled(unsigned char Option) const;
    // The peer's last word on our WILL Option (its DO or DONT).
    [[nodiscard]] TOptionAnswer LocalAnswer(unsigned char Option) const;

    // Longest subnegotiation payload kept; a longer one is dropped whole.
    static constexpr std::size_t MaxSubnegSize = 1024;
    // A peer that keeps toggling an option gets no more answers about it
    // after this many: RFC 854's rules alone cannot stop a peer that takes
    // our acknowledgements for new requests.
    static constexpr std::uint8_t MaxAnswersPerOption = 8;

private:
    enum class TState : std::uint8_t
    {
        Data,
        Iac,         // IAC seen
        Negotiation, // IAC WILL/WONT/DO/DONT seen, the option follows
        SubOption,   // IAC SB seen, the option follows
        Sub,         // inside a subnegotiation
        SubIac       // IAC seen inside a subnegotiation
    };

    struct TOption
    {
        bool Supported = false;
        bool Enabled = false;
        bool Pending = false; // we asked and wait for the answer
        std::uint8_t Answers = 0;
        TOptionAnswer Answer = TOptionAnswer::None;
    };

    void Negotiate(unsigned char Verb, unsigned char Option);
    void Send(unsigned char Verb, unsigned char Option);
    void Answer(TOption &State, unsigned char Verb, unsigned char Option);

    std::array<TOption, 256> FLocal{};  // what we do (WILL/WONT from us)
    std::array<TOption, 256> FRemote{}; // what the peer does (DO/DONT from us)
    TState FState = TState::Data;
    unsigned char FVerb = 0;
    bool FSubOverflow = false;
    TTelnetSubneg FSub;
    std::string FReplies;
};

// Appends Size data bytes to Out with every 0xFF doubled.
void TelnetEscape(const char *Bytes, std::size_t Size, std::string &Out);

// IAC SB Option <Payload, 0xFF doubled> IAC SE.
[[nodiscard]] std::string TelnetSubnegotiation(unsigned char Option, const std::string &Payload);

} // namespace kestrune
