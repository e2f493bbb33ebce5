#include "debugchannel/DebugRecord.h"

namespace kestrune {

std::string BuildDebugRecord(std::string_view text, std::uint8_t kind)
{
    std::string record;
    record.reserve(text.size() + 3);
    record.push_back(static_cast<char>(text == "\x03" ? DebugRecordCommand : DebugRecordText));
    // The kind travels as one byte, so 255 + 1 wraps to 0 as it does on the wire.
    record.push_back(static_cast<char>(static_cast<std::uint8_t>(kind + 1)));
    record.append(text);
    record.push_back('\0');
    return record;
}

std::optional<TDebugRecord> ParseDebugRecord(std::string_view bytes)
{
    if (bytes.size() < 3 || bytes.back() != '\0')
        return std::nullopt;
    const auto marker = static_cast<std::uint8_t>(bytes[0]);
    if (marker != DebugRecordText && marker != DebugRecordCommand)
        return std::nullopt;
    TDebugRecord record;
    record.Marker = marker;
    record.Kind = static_cast<std::uint8_t>(static_cast<std::uint8_t>(bytes[1]) - 1);
    record.Text.assign(bytes.substr(2, bytes.size() - 3));
    return record;
}

std::string DescribeDebugRecord(std::string_view datagram)
{
    const std::optional<TDebugRecord> record = ParseDebugRecord(datagram);
    if (!record)
        return "malformed record of " + std::to_string(datagram.size()) + " bytes";
    std::string line = "kind " + std::to_string(record->Kind);
    line += record->Marker == DebugRecordCommand ? ", command: " : ": ";
    static constexpr char digits[] = "0123456789abcdef";
    for (const char c : record->Text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f || byte == '\\') {
            line += "\\x";
            line += digits[byte >> 4];
            line += digits[byte & 0x0f];
        } else {
            line += c;
        }
    }
    return line;
}

} // namespace kestrune
