// Stable port names: typed by-id and by-path names, the by-id link that finds
// a device again, the permission advice and the port list's tool tips.
#include "comm_test_pty.h"
#include "serial/PortList.h"
#include "serial/PortNames.h"

#include <QTemporaryDir>
#include <filesystem>
#include <fstream>
#include <grp.h>
#include <gtest/gtest.h>
#include <unistd.h>

namespace kestrune {
namespace {

namespace fs = std::filesystem;
using namespace kestrune::testing;

class PortNames : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(Dir.isValid());
        ASSERT_TRUE(Pty.IsValid());
        Root = Dir.path().toStdString();
        ById = Root + "/by-id";
        ByPath = Root + "/by-path";
        fs::create_directories(ById);
        fs::create_directories(ByPath);
        fs::create_symlink(Pty.SlavePath(), ById + "/usb-Acme_Widget_A1B2-if00-port0");
        fs::create_symlink(Pty.SlavePath(), ByPath + "/pci-0000:00:14.0-usb-0:2:1.0-port0");
    }

    QTemporaryDir Dir;
    TPtyPair Pty;
    std::string Root, ById, ByPath;
};

TEST_F(PortNames, TypedNamesLeadToTheirDevice)
{
    const std::vector<std::string> dirs = {ById, ByPath};
    const struct
    {
        std::string Typed;
        std::string Opens;
    } rows[] = {
        {"usb-Acme_Widget_A1B2-if00-port0", ById + "/usb-Acme_Widget_A1B2-if00-port0"},
        {"pci-0000:00:14.0-usb-0:2:1.0-port0", ByPath + "/pci-0000:00:14.0-usb-0:2:1.0-port0"},
        {ById + "/usb-Acme_Widget_A1B2-if00-port0", ById + "/usb-Acme_Widget_A1B2-if00-port0"},
        {"COM3", "/dev/ttyS2"},
        {"tty", "/dev/tty"}, // a device under /dev wins over a link of the same name
        {"no-such-adapter", "/dev/no-such-adapter"},
    };
    for (const auto &row : rows)
        EXPECT_EQ(ResolvePortPath(row.Typed, dirs), row.Opens) << row.Typed;

    // And the component opens the device behind a typed by-id path.
    TComm comm;
    comm.SetCommName(ById + "/usb-Acme_Widget_A1B2-if00-port0");
    comm.OpenPort();
    ASSERT_TRUE(Pty.Send("through the link"));
    std::string got;
    comm.OnReceiveData = [&](TComm *, const char *b, std::uint16_t n) { got.append(b, n); };
    EXPECT_TRUE(WaitUntil([&] { return got == "through the link"; }));
    comm.ClosePort();
}

TEST_F(PortNames, TheStableNameOfADeviceIsItsByIdLink)
{
    EXPECT_EQ(StablePortPath(Pty.SlavePath(), ById), ById + "/usb-Acme_Widget_A1B2-if00-port0");
    // A name that is a link already is kept, whichever folder it is in.
    const std::string own = Root + "/my-adapter";
    fs::create_symlink(Pty.SlavePath(), own);
    EXPECT_EQ(StablePortPath(own, ById), own);
    // A device without a by-id link (a built-in port) is its own stable name.
    TPtyPair other;
    ASSERT_TRUE(other.IsValid());
    EXPECT_EQ(StablePortPath(other.SlavePath(), ById), other.SlavePath());
    EXPECT_EQ(StablePortPath(other.SlavePath(), Root + "/missing"), other.SlavePath());
}

TEST_F(PortNames, PermissionAdviceNamesTheDevicesGroupUnlessTheUserIsInIt)
{
    // As root nothing is refused, so the device is a file given another group.
    const std::string node = Root + "/ttyFAKE0";
    std::ofstream(node).put('x');
    const gid_t dialout = 20; // "dialout" on Debian; any group the lists below lack serves
    ASSERT_EQ(::chown(node.c_str(), 0, dialout), 0);
    const ::group *entry = ::getgrgid(dialout);
    const std::string name = entry ? entry->gr_name : std::to_string(dialout);

    EXPECT_EQ(GroupAdvice(node, {0, 4}),
              "The port belongs to group \"" + name +
                  "\", which you are not in: add yourself with \"sudo usermod -aG " + name +
                  " $USER\", then log out and in again.");
    EXPECT_EQ(GroupAdvice(node, {0, dialout}), "") << "a member needs no advice";
    EXPECT_EQ(GroupAdvice(Root + "/gone", {0}), "");
    EXPECT_FALSE(CurrentUserGroups().empty());
}

TEST(PortToolTips, SayWhatUdevKnowsOfTheAdapter)
{
    const struct
    {
        TPresentPort Port;
        std::string Tip;
    } rows[] = {
        {{"ttyUSB0", "FTDI", "FT232R USB UART", "A50285BI",
          "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0"},
         "FTDI FT232R USB UART, serial A50285BI\n"
         "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0"},
        {{"ttyACM0", "", "", "1234", ""}, "serial 1234"},
        {{"ttyACM1", "", "", "", "/dev/serial/by-id/usb-x"}, "/dev/serial/by-id/usb-x"},
        {{"COM1", "", "", "", ""}, ""},
    };
    for (const auto &row : rows)
        EXPECT_EQ(PortToolTip(row.Port), row.Tip) << row.Port.Name;
}

} // namespace
} // namespace kestrune
