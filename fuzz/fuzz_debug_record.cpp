// Debug records as a datagram brings them: parsed without fault, rebuilt to the
// same bytes, and described without control bytes.
#include "FuzzCheck.h"
#include "debugchannel/DebugRecord.h"

#include <cstdint>
#include <string>

using namespace kestrune;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string datagram(reinterpret_cast<const char *>(data), size);
    if (const auto record = ParseDebugRecord(datagram)) {
        const bool command = record->Marker == DebugRecordCommand;
        if (command == (record->Text == "\x03"))
            FUZZ_CHECK(BuildDebugRecord(record->Text, record->Kind) == datagram);
    }
    for (const char c : DescribeDebugRecord(datagram)) {
        const auto u = static_cast<unsigned char>(c);
        FUZZ_CHECK(u >= 0x20 && u != 0x7f);
    }
    // Any text goes out as a record that reads back as sent.
    if (size > 0) {
        const std::string text = datagram.substr(1);
        const auto back = ParseDebugRecord(BuildDebugRecord(text, data[0]));
        FUZZ_CHECK(back.has_value());
        FUZZ_CHECK(back->Text == text && back->Kind == data[0]);
    }
    return 0;
}
