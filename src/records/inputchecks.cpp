// morvenctl's checks of input files: format, record checksums, download lines.
#include "records/inputchecks.h"

#include "protocol/checksum.h"
#include "protocol/hexcodec.h"
#include "records/inputerror.h"

#include <cstdint>
#include <vector>

namespace morven {

namespace {

bool isTextByte(unsigned char c)
{
    return (c >= 0x20 && c < 0x7F) || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
}

bool isUpperHex(unsigned char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}

} // namespace

const char *formatName(InputFormat format)
{
    switch (format) {
    case InputFormat::Empty:
        return "an empty file";
    case InputFormat::IntelHex:
        return "Intel HEX records";
    case InputFormat::Srec:
        return "S-records";
    case InputFormat::Binary:
        return "binary data";
    case InputFormat::DownloadLines:
        return "download lines";
    case InputFormat::Text:
        return "text";
    }
    return "?";
}

InputFormat sniffFormat(std::string_view head)
{
    for (const char c : head)
        if (!isTextByte(static_cast<unsigned char>(c)))
            return InputFormat::Binary;
    std::size_t pos = head.find_first_not_of(" \t\r\n\f\v");
    if (pos == std::string_view::npos)
        return InputFormat::Empty;
    const std::string_view line = head.substr(pos);
    if (line[0] == ':')
        return line.size() > 1 && (line[1] == 'O' || line[1] == 'W') ? InputFormat::DownloadLines
                                                                      : InputFormat::IntelHex;
    if (line[0] == 'S' && line.size() > 1 && line[1] >= '0' && line[1] <= '9')
        return InputFormat::Srec;
    return InputFormat::Text;
}

std::optional<std::string> checkIntelHexRecord(std::string_view line)
{
    if (line.empty() || line[0] != ':')
        return "is not an Intel HEX record: it does not start with ':'";
    const std::size_t pairs = (line.size() - 1) / 2;
    auto pair = [&](std::size_t i) {
        return recordPairValue(static_cast<unsigned char>(line[1 + 2 * i]), static_cast<unsigned char>(line[2 + 2 * i]));
    };
    if (pairs < 5 || pairs < std::size_t(pair(0)) + 5) {
        const std::size_t ll = pairs > 0 ? pair(0) : 0;
        return "the record is cut short: with " + std::to_string(ll) + " data bytes it needs "
            + std::to_string(2 * (ll + 5)) + " digits after ':' but has " + std::to_string(line.size() - 1);
    }
    const std::size_t checksumAt = std::size_t(pair(0)) + 4;
    unsigned sum = 0;
    for (std::size_t i = 0; i < checksumAt; ++i)
        sum += pair(i);
    const auto expected = static_cast<std::uint8_t>((256u - (sum & 0xFFu)) & 0xFFu);
    const std::uint8_t found = pair(checksumAt);
    if (expected != found)
        return "the record checksum is wrong: expected " + hexByte(expected) + ", found "
            + std::string(line.substr(1 + 2 * checksumAt, 2));
    return std::nullopt;
}

std::optional<std::string> checkDownloadLine(std::string_view line)
{
    if (line.size() < 2 || line[0] != ':' || (line[1] != 'O' && line[1] != 'W'))
        return "is not a download line: it does not start with \":O\" or \":W\"";
    if (line.back() != ';')
        return "is not a download line: it does not end with ';'";
    const std::string_view digits = line.substr(2, line.size() - 3);
    for (std::size_t i = 0; i < digits.size(); ++i)
        if (!isUpperHex(static_cast<unsigned char>(digits[i])))
            return "is not a download line: " + describeCharacter(static_cast<unsigned char>(digits[i])) + " (character "
                + std::to_string(i + 3) + ") is not an upper-case hexadecimal digit";
    if (digits.size() % 2 != 0)
        return "is not a download line: it has an odd number of hexadecimal digits";
    if (digits.size() < 4)
        return "is not a download line: it is too short to carry a CRC";
    std::vector<std::uint8_t> bytes(digits.size() / 2);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = recordPairValue(static_cast<unsigned char>(digits[2 * i]), static_cast<unsigned char>(digits[2 * i + 1]));
    const std::uint16_t crc = CRC16B(std::span(bytes.data(), bytes.size() - 2));
    const auto lo = static_cast<std::uint8_t>(crc & 0xFFu);
    const auto hi = static_cast<std::uint8_t>(crc >> 8);
    if (bytes[bytes.size() - 2] != lo || bytes.back() != hi)
        return "the line's CRC is wrong: expected " + hexByte(lo) + hexByte(hi) + ", found "
            + std::string(digits.substr(digits.size() - 4));
    return std::nullopt;
}

} // namespace morven
