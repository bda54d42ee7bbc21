// Binary files: the reader fed whole and in pieces, against the image the bytes make.
//
// Input layout (missing bytes read as 0):
//   0    where the load address comes from, by its value modulo 3: 0 bytes 1-4 as they are;
//        1 that many below the top of the address space, bytes 3-4 only (so the file wraps to 0);
//        2 16 MiB below the top, moved by bytes 3-4 as a signed number (around where the reader
//        starts holding bytes back)
//   1-4  the address
//   5    seed of the piece sizes
//   6-   the file
//
// Fed whole or in pieces of any size, the reader writes the same records: exactly those the
// reference writer makes for the bytes at address + i, wrapping past 0xFFFFFFFF to 0. Loaded
// further down than 16 MiB below the top, records go out as the bytes come; closer to the top,
// none go out before the bytes wrap.
#include "fuzzcheck.h"

#include "records/binaryreader.h"

namespace {

constexpr std::uint64_t kTop = std::uint64_t(1) << 32;

struct Result
{
    std::vector<std::string> records;
    std::optional<morven::InputError> error;
};

// Data bytes of the data records among `records`, from index `from` on.
std::size_t dataBytes(const std::vector<std::string> &records, std::size_t from)
{
    std::size_t n = 0;
    for (std::size_t i = from; i < records.size(); ++i)
        if (records[i].compare(7, 2, "00") == 0)
            n += fuzzref::hexValue(std::uint8_t(records[i][1])) * 16 + fuzzref::hexValue(std::uint8_t(records[i][2]));
    return n;
}

Result read(std::uint32_t address, std::string_view file, fuzzref::Pieces *pieces)
{
    Result r;
    morven::BinaryReader reader(address, [&](std::string_view line) { r.records.emplace_back(line); });
    const bool streams = kTop - address > (16u << 20);
    std::size_t fed = 0, written = 0, seen = 0;
    for (std::size_t n = 0; fed < file.size() && !r.error; fed += n) {
        n = pieces ? std::min(pieces->next(40), file.size() - fed) : file.size();
        r.error = reader.add(file.substr(fed, n));
        written += dataBytes(r.records, seen);
        seen = r.records.size();
        FUZZ_CHECK(!streams || written + 15 >= fed + n); // a record's worth at most waits
        FUZZ_CHECK(streams || fed + n > kTop - address || r.records.empty()); // held until they wrap
    }
    if (!r.error)
        r.error = reader.finish();
    return r;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    fuzzref::Header h(data, size);
    const std::uint8_t mode = h.u8() % 3;
    const std::uint32_t value = h.u32();
    fuzzref::Pieces pieces{h.u8()};
    const std::string_view file = h.rest();
    const std::uint32_t address = mode == 0 ? value
        : mode == 1                         ? std::uint32_t(kTop - (value & 0xFFFF))
                                            : std::uint32_t(kTop - (16u << 20) + std::int16_t(value & 0xFFFF));

    const Result whole = read(address, file, nullptr);
    const Result cut = read(address, file, &pieces);
    FUZZ_CHECK(!whole.error && !cut.error); // only files near 4 GiB are refused
    FUZZ_CHECK(whole.records == cut.records);

    std::vector<fuzzref::Run> runs;
    const auto below = static_cast<std::size_t>(std::min<std::uint64_t>(kTop - address, file.size()));
    if (below < file.size())
        runs.push_back({0, std::string(file.substr(below))});
    if (below > 0)
        runs.push_back({address, std::string(file.substr(0, below))});
    FUZZ_CHECK(whole.records == fuzzref::intelHexImage(runs, std::nullopt));
    return 0;
}
