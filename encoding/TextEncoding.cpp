#include "encoding/TextEncoding.h"

#include <QList>
#include <QString>
#include <QStringDecoder>
#include <QStringEncoder>

#include <memory>
#include <vector>

namespace kestrune {

namespace {

bool Between(unsigned char b, unsigned lo, unsigned hi)
{
    return b >= lo && b <= hi;
}

// Checks the bytes after a lead against the ranges each may take; the first
// byte outside its range makes the lead invalid, running out makes it incomplete.
TCharSpan Follow(const unsigned char *data, std::size_t n, std::size_t length,
                 const std::array<std::pair<unsigned, unsigned>, 3> &ranges)
{
    for (std::size_t i = 1; i < length; ++i) {
        if (i >= n)
            return {TCharKind::Incomplete, static_cast<std::uint8_t>(n)};
        if (!Between(data[i], ranges[i - 1].first, ranges[i - 1].second))
            return {};
    }
    return {TCharKind::Valid, static_cast<std::uint8_t>(length)};
}

TCharSpan ScanUtf8(const unsigned char *d, std::size_t n)
{
    const unsigned char b = d[0];
    if (b < 0x80)
        return {TCharKind::Valid, 1};
    if (Between(b, 0xC2, 0xDF))
        return Follow(d, n, 2, {{{0x80, 0xBF}}});
    if (Between(b, 0xE0, 0xEF)) {
        // No overlong forms and no surrogates.
        const unsigned lo = b == 0xE0 ? 0xA0 : 0x80;
        const unsigned hi = b == 0xED ? 0x9F : 0xBF;
        return Follow(d, n, 3, {{{lo, hi}, {0x80, 0xBF}}});
    }
    if (Between(b, 0xF0, 0xF4)) {
        const unsigned lo = b == 0xF0 ? 0x90 : 0x80;
        const unsigned hi = b == 0xF4 ? 0x8F : 0xBF;
        return Follow(d, n, 4, {{{lo, hi}, {0x80, 0xBF}, {0x80, 0xBF}}});
    }
    return {};
}

TCharSpan ScanGb18030(const unsigned char *d, std::size_t n)
{
    const unsigned char b = d[0];
    if (b < 0x80)
        return {TCharKind::Valid, 1};
    if (!Between(b, 0x81, 0xFE))
        return {};
    if (n < 2)
        return {TCharKind::Incomplete, 1};
    if (Between(d[1], 0x40, 0x7E) || Between(d[1], 0x80, 0xFE))
        return {TCharKind::Valid, 2};
    return Follow(d, n, 4, {{{0x30, 0x39}, {0x81, 0xFE}, {0x30, 0x39}}});
}

TCharSpan ScanShiftJis(const unsigned char *d, std::size_t n)
{
    const unsigned char b = d[0];
    if (b < 0x80 || Between(b, 0xA1, 0xDF))
        return {TCharKind::Valid, 1};
    if (!Between(b, 0x81, 0x9F) && !Between(b, 0xE0, 0xFC))
        return {};
    if (n < 2)
        return {TCharKind::Incomplete, 1};
    if (Between(d[1], 0x40, 0x7E) || Between(d[1], 0x80, 0xFC))
        return {TCharKind::Valid, 2};
    return {};
}

TCharSpan ScanEucKr(const unsigned char *d, std::size_t n)
{
    if (d[0] < 0x80)
        return {TCharKind::Valid, 1};
    if (!Between(d[0], 0xA1, 0xFE))
        return {};
    return Follow(d, n, 2, {{{0xA1, 0xFE}}});
}

// Qt's name for each encoding (ICU's converters behind it).
const char *ConverterName(TEncoding encoding)
{
    switch (encoding) {
    case TEncoding::Gb18030:
        return "GB18030";
    case TEncoding::ShiftJis:
        return "Shift_JIS";
    case TEncoding::EucKr:
        return "EUC-KR";
    case TEncoding::Windows1251:
        return "windows-1251";
    case TEncoding::Windows1252:
        return "windows-1252";
    case TEncoding::Utf8:
        return "UTF-8";
    case TEncoding::Latin1:
        break;
    }
    return "ISO-8859-1";
}

char32_t DecodeUtf8(const unsigned char *d, std::size_t length)
{
    static constexpr unsigned char LeadMask[] = {0, 0x7F, 0x1F, 0x0F, 0x07};
    char32_t code = d[0] & LeadMask[length];
    for (std::size_t i = 1; i < length; ++i)
        code = (code << 6) | (d[i] & 0x3F);
    return code;
}

// Opening a converter costs far more than a conversion: one per encoding and
// thread, and the two-byte answers remembered (they are most of East Asian text).
struct TConverterCache
{
    std::unique_ptr<QStringDecoder> Decoder;
    std::vector<char32_t> TwoByte; // 0: not asked yet
};

TConverterCache &CacheOf(TEncoding encoding)
{
    thread_local std::array<TConverterCache, EncodingNames.size()> caches;
    TConverterCache &cache = caches[static_cast<std::size_t>(encoding)];
    if (!cache.Decoder)
        cache.Decoder = std::make_unique<QStringDecoder>(ConverterName(encoding),
                                                         QStringConverter::Flag::Stateless);
    return cache;
}

char32_t AskConverter(TConverterCache &cache, TEncoding encoding, const unsigned char *data,
                      std::size_t length)
{
    QStringDecoder &decoder = *cache.Decoder;
    const QString text = decoder.decode(
        QByteArrayView(reinterpret_cast<const char *>(data), static_cast<qsizetype>(length)));
    if (decoder.hasError()) {
        // The error mark stays, and resetting drops the ICU converter: a new one.
        cache.Decoder = std::make_unique<QStringDecoder>(ConverterName(encoding),
                                                         QStringConverter::Flag::Stateless);
        return NoChar;
    }
    const QList<uint> codes = text.toUcs4();
    if (codes.size() != 1 || codes[0] == 0xFFFD || codes[0] == 0x1A)
        return NoChar;
    return codes[0];
}

} // namespace

const char *EncodingName(TEncoding encoding)
{
    return EncodingNames[static_cast<std::size_t>(encoding) % EncodingNames.size()];
}

std::optional<TEncoding> EncodingFromName(std::string_view name)
{
    for (std::size_t i = 0; i < EncodingNames.size(); ++i) {
        const std::string_view known = EncodingNames[i];
        if (known.size() == name.size() &&
            std::equal(known.begin(), known.end(), name.begin(),
                       [](char a, char b) { return (a | 0x20) == (b | 0x20); }))
            return static_cast<TEncoding>(i);
    }
    return std::nullopt;
}

TCharSpan ScanChar(TEncoding encoding, const unsigned char *data, std::size_t n)
{
    switch (encoding) {
    case TEncoding::Utf8:
        return ScanUtf8(data, n);
    case TEncoding::Gb18030:
        return ScanGb18030(data, n);
    case TEncoding::ShiftJis:
        return ScanShiftJis(data, n);
    case TEncoding::EucKr:
        return ScanEucKr(data, n);
    default:
        return {TCharKind::Valid, 1};
    }
}

bool StartsCharAlways(TEncoding encoding, unsigned char b)
{
    switch (encoding) {
    case TEncoding::Utf8:
        return b < 0x80 || b >= 0xC0;
    case TEncoding::Gb18030:
        return b <= 0x2F || b == 0x7F || b == 0xFF;
    case TEncoding::ShiftJis:
        return b < 0x40 || b == 0x7F || b >= 0xFD;
    case TEncoding::EucKr:
        return b < 0xA1 || b == 0xFF;
    default:
        return true;
    }
}

char32_t DecodeChar(TEncoding encoding, const unsigned char *data, std::size_t length)
{
    if (length == 0)
        return NoChar;
    if (encoding == TEncoding::Latin1)
        return data[0];
    if (encoding == TEncoding::Utf8)
        return DecodeUtf8(data, length);
    if (data[0] < 0x80 && length == 1)
        return data[0];
    TConverterCache &cache = CacheOf(encoding);
    if (length == 2) {
        if (cache.TwoByte.empty())
            cache.TwoByte.resize(0x10000, 0);
        char32_t &known = cache.TwoByte[(data[0] << 8) | data[1]];
        if (known == 0)
            known = AskConverter(cache, encoding, data, length);
        return known;
    }
    return AskConverter(cache, encoding, data, length);
}

std::string EncodeText(std::string_view utf8, TEncoding encoding, std::string *missing)
{
    if (encoding == TEncoding::Latin1 || encoding == TEncoding::Utf8)
        return std::string(utf8);
    auto encoder = std::make_unique<QStringEncoder>(ConverterName(encoding),
                                                    QStringConverter::Flag::Stateless);
    const QString text = QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
    std::string out;
    out.reserve(utf8.size());
    // One character at a time: a converter puts a substitute for what it
    // cannot encode, and only the way back tells that apart from a real one.
    for (const uint code : text.toUcs4()) {
        if (code < 0x80) {
            out += static_cast<char>(code);
            continue;
        }
        const char32_t one = code;
        const QByteArray bytes = encoder->encode(QString::fromUcs4(&one, 1));
        const auto *data = reinterpret_cast<const unsigned char *>(bytes.constData());
        const TCharSpan span =
            bytes.isEmpty() ? TCharSpan{}
                            : ScanChar(encoding, data, static_cast<std::size_t>(bytes.size()));
        const bool failed = encoder->hasError();
        if (failed) // the error mark stays: a fresh encoder for the next character
            encoder = std::make_unique<QStringEncoder>(ConverterName(encoding),
                                                       QStringConverter::Flag::Stateless);
        if (!failed && span.Kind == TCharKind::Valid && span.Length == bytes.size() &&
            DecodeChar(encoding, data, span.Length) == code) {
            out.append(bytes.constData(), static_cast<std::size_t>(bytes.size()));
        } else if (missing) {
            std::string name;
            AppendUtf8(code, name);
            if (missing->find(name) == std::string::npos)
                *missing += name;
        }
    }
    return out;
}

void AppendUtf8(char32_t code, std::string &out)
{
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

unsigned ColumnsOf(char32_t c)
{
    // The East Asian wide and full-width blocks.
    const bool wide = (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0x303E) ||
                      (c >= 0x3041 && c <= 0x33FF) || (c >= 0x3400 && c <= 0x4DBF) ||
                      (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0xA000 && c <= 0xA4CF) ||
                      (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) ||
                      (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
                      (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x1F300 && c <= 0x1F64F) ||
                      (c >= 0x20000 && c <= 0x3FFFD);
    return wide ? 2 : 1;
}

} // namespace kestrune
