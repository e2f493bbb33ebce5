#pragma once

#include <array>

namespace kestrune {

// The fixed choice lists; a list position is the value kept in a channel
// record, in the main window and in the settings file.
inline constexpr std::array<const char *, 16> BaudRateTexts = {
    "110",   "300",   "600",   "1200",  "2400",  "4800",   "9600",   "14400",
    "19200", "28800", "38400", "56000", "57600", "115200", "128000", "256000"};
inline constexpr std::array<const char *, 4> ByteSizeTexts = {"5", "6", "7", "8"};
inline constexpr std::array<const char *, 5> ParityTexts = {"None", "Odd", "Even", "Mark", "Space"};
inline constexpr std::array<const char *, 3> StopBitsTexts = {"1", "1.5", "2"};
inline constexpr std::array<const char *, 3> DataModeTexts = {"Hex", "Character", "Mixed"};
inline constexpr std::array<const char *, 4> EscCharTexts = {"{}", "[]", "()", "<>"};
inline constexpr std::array<const char *, 11> CheckTexts = {
    "No Check",      "ModbusCRC16", "Sum/Mod", "Sum/Zero", "CRC-8", "CRC-16/CCITT-FALSE",
    "CRC-16/XMODEM", "CRC-16/ARC",  "CRC-32",  "LRC",      "XOR-8"};
inline constexpr std::array<const char *, 4> MethodKeys = {"Serial", "UDP", "TCPServer",
                                                           "TCPClient"};

// Entry `index` of a table, or "" for an index outside it.
template <std::size_t N>
[[nodiscard]] constexpr const char *ChoiceText(const std::array<const char *, N> &table, int index)
{
    return index >= 0 && static_cast<std::size_t>(index) < N ? table[index] : "";
}

} // namespace kestrune
