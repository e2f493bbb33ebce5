// Which device found where a vanished port was counts as that port.
#include "comm_test_pty.h"

#include "serial/PortIdentity.h"

#include <gtest/gtest.h>

namespace kestrune {
namespace {

TEST(PortIdentity, DecidesOnlyWhereUdevKnewOneAtOpen)
{
    const TPortIdentity unit{"0403", "6001", "A1B2"};
    const TPortIdentity noSerial{"1a86", "7523", ""};
    struct TCase
    {
        TPortIdentity AtOpen, Now;
        bool Reopen;
    } const cases[] = {
        {{}, {}, true},                          // a pty: the path alone decides
        {{}, unit, true},                        // nothing known at open to compare
        {unit, unit, true},                      // the same adapter
        {unit, {"0403", "6001", "C3D4"}, false}, // the same model, another unit
        {unit, {"0403", "6015", "A1B2"}, false}, // another model
        {unit, {}, false},                       // udev has not described it yet
        {noSerial, noSerial, true},
        {noSerial, {"1a86", "7523", "X"}, false},
    };
    for (const TCase &c : cases)
        EXPECT_EQ(MayReopenAs(c.AtOpen, c.Now), c.Reopen)
            << c.AtOpen.Model << "/" << c.AtOpen.Serial << " then " << c.Now.Model << "/"
            << c.Now.Serial;
}

TEST(PortIdentity, UdevKnowsNoPtyNorAMissingNode)
{
    testing::TPtyPair pty;
    ASSERT_TRUE(pty.IsValid());
    EXPECT_FALSE(UdevPortIdentity(pty.SlavePath()).Known());
    EXPECT_FALSE(UdevPortIdentity("/dev/kestrune-no-such-port").Known());
}

} // namespace
} // namespace kestrune
