#include "common/CaseInsensitive.h"

namespace kestrune {

std::string LowerAsciiText(std::string_view text)
{
    std::string lower(text);
    for (char &c : lower)
        c = LowerAscii(c);
    return lower;
}

std::size_t TTextHash::operator()(std::string_view text) const noexcept
{
    // FNV-1a over the lower-case bytes.
    std::size_t hash = 14695981039346656037ull;
    for (const char c : text) {
        hash ^= static_cast<unsigned char>(LowerAscii(c));
        hash *= 1099511628211ull;
    }
    return hash;
}

} // namespace kestrune
