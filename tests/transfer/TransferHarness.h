#pragma once

// Runs two transfer machines against each other on a virtual clock, with a
// hook that may damage, drop or add bytes on their way.

#include "transfer/TransferFiles.h"
#include "transfer/TransferMachine.h"

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kestrune::testing {

inline TSendFile MemoryFile(const std::string &name, const std::string &data)
{
    auto at = std::make_shared<std::size_t>(0);
    TSendFile f;
    f.Name = name;
    f.Size = data.size();
    f.Read = [at, data](char *into, std::size_t max) {
        const std::size_t n = std::min(max, data.size() - *at);
        std::copy_n(data.data() + *at, n, into);
        *at += n;
        return n;
    };
    return f;
}

// Keeps what it receives in memory; Files holds the complete ones.
struct TMemoryFiles
{
    std::vector<std::pair<std::string, std::string>> Files;
    std::string Current;
    bool Open = false;
    int Abandoned = 0;
};

class TMemoryTarget final : public TReceiveTarget
{
public:
    explicit TMemoryTarget(TMemoryFiles &files) : F(files) {}
    std::optional<std::string> Begin(const std::string &name) override
    {
        F.Files.push_back({name, {}});
        F.Open = true;
        return std::nullopt;
    }
    std::optional<std::string> Write(std::string_view data) override
    {
        F.Current.append(data);
        return std::nullopt;
    }
    std::optional<std::string> End(std::int64_t) override
    {
        F.Files.back().second = F.Current;
        F.Current.clear();
        F.Open = false;
        return std::nullopt;
    }
    void Abandon() override
    {
        if (!F.Open)
            return;
        F.Files.pop_back();
        F.Current.clear();
        F.Open = false;
        ++F.Abandoned;
    }

private:
    TMemoryFiles &F;
};

inline std::string RandomBytes(std::size_t size, unsigned seed)
{
    std::string s(size, '\0');
    unsigned x = seed * 2654435761u + 1;
    for (char &c : s) {
        x = x * 1103515245u + 12345u;
        c = static_cast<char>(x >> 16);
    }
    return s;
}

// What one side wrote, chunk by chunk; the hook returns what arrives.
using TWire = std::function<std::string(bool toReceiver, const std::string &bytes)>;

struct TPairRun
{
    std::int64_t EndMs = 0;
    std::string SenderWrote;
    std::string ReceiverWrote;
};

// Runs until both have ended or `limitMs` of virtual time has passed.
// `sender` may be null: the receiver then talks to nobody.
inline TPairRun RunPair(TTransferMachine *sender, TTransferMachine *receiver,
                        const TWire &wire = {}, std::int64_t limitMs = 3'600'000)
{
    TPairRun run;
    std::int64_t now = 0;
    const auto pass = [&](bool toReceiver, const std::string &bytes) {
        return wire ? wire(toReceiver, bytes) : bytes;
    };
    if (receiver)
        receiver->Start(now);
    if (sender)
        sender->Start(now);
    while (now <= limitMs) {
        bool moved = false;
        for (TTransferMachine *from : {receiver, sender}) {
            if (!from)
                continue;
            const std::string out = from->TakeOutput();
            if (out.empty())
                continue;
            moved = true;
            const bool toReceiver = from == sender;
            (toReceiver ? run.SenderWrote : run.ReceiverWrote) += out;
            TTransferMachine *to = toReceiver ? receiver : sender;
            const std::string arrived = pass(toReceiver, out);
            if (to && to->Running() && !arrived.empty())
                to->Feed(arrived, now);
        }
        if (moved)
            continue;
        std::int64_t next = -1;
        for (TTransferMachine *m : {receiver, sender}) {
            if (m && m->Running() && m->Deadline())
                next = next < 0 ? *m->Deadline() : std::min(next, *m->Deadline());
        }
        if (next < 0)
            break;
        now = std::max(now, next);
        for (TTransferMachine *m : {receiver, sender}) {
            if (m)
                m->Tick(now);
        }
    }
    run.EndMs = now;
    return run;
}

} // namespace kestrune::testing
