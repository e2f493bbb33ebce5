// The integer and size texts of settings, panel and command files.
#include "FuzzCheck.h"
#include "common/IntText.h"
#include "engine/Channel.h"

#include <cstdint>
#include <string>

using namespace kestrune;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char *>(data), size);
    const auto number = TryStrToInt(text);
    FUZZ_CHECK(StrToIntDef(text, 7) == number.value_or(7));
    if (number) {
        // Whatever was accepted is a value its decimal text gives back.
        FUZZ_CHECK(TryStrToInt(std::to_string(*number)) == *number);
        FUZZ_CHECK(StrToInt(text) == *number);
    } else {
        bool raised = false;
        try {
            (void)StrToInt(text);
        } catch (const EConvertError &e) {
            // what() is a C string: a zero byte in the text ends the message there.
            const std::string message = "'" + text + "' is not a valid integer value";
            raised = e.what() == message.substr(0, message.find('\0'));
        }
        FUZZ_CHECK(raised);
    }

    const std::int32_t bytes = ParseSizeText(text);
    if (!text.empty()) {
        const char unit = text.back();
        const std::int64_t multiplier = (unit == 'k' || unit == 'K')   ? 1024
                                        : (unit == 'm' || unit == 'M') ? 1048576
                                                                       : 1;
        const auto digits = TryStrToInt(multiplier == 1 ? text : text.substr(0, text.size() - 1));
        const std::int64_t expected = digits ? *digits * multiplier : -1;
        if (expected >= INT32_MIN && expected <= INT32_MAX)
            FUZZ_CHECK(bytes == expected);
        else
            FUZZ_CHECK(bytes == -1);
    } else {
        FUZZ_CHECK(bytes == -1);
    }
    return 0;
}
