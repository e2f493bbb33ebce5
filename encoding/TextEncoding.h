#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kestrune {

// The encodings text may be shown and typed in. Latin-1 is the program's
// original behaviour: every byte on its own, typed text as the widget gives it.
// The values are the positions in the encoding list: keep them in order.
enum class TEncoding : std::uint8_t
{
    Latin1,
    Utf8,
    Gb18030,
    ShiftJis,
    EucKr,
    Windows1251,
    Windows1252,
};

inline constexpr std::array<const char *, 7> EncodingNames = {
    "Latin-1", "UTF-8", "GB18030", "Shift_JIS", "EUC-KR", "Windows-1251", "Windows-1252"};

[[nodiscard]] const char *EncodingName(TEncoding encoding);
// The encoding of a name in EncodingNames, in any case; nullopt for others.
[[nodiscard]] std::optional<TEncoding> EncodingFromName(std::string_view name);

// Encodings in which a character may take more than one byte.
[[nodiscard]] constexpr bool IsMultiByte(TEncoding encoding)
{
    return encoding == TEncoding::Utf8 || encoding == TEncoding::Gb18030 ||
           encoding == TEncoding::ShiftJis || encoding == TEncoding::EucKr;
}

// What starts at a character boundary.
enum class TCharKind : std::uint8_t
{
    Valid,      // a whole character of Length bytes
    Invalid,    // the first byte starts no character; decoding goes on after it
    Incomplete, // a proper start whose remaining bytes have not come yet
};

struct TCharSpan
{
    TCharKind Kind = TCharKind::Invalid;
    std::uint8_t Length = 1;
};

// The character at data[0], a character boundary, with n > 0 bytes at hand.
// Checks the byte structure only; a well-formed sequence the encoding's table
// lacks is found by DecodeChar.
[[nodiscard]] TCharSpan ScanChar(TEncoding encoding, const unsigned char *data, std::size_t n);

// A byte that no character continues into: a character always starts there.
[[nodiscard]] bool StartsCharAlways(TEncoding encoding, unsigned char byte);

inline constexpr char32_t NoChar = 0xFFFFFFFF;

// The code point of a whole character ScanChar called Valid (or of one byte of
// a single-byte encoding); NoChar when the encoding's table has none.
[[nodiscard]] char32_t DecodeChar(TEncoding encoding, const unsigned char *data,
                                  std::size_t length);

// Text (UTF-8) in the encoding's bytes. Characters the encoding lacks are
// left out and named in `missing` (UTF-8, each once) when it is given.
// Latin-1 keeps the text's own UTF-8 bytes, as the program always sent them.
[[nodiscard]] std::string EncodeText(std::string_view utf8, TEncoding encoding,
                                     std::string *missing = nullptr);

// Appends the UTF-8 of a code point.
void AppendUtf8(char32_t code, std::string &out);

// Two columns for East Asian wide and full-width characters, else one.
[[nodiscard]] unsigned ColumnsOf(char32_t code);

} // namespace kestrune
