#include "serial/PortList.h"

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>
#include <vector>

using namespace kestrune;

namespace {

using Names = std::vector<std::string>;

const Names Unmarked{"COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7", "COM8"};

struct TFriendlyCase
{
    const char *FriendlyName;
    const char *Parenthesised;
    std::optional<std::string> Port;
};

const TFriendlyCase FriendlyCases[] = {
    {"Communications Port (COM1)", "COM1", "COM1"},
    {"USB Serial Port (COM12)", "COM12", "COM12"},
    {"ECP Printer Port (LPT1)", "LPT1", std::nullopt},
    // Only the first parentheses count.
    {"Adapter (Standard) (COM4)", "Standard", std::nullopt},
    // Without "(" the name is what stands before the first ")".
    {"COM3) trailing", "COM3", "COM3"},
    {"COM3) (LPT2)", "LPT2", std::nullopt},
    {"no parentheses at all", "", std::nullopt},
    // A ")" before the "(" is not the closing one.
    {"odd) name (COM6)", "COM6", "COM6"},
    {"unclosed (COM7", "", std::nullopt},
    {"empty ()", "", std::nullopt},
    {"", "", std::nullopt},
    {"lower case (com5)", "com5", "com5"},
    {"too short (CO)", "CO", std::nullopt},
    {"prefix only (COM)", "COM", "COM"},
};

void PrintTo(const TFriendlyCase &c, std::ostream *os)
{
    *os << '"' << c.FriendlyName << '"';
}

class FriendlyNameTest : public ::testing::TestWithParam<TFriendlyCase>
{
};

} // namespace

TEST_P(FriendlyNameTest, ExtractsThePortFromTheFirstParentheses)
{
    const TFriendlyCase &c = GetParam();
    EXPECT_EQ(ParenthesisedPortName(c.FriendlyName), c.Parenthesised);
    EXPECT_EQ(ComPortFromFriendlyName(c.FriendlyName), c.Port);
}

INSTANTIATE_TEST_SUITE_P(PortList, FriendlyNameTest, ::testing::ValuesIn(FriendlyCases));

TEST(BuildPortList, MarksPresentPortsAmongTheFixedEight)
{
    struct TCase
    {
        const char *Why;
        Names Present;
        Names Expected;
    };
    const TCase cases[] = {
        {"nothing present", {}, Unmarked},
        {"COM1 and a port above eight",
         {"COM1", "COM12"},
         {"COM1*", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7", "COM8", "COM12*"}},
        {"lower case matches and is listed under the upper-case name",
         {"com5"},
         {"COM1", "COM2", "COM3", "COM4", "COM5*", "COM6", "COM7", "COM8"}},
        {"above eight keeps enumeration order",
         {"COM12", "COM10", "COM3"},
         {"COM1", "COM2", "COM3*", "COM4", "COM5", "COM6", "COM7", "COM8", "COM12*", "COM10*"}},
        {"a name reported twice is marked in range and again at the end",
         {"COM2", "COM2"},
         {"COM1", "COM2*", "COM3", "COM4", "COM5", "COM6", "COM7", "COM8", "COM2*"}},
        {"the first match is the one taken, later spellings stay as reported",
         {"com4", "COM4"},
         {"COM1", "COM2", "COM3", "COM4*", "COM5", "COM6", "COM7", "COM8", "COM4*"}},
        {"kernel names and non-canonical COM names go to the end",
         {"ttyUSB0", "COM01", "ttyACM1"},
         {"COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7", "COM8", "ttyUSB0*", "COM01*",
          "ttyACM1*"}},
        {"all eight present",
         {"COM8", "COM7", "COM6", "COM5", "COM4", "COM3", "COM2", "COM1"},
         {"COM1*", "COM2*", "COM3*", "COM4*", "COM5*", "COM6*", "COM7*", "COM8*"}},
    };
    for (const TCase &c : cases)
        EXPECT_EQ(BuildPortList(c.Present), c.Expected) << c.Why;
}

TEST(BuildPortList, ParsedFriendlyNamesGiveTheDocumentedExample)
{
    Names present;
    for (const char *name :
         {"Communications Port (COM1)", "ECP Printer Port (LPT1)", "USB Serial Port (COM12)"})
        if (auto port = ComPortFromFriendlyName(name))
            present.push_back(*port);
    const Names expected{"COM1*", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7", "COM8", "COM12*"};
    EXPECT_EQ(BuildPortList(present), expected);
}

TEST(PresentPortName, NamesOnlyPortsOnRealHardware)
{
    struct TCase
    {
        TTtyDeviceInfo Device;
        std::optional<std::string> Expected;
    };
    const TCase cases[] = {
        {{"ttyS0", true, "4"}, "COM1"},
        {{"ttyS3", true, "4"}, "COM4"},
        {{"ttyS10", true, "16"}, "COM11"},
        // A UART slot with no chip behind it.
        {{"ttyS1", true, "0"}, std::nullopt},
        {{"ttyUSB0", true, std::nullopt}, "ttyUSB0"},
        {{"ttyACM2", true, std::nullopt}, "ttyACM2"},
        {{"ttyAMA0", true, "1"}, "ttyAMA0"},
        {{"ttyAMA1", true, "0"}, std::nullopt},
        // Virtual devices.
        {{"tty0", false, std::nullopt}, std::nullopt},
        {{"ptmx", false, std::nullopt}, std::nullopt},
        {{"ttyS0", false, "4"}, std::nullopt},
        {{"", true, std::nullopt}, std::nullopt},
        // Names that only look like ttyS<n> keep their kernel name, so opening
        // the listed name reaches the same device.
        {{"ttySAC0", true, "4"}, "ttySAC0"},
        {{"ttyS", true, "4"}, "ttyS"},
        {{"ttyS01", true, "4"}, "ttyS01"},
        {{"ttyS-1", true, "4"}, "ttyS-1"},
        {{"ttyS99999999999", true, "4"}, "ttyS99999999999"},
    };
    for (const TCase &c : cases)
        EXPECT_EQ(PresentPortName(c.Device), c.Expected) << c.Device.KernelName;
}

TEST(ListInstalledPorts, AppendsToWhatTheListAlreadyHolds)
{
    Names list{"keep me"};
    ListInstalledPorts(list);
    ASSERT_FALSE(list.empty());
    EXPECT_EQ(list.front(), "keep me");
    for (std::size_t i = 1; i < list.size(); ++i) {
        EXPECT_FALSE(list[i].empty());
        EXPECT_EQ(list[i].find('*'), std::string::npos) << list[i];
        EXPECT_EQ(list[i].find('/'), std::string::npos) << list[i];
    }

    // The machine's own list always starts with the fixed eight, marked or not.
    const Names built = BuildPortList();
    ASSERT_GE(built.size(), 8u);
    for (std::size_t n = 0; n < 8; ++n) {
        const std::string name = "COM" + std::to_string(n + 1);
        EXPECT_TRUE(built[n] == name || built[n] == name + "*") << built[n];
    }
}
