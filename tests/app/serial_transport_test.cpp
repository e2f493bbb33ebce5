// A serial channel's transport where the device or server misbehaves: another
// adapter showing up where the awaited one was, and a remote port's server
// that asks without end and reads nothing.
#include "TestPeers.h"
#include "serial/rfc2217_peers.h"

#include "engine/ChannelTransports.h"
#include "serial/PortIdentity.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

using namespace kestrune;
using namespace kestrune::testing;

namespace {

namespace fs = std::filesystem;

// Points `link` at `target` in one step, as udev replaces a device node's link.
void PointLink(const std::string &link, const std::string &target)
{
    const std::string next = link + ".next";
    fs::remove(next);
    fs::create_symlink(target, next);
    fs::rename(next, link);
}

// Stands in for udev while it lives.
class TIdentityStandIn
{
public:
    explicit TIdentityStandIn(TPortIdentityLookup lookup) : FSaved(PortIdentityLookup())
    {
        PortIdentityLookup() = std::move(lookup);
    }
    ~TIdentityStandIn() { PortIdentityLookup() = FSaved; }
    TIdentityStandIn(const TIdentityStandIn &) = delete;
    TIdentityStandIn &operator=(const TIdentityStandIn &) = delete;

private:
    TPortIdentityLookup FSaved;
};

struct TEvents
{
    int Waiting = 0;
    int Returned = 0;
    std::vector<std::string> Hangups;
};

std::unique_ptr<TTransport> Open(const std::string &port, bool reopen, TEvents &events)
{
    TChannel channel;
    channel.Port = port;
    channel.Baudrate = 9600;
    channel.ReopenOnReturn = reopen;
    auto transport = OpenChannelTransport(channel);
    transport->OnWaiting = [&events](const std::string &) { ++events.Waiting; };
    transport->OnReturned = [&events](const std::string &) { ++events.Returned; };
    transport->OnHangup = [&events](const std::string &text) { events.Hangups.push_back(text); };
    return transport;
}

// The node a device had is the path that finds it again; udev (stood in for)
// tells the adapters apart. Another adapter at that node stays closed, the one
// that went away is opened again.
TEST(SerialReturn, AnotherAdapterAtTheSameNodeIsNotOpened)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string node = dir.path().toStdString() + "/ttyUSB0";
    auto first = std::make_unique<TPty>();
    TPty other;
    TPty again;
    ASSERT_TRUE(first->Valid() && other.Valid() && again.Valid());
    const TPortIdentity adapter{"0403", "6001", "A1B2"};
    const std::map<std::string, TPortIdentity> known = {
        {first->SlavePath(), adapter},
        {other.SlavePath(), {"0403", "6001", "Z9Y8"}}, // the same model, another unit
        {again.SlavePath(), adapter}};
    const TIdentityStandIn udev([&known](const std::string &path) {
        std::error_code error;
        const auto found = known.find(fs::canonical(path, error).string());
        return found == known.end() ? TPortIdentity{} : found->second;
    });

    PointLink(node, first->SlavePath());
    TEvents events;
    auto transport = Open(node, true, events);
    first.reset(); // unplugged
    ASSERT_TRUE(WaitFor([&] { return events.Waiting == 1; }));

    PointLink(node, other.SlavePath());
    Pump(1500); // three looks of the return watch
    EXPECT_EQ(events.Returned, 0);
    EXPECT_EQ(transport->State(), TLinkState::Waiting);

    PointLink(node, again.SlavePath());
    ASSERT_TRUE(WaitFor([&] { return events.Returned == 1; }));
    EXPECT_EQ(transport->State(), TLinkState::Open);
    EXPECT_TRUE(transport->Write("back").Ok);
    EXPECT_EQ(again.Read(4), "back");
    EXPECT_TRUE(events.Hangups.empty());
    transport->Close();
}

// Answers owed to a server that reads nothing wait up to a bound; past it the
// link is lost, and the message says why.
TEST(RemotePortFlood, AServerThatAsksAndNeverReadsEndsTheLink)
{
    TFloodingComPortServer server;
    TEvents events;
    auto transport = Open(server.Url(), false, events);
    ASSERT_TRUE(WaitFor([&] { return !events.Hangups.empty(); }, 20000))
        << server.Flooded() << " bytes of requests taken without a hang-up";
    Pump(100);
    ASSERT_EQ(events.Hangups.size(), 1u);
    EXPECT_EQ(events.Hangups[0], "Serial port error, Stop.\r\nError msg:The remote port's server "
                                 "stopped reading: more than 64 KiB waited to be sent to it");
    transport->Close();
}

} // namespace
