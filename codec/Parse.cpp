#include "codec/Parse.h"

#include "codec/EscChar.h"

namespace kestrune {

namespace {

// Assembles bytes from a run of hex digits; a digit left alone by a separator
// or the end of the run is a byte of its own.
class THexRun
{
public:
    explicit THexRun(ByteString &out) : FOut(out) {}

    void Feed(char c)
    {
        const std::uint8_t digit = HexDigitValue(c);
        if (digit == NotHexDigit) {
            Flush();
        } else if (FPending == NotHexDigit) {
            FPending = digit;
        } else {
            FOut.push_back(static_cast<char>(FPending * 16 + digit));
            FPending = NotHexDigit;
        }
    }

    void Flush()
    {
        if (FPending != NotHexDigit)
            FOut.push_back(static_cast<char>(FPending));
        FPending = NotHexDigit;
    }

private:
    ByteString &FOut;
    std::uint8_t FPending = NotHexDigit;
};

ByteString ParseHex(std::string_view text)
{
    ByteString bytes;
    // Every byte but the last takes at least two characters.
    bytes.reserve((text.size() + 1) / 2);
    THexRun run(bytes);
    for (char c : text)
        run.Feed(c);
    run.Flush();
    return bytes;
}

ByteString ParseMixed(std::string_view text, char escChar)
{
    const char open = EscCharOrDefault(escChar);
    const char close = CloseBracketOf(open);
    ByteString bytes;
    bytes.reserve(text.size());
    THexRun run(bytes);
    bool inEscape = false;
    for (char c : text) {
        if (!inEscape) {
            if (c == open)
                inEscape = true;
            else
                bytes.push_back(c);
        } else if (c == close) {
            run.Flush();
            inEscape = false;
        } else {
            // Escapes do not nest: an opening bracket here only separates.
            run.Feed(c);
        }
    }
    // An escape left open ends with the text; its complete bytes are already out.
    run.Flush();
    return bytes;
}

} // namespace

ByteString ParseData(std::string_view text, TDataMode mode, char escChar)
{
    switch (mode) {
    case dmHex:
        return ParseHex(text);
    case dmCharacter:
        return ByteString(text);
    case dmMixed:
        return ParseMixed(text, escChar);
    }
    return {};
}

} // namespace kestrune
