#include "transfer/XmodemBlock.h"

#include <array>
#include <charconv>

namespace kestrune::xmodem {

namespace {

constexpr std::array<std::uint16_t, 256> MakeCrcTable()
{
    std::array<std::uint16_t, 256> table{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t crc = i << 8;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1;
        table[i] = static_cast<std::uint16_t>(crc);
    }
    return table;
}

constexpr auto CrcTable = MakeCrcTable();

} // namespace

std::uint16_t Crc16(std::string_view data) noexcept
{
    std::uint16_t crc = 0;
    for (const char c : data)
        crc = static_cast<std::uint16_t>(
            (crc << 8) ^ CrcTable[((crc >> 8) ^ static_cast<std::uint8_t>(c)) & 0xFF]);
    return crc;
}

std::uint8_t Checksum(std::string_view data) noexcept
{
    std::uint8_t sum = 0;
    for (const char c : data)
        sum = static_cast<std::uint8_t>(sum + static_cast<std::uint8_t>(c));
    return sum;
}

ByteString Block(std::uint8_t number, std::string_view data, bool crc, char pad)
{
    const std::size_t size = data.size() > ShortBlock ? LongBlock : ShortBlock;
    ByteString block;
    block.reserve(size + 5);
    block += size == LongBlock ? STX : SOH;
    block += static_cast<char>(number);
    block += static_cast<char>(0xFF - number);
    block.append(data.substr(0, size));
    block.append(size - block.size() + 3, pad);
    const std::string_view payload = std::string_view(block).substr(3);
    if (crc) {
        const std::uint16_t c = Crc16(payload);
        block += static_cast<char>(c >> 8);
        block += static_cast<char>(c & 0xFF);
    } else {
        block += static_cast<char>(Checksum(payload));
    }
    return block;
}

std::size_t BlockLength(char header, bool crc) noexcept
{
    const std::size_t check = crc ? 2 : 1;
    if (header == SOH)
        return 3 + ShortBlock + check;
    if (header == STX)
        return 3 + LongBlock + check;
    return 0;
}

TBlock ParseBlock(std::string_view block, bool crc)
{
    TBlock result;
    const std::size_t length = BlockLength(block.empty() ? 0 : block[0], crc);
    if (length == 0 || block.size() != length)
        return result;
    const auto number = static_cast<std::uint8_t>(block[1]);
    const auto complement = static_cast<std::uint8_t>(block[2]);
    const std::size_t size = length - 3 - (crc ? 2 : 1);
    const std::string_view data = block.substr(3, size);
    bool checkOk = false;
    if (crc) {
        const std::uint16_t c = Crc16(data);
        checkOk = static_cast<std::uint8_t>(block[3 + size]) == (c >> 8) &&
                  static_cast<std::uint8_t>(block[4 + size]) == (c & 0xFF);
    } else {
        checkOk = static_cast<std::uint8_t>(block[3 + size]) == Checksum(data);
    }
    result.Valid = checkOk && number + complement == 0xFF;
    result.Number = number;
    result.Data = data;
    return result;
}

ByteString CancelBytes()
{
    return ByteString(CancelLength, CAN);
}

ByteString HeaderData(const THeader &header)
{
    ByteString data = header.Name;
    data += '\0';
    if (header.Name.empty())
        return data;
    data += std::to_string(header.Size.value_or(0));
    if (header.ModTime > 0) {
        char octal[24];
        const auto end = std::to_chars(octal, octal + sizeof octal, header.ModTime, 8).ptr;
        data += ' ';
        data.append(octal, end);
    }
    return data;
}

THeader ParseHeader(std::string_view data)
{
    THeader header;
    const std::size_t nul = data.find('\0');
    header.Name = std::string(data.substr(0, nul));
    if (header.Name.empty() || nul == std::string_view::npos)
        return header;
    const std::string_view rest = data.substr(nul + 1);
    std::uint64_t size = 0;
    const auto [end, error] = std::from_chars(rest.data(), rest.data() + rest.size(), size);
    if (error == std::errc() && end != rest.data())
        header.Size = size;
    if (header.Size && end < rest.data() + rest.size() && *end == ' ') {
        std::int64_t time = 0;
        const auto [at, timeError] = std::from_chars(end + 1, rest.data() + rest.size(), time, 8);
        if (timeError == std::errc() && at != end + 1)
            header.ModTime = time;
    }
    return header;
}

std::string SafeFileName(const std::string &name)
{
    // A peer's path never leaves the chosen folder: only its last part counts,
    // whichever separator the sender's system uses.
    const std::size_t cut = name.find_last_of("/\\");
    std::string base = cut == std::string::npos ? name : name.substr(cut + 1);
    for (char &c : base) {
        if (static_cast<unsigned char>(c) < 0x20)
            c = '_';
    }
    if (base.empty() || base == "." || base == "..")
        return "received";
    return base;
}

} // namespace kestrune::xmodem
