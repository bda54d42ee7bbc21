// The record conversions on arbitrary record files.
//
// Input: the bytes of a record file, split into lines as "Open file1" does. Each of the three
// conversions runs on it and must print exactly the lines of a reference conversion written from
// the packing rules, refuse the same line, and hold the bytes of a pending chunk.
#include "fuzzcheck.h"

#include "records/conversion.h"

#include <optional>
#include <vector>

using morven::Format;

namespace {

struct Reference
{
    std::vector<std::string> lines;
    std::optional<std::size_t> errorLine;
    std::size_t pending = 0;
};

// Up to eight data records packed back to back behind a chunk number and a byte count; a
// non-data record closes a pending chunk; PW data scrambled by the data sum of the record
// before (restarting every eighth record of the run). A record is refused for a length above
// 125, fewer data bytes than the parse reaches, or a chunk past 255 bytes.
Reference convert(const std::vector<std::string> &list, Format f)
{
    Reference ref;
    std::vector<std::uint8_t> chunk;
    unsigned k = 0, sequence = 1, index = 0, previousSum = 0;
    auto print = [&] {
        std::vector<std::uint8_t> bytes{std::uint8_t(sequence >> 8), std::uint8_t(sequence++), std::uint8_t(chunk.size())};
        bytes.insert(bytes.end(), chunk.begin(), chunk.end());
        ref.lines.push_back(fuzzref::frame(f == Format::O ? 'O' : 'W', bytes.data(), bytes.size()));
        chunk.clear();
        k = 0;
    };
    for (std::size_t i = 0; i < list.size(); ++i) {
        const std::string &line = list[i];
        if (line.size() <= 10)
            continue;
        if (line[7] != '0' || line[8] != '0') {
            if (!chunk.empty())
                print();
            continue;
        }
        if (line[0] != ':')
            continue;
        const std::size_t ll = fuzzref::codecPair(std::uint8_t(line[1]), std::uint8_t(line[2]));
        const std::size_t reached = std::min<std::size_t>(fuzzref::halfToEven(line.size()), 128) - 1;
        if (ll > 125 || reached < 4 + ll || chunk.size() + ll > 255) {
            ref.errorLine = i + 1;
            break;
        }
        std::vector<std::uint8_t> data(ll);
        unsigned sum = 0;
        for (std::size_t j = 0; j < ll; ++j)
            sum += data[j] = fuzzref::codecPair(std::uint8_t(line[9 + 2 * j]), std::uint8_t(line[10 + 2 * j]));
        if (f == Format::PW) {
            if (index++ % 8 == 0)
                previousSum = 0;
            const std::size_t hi = previousSum / 16, lo = previousSum % 16;
            if (previousSum >= 17 && previousSum <= 239 && hi <= ll) // changes past the data are never copied
                data[hi - 1] = std::uint8_t(255 - data[hi - 1]);
            if (previousSum >= 17 && previousSum <= 239 && lo != 0 && lo <= ll)
                data[lo - 1] = std::uint8_t((data[lo - 1] & 15) << 4 | data[lo - 1] >> 4);
            previousSum = sum & 255;
        }
        chunk.insert(chunk.end(), data.begin(), data.end());
        if (++k == 8)
            print();
    }
    ref.pending = chunk.size();
    return ref;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char *>(data), size);
    morven::LineStore list;
    list.appendFileBytes(bytes);
    std::vector<std::string> lines;
    fuzzref::splitLines(bytes, lines);
    for (Format f : {Format::O, Format::W, Format::PW}) {
        morven::LineStore printed;
        morven::RecordConverter converter(f, [&printed](std::string_view line) { printed.append(line); });
        std::optional<morven::InputError> error;
        for (std::size_t i = 0; i < list.size() && !error; ++i)
            error = converter.feed(list.at(i), i + 1);
        const Reference ref = convert(lines, f);
        FUZZ_CHECK(printed.size() == ref.lines.size());
        for (std::size_t i = 0; i < ref.lines.size(); ++i)
            FUZZ_CHECK(printed.at(i) == ref.lines[i]);
        FUZZ_CHECK((error ? std::optional<std::size_t>(error->line) : std::nullopt) == ref.errorLine);
        FUZZ_CHECK(error || converter.pendingBytes() == ref.pending);
        FUZZ_CHECK(printed.byteSize() <= list.byteSize()); // never outgrows the input
    }
    return 0;
}
