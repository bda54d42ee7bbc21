// Motorola S-record input turned into the Intel HEX records srec_cat writes for it.
#include "records/srecordreader.h"

#include "protocol/hexcodec.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>

namespace morven {

namespace {

constexpr std::uint64_t kAddressSpace = std::uint64_t(1) << 32;

std::uint8_t hexValue(char c)
{
    return static_cast<std::uint8_t>(strictHexValue(static_cast<unsigned char>(c)));
}

std::string plural(std::size_t n, const char *word)
{
    return std::to_string(n) + " " + word + (n == 1 ? "" : "s");
}

// Address bytes each record type needs at least; count records (S5, S6) may carry more, as
// some toolchains write them with four.
std::size_t addressBytes(int type, std::size_t available)
{
    switch (type) {
    case 0:
        return 0;
    case 2:
    case 8:
        return 3;
    case 3:
    case 7:
        return 4;
    case 5:
        return available >= 2 && available <= 4 ? available : 2;
    case 6:
        return available == 4 ? 4 : 3;
    default:
        return 2;
    }
}

} // namespace

std::optional<InputError> SrecordReader::addLine(std::string_view line, std::size_t lineNo)
{
    if (line.empty())
        return std::nullopt;
    auto fail = [lineNo](std::string message) { return InputError{lineNo, std::move(message)}; };
    if (line[0] != 'S')
        return fail(describeCharacter(static_cast<unsigned char>(line[0]))
            + " (character 1) does not start an S-record; S-records start with 'S'.");
    for (std::size_t i = 1; i < line.size(); ++i) {
        if (!isHexDigit(static_cast<unsigned char>(line[i])))
            return fail(describeCharacter(static_cast<unsigned char>(line[i])) + " (character " + std::to_string(i + 1)
                + ") is not a hexadecimal digit.");
    }
    if (line.size() < 4)
        return fail("the line ends before its byte count.");
    const int type = hexValue(line[1]);
    if (type == 4 || type > 9)
        return fail(std::string("S") + line[1] + " is not an S-record type (S0-S3 and S5-S9 are).");
    const std::size_t count = std::size_t(hexValue(line[2])) << 4 | hexValue(line[3]);
    if (count == 0)
        return fail("the byte count is 0, but it must at least count the checksum.");
    if (line.size() != 4 + 2 * count)
        return fail("the byte count says " + plural(count, "byte") + " (" + std::to_string(2 * count)
            + " digits) follow, but " + std::to_string(line.size() - 4) + " digits do.");

    std::uint8_t bytes[255];
    unsigned sum = static_cast<unsigned>(count);
    for (std::size_t i = 0; i < count; ++i) {
        bytes[i] = static_cast<std::uint8_t>(hexValue(line[4 + 2 * i]) << 4 | hexValue(line[5 + 2 * i]));
        sum += bytes[i];
    }
    const std::uint8_t checksum = bytes[count - 1];
    if ((sum & 0xFF) != 0xFF)
        return fail("the checksum is " + hexByte(checksum) + " but the record's bytes give "
            + hexByte(static_cast<std::uint8_t>(checksum + 0xFF - sum)) + ".");

    const std::size_t length = count - 1; // address and data
    const std::size_t naddr = addressBytes(type, length);
    if (length < naddr)
        return fail("an S" + std::to_string(type) + " record needs " + plural(naddr, "address byte") + ", this one has "
            + std::to_string(length) + ".");
    std::uint32_t address = 0;
    for (std::size_t i = 0; i < naddr; ++i)
        address = address << 8 | bytes[i];
    const std::string_view data(reinterpret_cast<const char *>(bytes) + naddr, length - naddr);

    switch (type) {
    case 1:
    case 2:
    case 3: {
        ++dataRecords_; // an empty one too
        // Data past the top of the address space goes on at 0.
        const auto room = static_cast<std::size_t>(std::min<std::uint64_t>(kAddressSpace - address, data.size()));
        if (auto error = store(address, data.substr(0, room), lineNo))
            return error;
        return store(0, data.substr(room), lineNo);
    }
    case 5:
    case 6: {
        // Compared in as many bytes as the stated count needs, at least two.
        std::uint32_t mask = 0xFFFF;
        while (address > mask)
            mask = mask << 8 | 0xFF;
        if (address != (dataRecords_ & mask))
            return fail("the count record says " + plural(address, "data record") + " came before it, but "
                + std::to_string(dataRecords_) + " did.");
        return std::nullopt;
    }
    case 7:
    case 8:
    case 9:
        if (!start_)
            start_ = address;
        return std::nullopt;
    default: // the header is not written
        return std::nullopt;
    }
}

std::optional<InputError> SrecordReader::store(std::uint32_t address, std::string_view bytes, std::size_t lineNo)
{
    if (bytes.empty())
        return std::nullopt;
    const std::uint64_t begin = address, end = begin + bytes.size();
    auto endOf = [](auto it) { return std::uint64_t(it->first) + it->second.size(); };

    // The runs these bytes overlap or touch: [first, last). Bytes given again must agree.
    auto first = runs_.upper_bound(address);
    if (first != runs_.begin() && endOf(std::prev(first)) >= begin)
        --first;
    auto last = first;
    for (; last != runs_.end() && last->first <= end; ++last) {
        const std::uint64_t to = std::min(end, endOf(last));
        for (std::uint64_t a = std::max<std::uint64_t>(begin, last->first); a < to; ++a) {
            const char had = last->second.data()[a - last->first], now = bytes[a - begin];
            if (had != now) {
                char at[11];
                std::snprintf(at, sizeof at, "0x%08X", static_cast<unsigned>(a));
                return InputError{lineNo,
                    "address " + std::string(at) + " already holds " + hexByte(static_cast<std::uint8_t>(had))
                        + " from an earlier record; this one gives " + hexByte(static_cast<std::uint8_t>(now)) + "."};
            }
        }
    }
    if (first == last) {
        runs_.emplace_hint(first, address, Run{std::string(bytes), 0});
        return std::nullopt;
    }

    // Everything joins the largest run, so a byte is only copied when its run at least doubles.
    const auto big
        = std::max_element(first, last, [](const auto &a, const auto &b) { return a.second.size() < b.second.size(); });
    const std::uint64_t unionBegin = std::min<std::uint64_t>(begin, first->first);
    const std::uint64_t unionEnd = std::max(end, endOf(std::prev(last)));
    const std::uint64_t bigBegin = big->first, bigEnd = endOf(big);
    // Copies [from, from + n) of the new bytes and of the other runs to dst.
    auto fill = [&](char *dst, std::uint64_t from, std::size_t n) {
        auto copy = [&](std::uint64_t srcBegin, const char *src, std::size_t srcSize) {
            const std::uint64_t lo = std::max(from, srcBegin), hi = std::min(from + n, srcBegin + srcSize);
            if (lo < hi)
                std::memcpy(dst + (lo - from), src + (lo - srcBegin), hi - lo);
        };
        copy(begin, bytes.data(), bytes.size());
        for (auto it = first; it != last; ++it) {
            if (it != big)
                copy(it->first, it->second.data(), it->second.size());
        }
    };
    Run &run = big->second;
    if (const auto head = static_cast<std::size_t>(bigBegin - unionBegin); head > 0) {
        if (run.front < head) {
            // Room in front grows with the run, as std::string's capacity does at the back.
            const std::size_t room = std::max(head, run.size());
            std::string grown(room + run.size(), '\0');
            std::memcpy(grown.data() + room, run.data(), run.size());
            run.bytes = std::move(grown);
            run.front = room;
        }
        run.front -= head;
        fill(run.bytes.data() + run.front, unionBegin, head);
    }
    if (const auto tail = static_cast<std::size_t>(unionEnd - bigEnd); tail > 0) {
        const std::size_t old = run.bytes.size();
        run.bytes.resize(old + tail);
        fill(run.bytes.data() + old, bigEnd, tail);
    }
    runs_.erase(std::next(big), last);
    runs_.erase(first, big);
    if (bigBegin != unionBegin) {
        auto node = runs_.extract(big);
        node.key() = static_cast<std::uint32_t>(unionBegin);
        runs_.insert(std::move(node));
    }
    return std::nullopt;
}

std::optional<InputError> SrecordReader::finish(const IntelHexWriter::Sink &sink)
{
    IntelHexWriter writer(sink);
    for (const auto &[address, run] : runs_)
        writer.data(address, std::string_view(run.data(), run.size()));
    writer.finish(start_);
    runs_.clear();
    return std::nullopt;
}

} // namespace morven
