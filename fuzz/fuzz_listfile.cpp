// Line lists: a file's bytes cut into lines, whole or in pieces, saved as file text and loaded again.
//
// Input, used twice: as the bytes of a file, cut as the reference cuts them (CR or CR LF ends
// a line - for morvenctl a LF too - and no empty line after a final terminator), by both
// loaders and by the streaming splitter in pieces of a size the first byte picks; and split at
// NUL bytes into items, which save writes with CR LF each (empty ones left out) and in batches
// that join up to the same text.
#include "fuzzcheck.h"

#include "records/linestore.h"

#include <vector>

using morven::LineStore;

namespace {

std::vector<std::string> itemsOf(const LineStore &store)
{
    std::vector<std::string> items;
    for (std::size_t i = 0; i < store.size(); ++i)
        items.emplace_back(store.at(i));
    return items;
}

std::vector<std::string> streamed(std::string_view bytes, morven::LineEnds ends, std::size_t piece)
{
    morven::LineSplitter splitter(ends);
    std::vector<std::string> lines;
    const auto take = [&](std::string_view l) { return lines.emplace_back(l), true; };
    for (std::size_t at = 0; at < bytes.size(); at += piece)
        splitter.feed(bytes.substr(at, piece), take);
    splitter.finish(take);
    return lines;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char *>(data), size);
    const std::size_t piece = 1 + (size > 0 ? data[0] % 64 : 0);

    std::vector<std::string> expected, expectedAny;
    fuzzref::splitLines(bytes, expected);
    fuzzref::splitLines(bytes, expectedAny, true);
    LineStore viewed, moved, prefilled;
    viewed.appendFileBytes(bytes);
    moved.appendFileBytes(std::string(bytes)); // empty: split in place
    prefilled.append("first\rline");
    prefilled.appendFileBytes(std::string(bytes)); // not empty: copied behind
    FUZZ_CHECK(itemsOf(viewed) == expected && itemsOf(moved) == expected);
    expected.insert(expected.begin(), "first\rline");
    FUZZ_CHECK(itemsOf(prefilled) == expected);
    FUZZ_CHECK(streamed(bytes, morven::LineEnds::Cr, piece) == std::vector<std::string>(expected.begin() + 1, expected.end()));
    FUZZ_CHECK(streamed(bytes, morven::LineEnds::Any, piece) == expectedAny);

    LineStore items;
    std::string text;
    std::size_t bytesIn = 0;
    for (std::size_t start = 0, i = 0; i <= bytes.size(); ++i) {
        if (i < bytes.size() && bytes[i] != '\0')
            continue;
        const std::string_view item = bytes.substr(start, i - start);
        items.append(item);
        bytesIn += item.size();
        if (!item.empty())
            text.append(item).append("\r\n");
        start = i + 1;
    }
    FUZZ_CHECK(items.byteSize() == bytesIn && morven::saveText(items) == text);
    std::string joined;
    morven::writeItems(
        items,
        [&](std::string_view p) {
            FUZZ_CHECK(!p.empty());
            joined.append(p);
        },
        piece);
    FUZZ_CHECK(joined == text);
    LineStore reloaded;
    reloaded.appendFileBytes(std::string_view(text));
    std::vector<std::string> pieces;
    fuzzref::splitLines(text, pieces);
    FUZZ_CHECK(itemsOf(reloaded) == pieces);
    return 0;
}
