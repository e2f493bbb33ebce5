#pragma once

#include "encoding/TextEncoding.h"
#include "engine/Channel.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kestrune {

class TIniFile;

// One entry of the relay list: its channel and its mark.
struct TRelayEntry
{
    TChannel Channel;
    bool Checked = true;
};

// A named button under the send area: its data in its own mode, sent as the
// Send button sends (lead, tail and check as set).
struct TQuickSend
{
    std::string Name;
    std::uint8_t DataMode = 2; // index into DataModeTexts
    std::string Data;

    friend bool operator==(const TQuickSend &, const TQuickSend &) = default;
};

// F1 to F12 press them.
inline constexpr std::size_t MaxQuickSends = 12;

// Where the main window was and how large; Width 0: never stored.
struct TWindowPlace
{
    std::int32_t X = 0;
    std::int32_t Y = 0;
    std::int32_t Width = 0;
    std::int32_t Height = 0;
};

// The settings of the section "Other" that are not about channels. Each holds
// what the window shows, also while it would not convert (BufSizeText).
struct TGeneralSettings
{
    std::uint8_t DataMode = 2; // index into DataModeTexts
    std::string BufSizeText = "64k";
    std::int32_t BufSize = 65536;  // the last size that converted
    std::uint8_t EscCharIndex = 0; // index into EscCharTexts
    std::uint8_t Check = 0;        // index into CheckTexts
    std::int32_t AutoSendPeriod = 1000;
    std::string SendText = "Marlowen";
    std::string LeaderText;
    std::string TailText;
    bool LeaderTailEnable = false;
    bool ShowRecvFrames = false;
    bool ShowSendFrames = false;
    std::int32_t FrameGap = 5;
    // What may wait for one destination of a relay whose source cannot be held
    // back; past it that destination drops what it cannot take.
    std::string RelayQueueLimitText = "64M";
    std::int32_t RelayQueueLimit = 64 * 1024 * 1024;
    // Received frames of the main channel answered from a rules file, and
    // judged by the chosen check first (a frame that fails is not answered).
    bool AnswerRules = false;
    std::string AnswerRulesFile;
    bool VerifyChecks = false;

    // The communication log's files and the capture (keys after the above).
    std::string LogFolder;               // empty: the current folder
    std::string LogName = "CommLog.txt"; // may hold %Y %m %d %H %M %S
    bool LogAppend = true;               // false: a new file each time logging starts
    std::string LogRotateSizeText = "0"; // a new file past this size; 0 never
    std::int32_t LogRotateSize = 0;
    bool CaptureToFile = false;
    std::string CaptureFile = "capture.pcapng";

    // How Character and Mixed text is shown and typed.
    TEncoding Encoding = TEncoding::Latin1;
    std::vector<TQuickSend> QuickSends;
    TWindowPlace Window;

    // The opening bracket of Mixed mode.
    [[nodiscard]] char EscChar() const;
};

// Everything the settings file holds, as a value.
struct TSettings
{
    TChannel Main;
    std::vector<TRelayEntry> Relays;
    TGeneralSettings General;
};

// A settings file may claim any number of relay sections; more than this many
// would only stall start-up and fill the memory.
inline constexpr std::int32_t MaxRelayChannels = 1000;

// A channel's section; the result's mark is the section's "Enable".
[[nodiscard]] TRelayEntry LoadChannelSettings(const TIniFile &ini, const std::string &section);
void SaveChannelSettings(TIniFile &ini, const std::string &section, const TChannel &channel);

// The keys of the answer rules and the received checks, after the others.
void LoadAnswerSettings(const TIniFile &ini, TGeneralSettings &general);
void SaveAnswerSettings(TIniFile &ini, const TGeneralSettings &general);

// Reads every setting, each value validated or replaced by its default.
[[nodiscard]] TSettings LoadSettings(const TIniFile &ini);
// Writes every setting in the file's order: the main channel, the relay count
// and marks, each relay, then the general settings. saveMain false leaves the
// main section as it is (its panel held a number that did not convert).
void SaveSettings(TIniFile &ini, const TSettings &settings, bool saveMain = true);

} // namespace kestrune
