// S-record files: the reader against a reference, then the same data as S-records and as the
// Intel HEX records written for them, converted into download lines.
//
// Input layout (missing bytes read as 0):
//   0    bits 0-1 the conversion (0 O, 1 W, 2 PW, 3 W); bit 2 repair every line that is an
//        S-record in shape (count and checksum made right), so the fuzzer gets past them
//   1-   the file, cut into lines at CR, LF or CR LF
//
// The reference reads each record by the rules in srecordreader.h into a byte map; the reader's
// records must be exactly the reference writer's for that map, and an error must name the line
// the reference refuses. The input path must turn the S-records and those records into the same
// download lines.
#include "fuzzinput.h"

#include "records/srecordreader.h"

#include <map>

using morven::InputFormat;

namespace {

struct Reference
{
    std::map<std::uint32_t, std::uint8_t> image;
    std::optional<std::uint32_t> start;
    std::optional<std::size_t> errorLine;
};

// Address bytes of each type; a count record holds its count in 2 to 4 bytes (S5) or 3 or 4 (S6).
std::size_t addressLength(unsigned type, std::size_t length)
{
    static const std::size_t fixed[10] = {0, 2, 3, 4, 0, 2, 3, 4, 3, 2};
    if (type == 5 && length >= 2 && length <= 4)
        return length;
    if (type == 6 && length == 4)
        return 4;
    return fixed[type];
}

Reference read(const std::vector<std::string> &lines)
{
    Reference ref;
    std::uint32_t dataRecords = 0;
    for (std::size_t i = 0; i < lines.size() && !ref.errorLine; ++i) {
        const std::string &l = lines[i];
        if (l.empty())
            continue;
        ref.errorLine = i + 1; // until the record proves good
        if (l[0] != 'S' || l.size() < 4
            || !std::all_of(l.begin() + 1, l.end(), [](char c) { return fuzzref::isHex(std::uint8_t(c)); }))
            continue;
        const unsigned type = fuzzref::hexValue(std::uint8_t(l[1]));
        std::vector<std::uint8_t> bytes; // count, then address, data and checksum
        for (std::size_t j = 2; j + 1 < l.size(); j += 2)
            bytes.push_back(
                std::uint8_t(fuzzref::hexValue(std::uint8_t(l[j])) << 4 | fuzzref::hexValue(std::uint8_t(l[j + 1]))));
        unsigned sum = 0;
        for (const std::uint8_t b : bytes)
            sum += b;
        if (type == 4 || type > 9 || l.size() % 2 != 0 || bytes[0] == 0 || bytes[0] != bytes.size() - 1
            || sum % 256 != 255)
            continue;
        const std::size_t length = bytes.size() - 2, naddr = addressLength(type, length);
        if (length < naddr)
            continue;
        std::uint32_t address = 0;
        for (std::size_t j = 0; j < naddr; ++j)
            address = address << 8 | bytes[1 + j];
        if (type >= 1 && type <= 3) {
            ++dataRecords;
            bool clash = false;
            for (std::size_t j = naddr; j < length; ++j) {
                const auto [it, added] = ref.image.emplace(std::uint32_t(address + (j - naddr)), bytes[1 + j]);
                clash = clash || it->second != bytes[1 + j];
            }
            if (clash)
                continue;
        } else if (type == 5 || type == 6) {
            std::uint64_t modulus = 1 << 16; // as many bytes as the count needs, two at least
            while (address >= modulus)
                modulus <<= 8;
            if (address != dataRecords % modulus)
                continue;
        } else if (type >= 7 && !ref.start) {
            ref.start = address;
        }
        ref.errorLine.reset();
    }
    return ref;
}

// Count and checksum made right for a line shaped like an S-record.
void repair(std::string &line)
{
    if (line.size() < 6 || line.size() > 4 + 2 * 255 || line.size() % 2 != 0 || line[0] != 'S'
        || !std::all_of(line.begin() + 1, line.end(), [](char c) { return fuzzref::isHex(std::uint8_t(c)); }))
        return;
    std::string fixed = line.substr(0, 2);
    const auto count = std::uint8_t((line.size() - 4) / 2);
    fuzzref::appendHex(fixed, count);
    unsigned sum = count;
    for (std::size_t j = 4; j + 3 < line.size(); j += 2)
        sum += fuzzref::hexValue(std::uint8_t(line[j])) << 4 | fuzzref::hexValue(std::uint8_t(line[j + 1]));
    fixed.append(line, 4, line.size() - 6);
    fuzzref::appendHex(fixed, std::uint8_t(255 - sum % 256));
    line = fixed;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    fuzzref::Header h(data, size);
    const std::uint8_t flags = h.u8();
    std::vector<std::string> lines;
    fuzzref::splitLines(h.rest(), lines, true);
    std::string file;
    for (std::string &line : lines) {
        if (flags & 4)
            repair(line);
        file.append(line).push_back('\n');
    }

    const Reference ref = read(lines);
    morven::SrecordReader reader;
    std::optional<morven::InputError> error;
    for (std::size_t i = 0; i < lines.size() && !error; ++i)
        error = reader.addLine(lines[i], i + 1);
    FUZZ_CHECK(error.has_value() == ref.errorLine.has_value());
    morven::InputOptions options;
    options.format = static_cast<morven::Format>((flags & 3) % 3);
    options.inputFormat = InputFormat::Srec;
    const bool empty = morven::sniffFormat(file) == InputFormat::Empty;
    if (error) {
        FUZZ_CHECK(error->line == *ref.errorLine && !error->message.empty());
        const fuzzref::InputRun run = fuzzref::runInput(options, file);
        FUZZ_CHECK(empty || (run.error && run.error->line == error->line && run.error->message == error->message));
        return 0;
    }
    std::vector<std::string> records;
    FUZZ_CHECK(!reader.finish([&](std::string_view r) { records.emplace_back(r); }));
    std::vector<fuzzref::Run> runs;
    for (const auto &[address, byte] : ref.image) {
        if (runs.empty() || runs.back().address + runs.back().bytes.size() != address)
            runs.push_back({address, {}});
        runs.back().bytes.push_back(char(byte));
    }
    FUZZ_CHECK(records == fuzzref::intelHexImage(runs, ref.start));
    if (empty)
        return 0;

    std::string hex;
    for (const std::string &r : records)
        hex.append(r).append("\r\n");
    const fuzzref::InputRun fromSrec = fuzzref::runInput(options, file);
    options.inputFormat = InputFormat::IntelHex;
    fuzzref::InputRun fromHex = fuzzref::runInput(options, hex);
    fromHex.format = InputFormat::Srec;
    FUZZ_CHECK(fromSrec == fromHex);
    return 0;
}
