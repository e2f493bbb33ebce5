#include "codec/HexText.h"

#include <cstdint>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define KESTRUNE_HEX_SSSE3 1
#endif

namespace kestrune {

namespace {

// Also the tail after the blocks, so both paths meet the same tests.
void WriteHexScalar(const unsigned char *in, std::size_t count, char *out)
{
    for (std::size_t i = 0; i < count; ++i) {
        std::memcpy(out, HexPairs[in[i]].data(), 2);
        if (i + 1 < count)
            out[2] = ' ';
        out += 3;
    }
}

#ifdef KESTRUNE_HEX_SSSE3

// Shuffle masks that spread 16 digit pairs (32 bytes in two registers) over
// 48 output bytes with a blank after each pair; 0x80 selects a zero byte.
struct TSpreadMasks
{
    std::array<std::uint8_t, 48> fromLow{};
    std::array<std::uint8_t, 48> fromHigh{};
    std::array<std::uint8_t, 48> blanks{};
};

constexpr TSpreadMasks SpreadMasks = [] {
    TSpreadMasks m{};
    for (unsigned k = 0; k < 48; ++k) {
        const unsigned source = 2 * (k / 3) + k % 3;
        const bool blank = k % 3 == 2;
        m.fromLow[k] = !blank && source < 16 ? static_cast<std::uint8_t>(source) : 0x80;
        m.fromHigh[k] = !blank && source >= 16 ? static_cast<std::uint8_t>(source - 16) : 0x80;
        m.blanks[k] = blank ? ' ' : 0;
    }
    return m;
}();

// Handles whole blocks of 16 bytes and returns how many bytes it wrote. It
// stops before the last byte, so its trailing blank never passes the text's end.
__attribute__((target("ssse3"))) std::size_t WriteHexBlocks(const unsigned char *in,
                                                            std::size_t count, char *out)
{
    const auto load = [](const std::uint8_t *p) {
        return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
    };
    const __m128i digits = _mm_loadu_si128(reinterpret_cast<const __m128i *>("0123456789ABCDEF"));
    const __m128i nibble = _mm_set1_epi8(0x0F);
    __m128i fromLow[3], fromHigh[3], blanks[3];
    for (int i = 0; i < 3; ++i) {
        fromLow[i] = load(SpreadMasks.fromLow.data() + 16 * i);
        fromHigh[i] = load(SpreadMasks.fromHigh.data() + 16 * i);
        blanks[i] = load(SpreadMasks.blanks.data() + 16 * i);
    }

    std::size_t done = 0;
    for (; done + 16 < count; done += 16) {
        const __m128i bytes = load(in + done);
        const __m128i high =
            _mm_shuffle_epi8(digits, _mm_and_si128(_mm_srli_epi16(bytes, 4), nibble));
        const __m128i low = _mm_shuffle_epi8(digits, _mm_and_si128(bytes, nibble));
        const __m128i first = _mm_unpacklo_epi8(high, low);
        const __m128i second = _mm_unpackhi_epi8(high, low);
        // The first 16 output bytes come only from the first 8 pairs and the
        // last 16 only from the second, so each needs one shuffle.
        const __m128i out0 = _mm_shuffle_epi8(first, fromLow[0]);
        const __m128i out1 = _mm_or_si128(_mm_shuffle_epi8(first, fromLow[1]),
                                          _mm_shuffle_epi8(second, fromHigh[1]));
        const __m128i out2 = _mm_shuffle_epi8(second, fromHigh[2]);
        auto *o = reinterpret_cast<__m128i *>(out + 3 * done);
        _mm_storeu_si128(o, _mm_or_si128(out0, blanks[0]));
        _mm_storeu_si128(o + 1, _mm_or_si128(out1, blanks[1]));
        _mm_storeu_si128(o + 2, _mm_or_si128(out2, blanks[2]));
    }
    return done;
}

#endif

} // namespace

void WriteHexText(std::string_view bytes, char *out) noexcept
{
    const auto *in = reinterpret_cast<const unsigned char *>(bytes.data());
    std::size_t done = 0;
#ifdef KESTRUNE_HEX_SSSE3
    static const bool hasSsse3 = __builtin_cpu_supports("ssse3");
    if (hasSsse3)
        done = WriteHexBlocks(in, bytes.size(), out);
#endif
    WriteHexScalar(in + done, bytes.size() - done, out + 3 * done);
}

} // namespace kestrune
