// The input checks against references: the format a file's first bytes show, an Intel HEX
// record's shape and checksum, and a download line's shape and CRC.
//
// Input: the first bytes of a file for sniffFormat, and one line for both line checks. The
// line is checked as it is and, where only its checksum or CRC is wrong, with that made right,
// which must then pass.
#include "fuzzcheck.h"

#include "records/inputchecks.h"

using morven::InputFormat;

namespace {

bool isTextByte(unsigned char c)
{
    return (c >= ' ' && c <= '~') || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Binary when a byte is not text; otherwise the first line that is not all white space, from
// its first other character, decides.
InputFormat sniff(std::string_view head)
{
    if (!std::all_of(head.begin(), head.end(), [](char c) { return isTextByte(std::uint8_t(c)); }))
        return InputFormat::Binary;
    std::vector<std::string> lines;
    fuzzref::splitLines(head, lines, true);
    for (const std::string &line : lines) {
        const std::size_t at = line.find_first_not_of(" \t\v\f");
        if (at == std::string::npos)
            continue;
        const std::string_view l = std::string_view(line).substr(at);
        if (l[0] == ':')
            return l.size() > 1 && (l[1] == 'O' || l[1] == 'W') ? InputFormat::DownloadLines : InputFormat::IntelHex;
        return l[0] == 'S' && l.size() > 1 && l[1] >= '0' && l[1] <= '9' ? InputFormat::Srec : InputFormat::Text;
    }
    return InputFormat::Empty;
}

// What checkIntelHexRecord must say, as the start of its message ("" when the record is good);
// the checksum's digits are put right in `fixed` when the record is long enough to have one.
std::string intelHexVerdict(std::string_view line, std::string &fixed)
{
    if (line.empty() || line[0] != ':')
        return "is not an Intel HEX record";
    const std::size_t pairs = (line.size() - 1) / 2;
    auto pair = [&](std::size_t i) {
        return fuzzref::codecPair(std::uint8_t(line[1 + 2 * i]), std::uint8_t(line[2 + 2 * i]));
    };
    const std::size_t ll = pairs > 0 ? pair(0) : 0;
    if (pairs < ll + 5)
        return "the record is cut short: with " + std::to_string(ll) + " data bytes";
    unsigned sum = 0;
    for (std::size_t i = 0; i < ll + 4; ++i)
        sum += pair(i);
    fixed = line;
    std::string digits;
    fuzzref::appendHex(digits, std::uint8_t(-sum));
    fixed.replace(1 + 2 * (ll + 4), 2, digits);
    return (sum + pair(ll + 4)) % 256 == 0 ? "" : "the record checksum is wrong: expected " + digits;
}

// The same for checkDownloadLine, with the CRC put right in `fixed`.
std::string downloadVerdict(std::string_view line, std::string &fixed)
{
    if (line.size() < 2 || line[0] != ':' || (line[1] != 'O' && line[1] != 'W'))
        return "is not a download line: it does not start";
    if (line.back() != ';')
        return "is not a download line: it does not end";
    const std::string_view digits = line.substr(2, line.size() - 3);
    for (std::size_t i = 0; i < digits.size(); ++i)
        if (!fuzzref::isHex(std::uint8_t(digits[i])) || (digits[i] >= 'a' && digits[i] <= 'f'))
            return "(character " + std::to_string(i + 3) + ") is not an upper-case";
    if (digits.size() % 2 != 0)
        return "is not a download line: it has an odd number";
    if (digits.size() < 4)
        return "is not a download line: it is too short";
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i + 4 < digits.size(); i += 2)
        bytes.push_back(fuzzref::codecPair(std::uint8_t(digits[i]), std::uint8_t(digits[i + 1])));
    fixed = fuzzref::frame(line[1], bytes.data(), bytes.size());
    return fixed == line ? "" : "the line's CRC is wrong: expected " + fixed.substr(fixed.size() - 5, 4);
}

// The message starts with `verdict`, or, for a bad character, holds it; "" means no message.
bool says(const std::optional<std::string> &message, const std::string &verdict)
{
    if (verdict.empty() || !message)
        return verdict.empty() == !message;
    return verdict[0] == '(' ? message->find(verdict) != std::string::npos : message->rfind(verdict, 0) == 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char *>(data), size);
    FUZZ_CHECK(morven::sniffFormat(bytes) == sniff(bytes));

    std::string fixed;
    FUZZ_CHECK(says(morven::checkIntelHexRecord(bytes), intelHexVerdict(bytes, fixed)));
    FUZZ_CHECK(fixed.empty() || !morven::checkIntelHexRecord(fixed));
    fixed.clear();
    FUZZ_CHECK(says(morven::checkDownloadLine(bytes), downloadVerdict(bytes, fixed)));
    FUZZ_CHECK(fixed.empty() || !morven::checkDownloadLine(fixed));
    return 0;
}
