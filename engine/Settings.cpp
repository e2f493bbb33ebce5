// The settings file's keys, read into values and written back, with no widget
// in between.
#include "engine/Settings.h"

#include "common/CaseInsensitive.h"
#include "common/IniFile.h"
#include "engine/ChoiceLists.h"

#include <algorithm>

namespace kestrune {

namespace {

// Position of `text` in a choice list, matched exactly but without regard to
// case; 0 when absent.
template <std::size_t N>
std::uint8_t ChoiceIndex(const std::array<const char *, N> &table, const std::string &text)
{
    for (std::size_t i = 0; i < N; ++i) {
        if (SameText(text, table[i]))
            return static_cast<std::uint8_t>(i);
    }
    return 0;
}

// A stored index outside its list gives the default.
std::uint8_t IndexOrDefault(std::int32_t value, std::int32_t last, std::uint8_t def)
{
    return value < 0 || value > last ? def : static_cast<std::uint8_t>(value);
}

// A size key of "Other" as its text and its bytes; a text that is no size, or
// a size below `least`, gives the default.
void ReadSize(const TIniFile &ini, const char *key, const char *def, std::int32_t least,
              std::string &text, std::int32_t &bytes)
{
    text = ini.ReadString("Other", key, def);
    bytes = ParseSizeText(text);
    if (bytes < least) {
        text = def;
        bytes = ParseSizeText(text);
    }
}

// A channel's network options, after its other keys; a file without them
// gives the plain endpoint.
void LoadNetworkOptions(const TIniFile &ini, const std::string &section, TChannel &c)
{
    const TChannel plain;
    c.SeveralClients = ini.ReadBool(section, "SeveralClients", plain.SeveralClients);
    c.ReplyToSender = ini.ReadBool(section, "ReplyToSender", plain.ReplyToSender);
    c.MulticastTtl =
        std::clamp(ini.ReadInteger(section, "MulticastTTL", plain.MulticastTtl), 0, 255);
    c.MulticastLoop = ini.ReadBool(section, "MulticastLoop", plain.MulticastLoop);
}

void SaveNetworkOptions(TIniFile &ini, const std::string &section, const TChannel &c)
{
    ini.WriteBool(section, "SeveralClients", c.SeveralClients);
    ini.WriteBool(section, "ReplyToSender", c.ReplyToSender);
    ini.WriteInteger(section, "MulticastTTL", c.MulticastTtl);
    ini.WriteBool(section, "MulticastLoop", c.MulticastLoop);
}

void LoadLogAndCaptureSettings(const TIniFile &ini, TGeneralSettings &g)
{
    g.LogFolder = ini.ReadString("Other", "LogFolder", "");
    g.LogName = ini.ReadString("Other", "LogName", "CommLog.txt");
    if (g.LogName.empty())
        g.LogName = "CommLog.txt";
    g.LogAppend = ini.ReadBool("Other", "LogAppend", true);
    ReadSize(ini, "LogRotateSize", "0", 0, g.LogRotateSizeText, g.LogRotateSize);
    g.CaptureToFile = ini.ReadBool("Other", "CaptureToFile", false);
    g.CaptureFile = ini.ReadString("Other", "CaptureFile", "capture.pcapng");
}

void SaveLogAndCaptureSettings(TIniFile &ini, const TGeneralSettings &g)
{
    ini.WriteString("Other", "LogFolder", g.LogFolder);
    ini.WriteString("Other", "LogName", g.LogName);
    ini.WriteBool("Other", "LogAppend", g.LogAppend);
    ini.WriteString("Other", "LogRotateSize", g.LogRotateSizeText);
    ini.WriteBool("Other", "CaptureToFile", g.CaptureToFile);
    ini.WriteString("Other", "CaptureFile", g.CaptureFile);
}

// The keys after the original ones: the encoding, the quick-send buttons and
// the window's place. A file without them gives Latin-1, no buttons and the
// window's own size.
void ReadTextAndButtons(const TIniFile &ini, TGeneralSettings &g)
{
    g.Encoding = EncodingFromName(ini.ReadString("Other", "Encoding", "Latin-1"))
                     .value_or(TEncoding::Latin1);
    const std::int32_t count = std::clamp<std::int32_t>(
        ini.ReadInteger("Other", "QuickSendCount", 0), 0, static_cast<std::int32_t>(MaxQuickSends));
    for (std::int32_t i = 1; i <= count; ++i) {
        const std::string key = "QuickSend" + std::to_string(i);
        TQuickSend button;
        button.Name = ini.ReadString("Other", key + "Name", "");
        button.DataMode = IndexOrDefault(ini.ReadInteger("Other", key + "Mode", 2), 2, 2);
        button.Data = ini.ReadString("Other", key + "Data", "");
        g.QuickSends.push_back(std::move(button));
    }
    TWindowPlace &w = g.Window;
    w.X = ini.ReadInteger("Other", "WindowLeft", 0);
    w.Y = ini.ReadInteger("Other", "WindowTop", 0);
    w.Width = std::clamp(ini.ReadInteger("Other", "WindowWidth", 0), 0, 100'000);
    w.Height = std::clamp(ini.ReadInteger("Other", "WindowHeight", 0), 0, 100'000);
    if (w.Width == 0 || w.Height == 0)
        w = TWindowPlace{};
}

void WriteTextAndButtons(TIniFile &ini, const TGeneralSettings &g)
{
    ini.WriteString("Other", "Encoding", EncodingName(g.Encoding));
    const std::size_t count = std::min(g.QuickSends.size(), MaxQuickSends);
    const auto old = static_cast<std::size_t>(
        std::clamp<std::int32_t>(ini.ReadInteger("Other", "QuickSendCount", 0), 0,
                                 static_cast<std::int32_t>(MaxQuickSends)));
    ini.WriteInteger("Other", "QuickSendCount", static_cast<std::int32_t>(count));
    for (std::size_t i = 0; i < std::max(count, old); ++i) {
        const std::string key = "QuickSend" + std::to_string(i + 1);
        // Buttons removed since the last save leave no keys behind.
        const TQuickSend button = i < count ? g.QuickSends[i] : TQuickSend{};
        ini.WriteString("Other", key + "Name", button.Name);
        ini.WriteInteger("Other", key + "Mode", button.DataMode);
        ini.WriteString("Other", key + "Data", button.Data);
    }
    if (g.Window.Width > 0 && g.Window.Height > 0) {
        ini.WriteInteger("Other", "WindowLeft", g.Window.X);
        ini.WriteInteger("Other", "WindowTop", g.Window.Y);
        ini.WriteInteger("Other", "WindowWidth", g.Window.Width);
        ini.WriteInteger("Other", "WindowHeight", g.Window.Height);
    }
}

} // namespace

char TGeneralSettings::EscChar() const
{
    return EscCharTexts[std::min<std::size_t>(EscCharIndex, EscCharTexts.size() - 1)][0];
}

TRelayEntry LoadChannelSettings(const TIniFile &ini, const std::string &section)
{
    TRelayEntry entry;
    TChannel &c = entry.Channel;
    const std::string method = ini.ReadString(section, "Method", "Serial");
    c.Method = cmSerial;
    for (std::size_t i = 1; i < MethodKeys.size(); ++i) {
        if (SameText(method, MethodKeys[i]))
            c.Method = static_cast<TCommMethod>(i);
    }
    c.Port = ini.ReadString(section, "Port", "COM1");
    c.Baudrate = ini.ReadInteger(section, "Baudrate", 9600);
    c.ByteSize = ChoiceIndex(ByteSizeTexts, ini.ReadString(section, "ByteSize", "8"));
    c.ParityBit = ChoiceIndex(ParityTexts, ini.ReadString(section, "ParityBit", "None"));
    c.StopBits = ChoiceIndex(StopBitsTexts, ini.ReadString(section, "StopBits", "1"));
    // Unsigned time-outs travel through the signed form and keep their 32 bits.
    auto timeout = [&](const char *key, std::int32_t def) {
        return static_cast<std::uint32_t>(ini.ReadInteger(section, key, def));
    };
    c.ReadIntervalTimeout = timeout("ReadIntervalTimeout", 100);
    c.ReadTimeoutMultiplier = timeout("ReadTimeoutMultiplier", 0);
    c.ReadTimeoutConstant = timeout("ReadTimeoutConstant", 1000);
    c.WriteTimeoutMultiplier = timeout("WriteTimeoutMultiplier", 0);
    c.WriteTimeoutConstant = timeout("WriteTimeoutConstant", 0);
    c.IPAddr = ini.ReadString(section, "IPAddr", "127.0.0.1");
    c.LocalPort = ini.ReadInteger(section, "LocalPort", 13001);
    c.RemotePort = ini.ReadInteger(section, "RemotePort", 13002);
    c.FlowControl = static_cast<TFlowControl>(
        ChoiceIndex(FlowControlTexts, ini.ReadString(section, "FlowControl", FlowControlTexts[0])));
    c.ReopenOnReturn = ini.ReadBool(section, "ReopenOnReturn", false);
    LoadNetworkOptions(ini, section, c);
    entry.Checked = ini.ReadBool(section, "Enable", true);
    return entry;
}

void SaveChannelSettings(TIniFile &ini, const std::string &section, const TChannel &c)
{
    ini.WriteString(section, "Method", ChoiceText(MethodKeys, c.Method));
    ini.WriteString(section, "Port", c.Port);
    ini.WriteInteger(section, "Baudrate", c.Baudrate);
    ini.WriteString(section, "ByteSize", ChoiceText(ByteSizeTexts, c.ByteSize));
    ini.WriteString(section, "ParityBit", ChoiceText(ParityTexts, c.ParityBit));
    ini.WriteString(section, "StopBits", ChoiceText(StopBitsTexts, c.StopBits));
    const std::pair<const char *, std::uint32_t> timeouts[] = {
        {"ReadIntervalTimeout", c.ReadIntervalTimeout},
        {"ReadTimeoutMultiplier", c.ReadTimeoutMultiplier},
        {"ReadTimeoutConstant", c.ReadTimeoutConstant},
        {"WriteTimeoutMultiplier", c.WriteTimeoutMultiplier},
        {"WriteTimeoutConstant", c.WriteTimeoutConstant},
    };
    for (const auto &[key, value] : timeouts)
        ini.WriteInteger(section, key, static_cast<std::int32_t>(value));
    ini.WriteString(section, "IPAddr", c.IPAddr);
    ini.WriteInteger(section, "LocalPort", c.LocalPort);
    ini.WriteInteger(section, "RemotePort", c.RemotePort);
    ini.WriteString(section, "FlowControl",
                    ChoiceText(FlowControlTexts, static_cast<int>(c.FlowControl)));
    ini.WriteBool(section, "ReopenOnReturn", c.ReopenOnReturn);
    SaveNetworkOptions(ini, section, c);
}

TSettings LoadSettings(const TIniFile &ini)
{
    TSettings s;
    s.Main = LoadChannelSettings(ini, "Main").Channel;
    // The mark "*" is for display only and never stored.
    if (!s.Main.Port.empty() && s.Main.Port.back() == '*')
        s.Main.Port.pop_back();
    const std::int32_t transNum =
        std::clamp<std::int32_t>(ini.ReadInteger("Other", "TransNum", 0), 0, MaxRelayChannels);
    for (std::int32_t i = 0; i < transNum; ++i)
        s.Relays.push_back(LoadChannelSettings(ini, "Trans" + std::to_string(i)));

    TGeneralSettings &g = s.General;
    g.DataMode = IndexOrDefault(ini.ReadInteger("Other", "DataMode", 2), 2, 2);
    ReadSize(ini, "BufSize", "64k", 0, g.BufSizeText, g.BufSize);
    g.EscCharIndex = IndexOrDefault(ini.ReadInteger("Other", "EscChar", 0), 3, 0);
    g.Check = IndexOrDefault(ini.ReadInteger("Other", "Check", 0),
                             static_cast<std::int32_t>(CheckTexts.size()) - 1, 0);
    g.AutoSendPeriod = ini.ReadInteger("Other", "AutoSendPeriod", 1000);
    g.SendText = ini.ReadString("Other", "SendText", "Marlowen");
    g.LeaderText = ini.ReadString("Other", "LeaderText", "");
    g.TailText = ini.ReadString("Other", "TailText", "");
    g.LeaderTailEnable = ini.ReadBool("Other", "LeaderTailEnable", false);
    g.FrameGap = std::clamp(ini.ReadInteger("Other", "FrameGap", 5), 1, 60'000);
    g.ShowRecvFrames = ini.ReadBool("Other", "ShowRecvFrames", false);
    g.ShowSendFrames = ini.ReadBool("Other", "ShowSendFrames", false);
    // Less than one datagram would drop everything a UDP source sends.
    ReadSize(ini, "RelayQueueLimit", "64M", 65536, g.RelayQueueLimitText, g.RelayQueueLimit);
    LoadAnswerSettings(ini, g);
    LoadLogAndCaptureSettings(ini, g);
    ReadTextAndButtons(ini, g);
    return s;
}

// --- Answer rules and received checks ---------------------------------------

void LoadAnswerSettings(const TIniFile &ini, TGeneralSettings &g)
{
    g.AnswerRules = ini.ReadBool("Other", "AnswerRules", false);
    g.AnswerRulesFile = ini.ReadString("Other", "AnswerRulesFile", "");
    g.VerifyChecks = ini.ReadBool("Other", "VerifyChecks", false);
}

void SaveAnswerSettings(TIniFile &ini, const TGeneralSettings &g)
{
    ini.WriteBool("Other", "AnswerRules", g.AnswerRules);
    ini.WriteString("Other", "AnswerRulesFile", g.AnswerRulesFile);
    ini.WriteBool("Other", "VerifyChecks", g.VerifyChecks);
}

void SaveSettings(TIniFile &ini, const TSettings &s, bool saveMain)
{
    if (saveMain)
        SaveChannelSettings(ini, "Main", s.Main);
    ini.WriteInteger("Other", "TransNum", static_cast<std::int32_t>(s.Relays.size()));
    for (std::size_t i = 0; i < s.Relays.size(); ++i)
        ini.WriteBool("Trans" + std::to_string(i), "Enable", s.Relays[i].Checked);
    for (std::size_t i = 0; i < s.Relays.size(); ++i)
        SaveChannelSettings(ini, "Trans" + std::to_string(i), s.Relays[i].Channel);

    const TGeneralSettings &g = s.General;
    ini.WriteInteger("Other", "DataMode", g.DataMode);
    ini.WriteString("Other", "BufSize", g.BufSizeText);
    ini.WriteInteger("Other", "EscChar", g.EscCharIndex);
    ini.WriteInteger("Other", "Check", g.Check);
    ini.WriteInteger("Other", "AutoSendPeriod", g.AutoSendPeriod);
    ini.WriteString("Other", "SendText", g.SendText);
    ini.WriteString("Other", "LeaderText", g.LeaderText);
    ini.WriteString("Other", "TailText", g.TailText);
    ini.WriteBool("Other", "LeaderTailEnable", g.LeaderTailEnable);
    ini.WriteBool("Other", "ShowRecvFrames", g.ShowRecvFrames);
    ini.WriteBool("Other", "ShowSendFrames", g.ShowSendFrames);
    ini.WriteInteger("Other", "FrameGap", g.FrameGap);
    ini.WriteString("Other", "RelayQueueLimit", g.RelayQueueLimitText);
    SaveAnswerSettings(ini, g);
    SaveLogAndCaptureSettings(ini, g);
    WriteTextAndButtons(ini, g);
}

} // namespace kestrune
