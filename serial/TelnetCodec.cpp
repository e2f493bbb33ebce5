#include "serial/TelnetCodec.h"

#include <cstring>

namespace kestrune {

using namespace telnet;

TTelnetCodec::TTelnetCodec(std::vector<unsigned char> LocalOptions,
                           std::vector<unsigned char> RemoteOptions)
{
    for (const unsigned char option : LocalOptions)
        FLocal[option].Supported = true;
    for (const unsigned char option : RemoteOptions)
        FRemote[option].Supported = true;
}

void TTelnetCodec::StartNegotiation()
{
    for (std::size_t i = 0; i < FLocal.size(); ++i) {
        TOption &option = FLocal[i];
        if (option.Supported && !option.Enabled && !option.Pending) {
            option.Pending = true;
            Send(WILL, static_cast<unsigned char>(i));
        }
    }
    for (std::size_t i = 0; i < FRemote.size(); ++i) {
        TOption &option = FRemote[i];
        if (option.Supported && !option.Enabled && !option.Pending) {
            option.Pending = true;
            Send(DO, static_cast<unsigned char>(i));
        }
    }
}

void TTelnetCodec::Send(unsigned char Verb, unsigned char Option)
{
    FReplies.push_back(static_cast<char>(IAC));
    FReplies.push_back(static_cast<char>(Verb));
    FReplies.push_back(static_cast<char>(Option));
}

void TTelnetCodec::Answer(TOption &State, unsigned char Verb, unsigned char Option)
{
    if (State.Answers >= MaxAnswersPerOption)
        return;
    ++State.Answers;
    Send(Verb, Option);
}

void TTelnetCodec::Negotiate(unsigned char Verb, unsigned char Option)
{
    const bool aboutUs = Verb == DO || Verb == DONT;
    const bool enable = Verb == DO || Verb == WILL;
    TOption &option = aboutUs ? FLocal[Option] : FRemote[Option];
    const unsigned char yes = aboutUs ? WILL : DO;
    const unsigned char no = aboutUs ? WONT : DONT;

    if (enable) {
        if (!option.Supported) {
            Answer(option, no, Option);
            return;
        }
        // Already on: answering would only start an echo of agreements.
        if (!option.Enabled) {
            option.Enabled = true;
            if (!option.Pending)
                Answer(option, yes, Option);
        }
        option.Pending = false;
        option.Answer = TOptionAnswer::Accepted;
        return;
    }
    // A refusal of our own request, or a switch-off, which is acknowledged.
    if (option.Enabled) {
        option.Enabled = false;
        Answer(option, no, Option);
    }
    if (option.Supported)
        option.Answer = TOptionAnswer::Refused;
    option.Pending = false;
}

void TTelnetCodec::Decode(const char *Bytes, std::size_t Size, std::string &Data,
                          std::vector<TTelnetSubneg> &Subnegs)
{
    std::size_t i = 0;
    while (i < Size) {
        if (FState == TState::Data) {
            // Plain data runs are copied whole: the common case by far.
            const void *iac = std::memchr(Bytes + i, IAC, Size - i);
            const std::size_t end =
                iac ? std::size_t(static_cast<const char *>(iac) - Bytes) : Size;
            Data.append(Bytes + i, end - i);
            i = end;
            if (i < Size) {
                FState = TState::Iac;
                ++i;
            }
            continue;
        }
        const auto byte = static_cast<unsigned char>(Bytes[i++]);
        switch (FState) {
        case TState::Data:
            break;
        case TState::Iac:
            FState = TState::Data;
            if (byte == IAC) {
                Data.push_back(static_cast<char>(IAC));
            } else if (byte >= WILL) {
                FVerb = byte;
                FState = TState::Negotiation;
            } else if (byte == SB) {
                FState = TState::SubOption;
            }
            // Every other command (NOP, GA, a stray SE, ...) carries nothing for us.
            break;
        case TState::Negotiation:
            Negotiate(FVerb, byte);
            FState = TState::Data;
            break;
        case TState::SubOption:
            FSub.Option = byte;
            FSub.Payload.clear();
            FSubOverflow = false;
            FState = TState::Sub;
            break;
        case TState::Sub:
            if (byte == IAC) {
                FState = TState::SubIac;
            } else if (FSub.Payload.size() < MaxSubnegSize) {
                FSub.Payload.push_back(static_cast<char>(byte));
            } else {
                FSubOverflow = true;
            }
            break;
        case TState::SubIac:
            if (byte == IAC) {
                if (FSub.Payload.size() < MaxSubnegSize)
                    FSub.Payload.push_back(static_cast<char>(IAC));
                else
                    FSubOverflow = true;
                FState = TState::Sub;
            } else if (byte == SE) {
                if (!FSubOverflow)
                    Subnegs.push_back(FSub);
                FState = TState::Data;
            } else {
                // IAC and a command inside a subnegotiation: the peer never
                // closed it. It is dropped and the command taken as one.
                FState = TState::Iac;
                --i;
            }
            break;
        }
    }
}

std::string TTelnetCodec::TakeReplies()
{
    std::string replies;
    replies.swap(FReplies);
    return replies;
}

bool TTelnetCodec::LocalEnabled(unsigned char Option) const
{
    return FLocal[Option].Enabled;
}

bool TTelnetCodec::RemoteEnabled(unsigned char Option) const
{
    return FRemote[Option].Enabled;
}

TOptionAnswer TTelnetCodec::LocalAnswer(unsigned char Option) const
{
    return FLocal[Option].Answer;
}

void TelnetEscape(const char *Bytes, std::size_t Size, std::string &Out)
{
    std::size_t i = 0;
    while (i < Size) {
        const void *iac = std::memchr(Bytes + i, IAC, Size - i);
        const std::size_t end =
            iac ? std::size_t(static_cast<const char *>(iac) - Bytes) + 1 : Size;
        Out.append(Bytes + i, end - i);
        if (iac)
            Out.push_back(static_cast<char>(IAC));
        i = end;
    }
}

std::string TelnetSubnegotiation(unsigned char Option, const std::string &Payload)
{
    std::string out;
    out.reserve(Payload.size() + 6);
    out.push_back(static_cast<char>(IAC));
    out.push_back(static_cast<char>(SB));
    out.push_back(static_cast<char>(Option));
    TelnetEscape(Payload.data(), Payload.size(), out);
    out.push_back(static_cast<char>(IAC));
    out.push_back(static_cast<char>(SE));
    return out;
}

} // namespace kestrune
