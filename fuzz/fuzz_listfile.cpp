// Line lists: loading a file's bytes, saving a list as file text, and loading it again.
//
// Input, used twice:
//  - as the bytes of a list file: both loaders must split it as the reference splitter does
//    (CR or CR LF ends a line, LF alone stays in the line, no empty line after a final
//    terminator), and save + reload must give back exactly the non-empty items;
//  - split at NUL bytes into items appended one by one, which may hold CR: save writes each
//    non-empty item and CR LF, so on reload an item with CRs comes back as the pieces the file
//    rules make of "item CR LF", and an item without CR as itself.
#include "fuzzcheck.h"

#include "records/linestore.h"

#include <string>
#include <vector>

using morven::LineStore;

namespace {

std::vector<std::string> itemsOf(const LineStore &store)
{
    std::vector<std::string> items;
    std::size_t bytes = 0;
    for (std::size_t i = 0; i < store.size(); ++i) {
        items.emplace_back(store.at(i));
        FUZZ_CHECK(store[i] == store.at(i));
        bytes += store.at(i).size();
    }
    FUZZ_CHECK(store.byteSize() == bytes);
    FUZZ_CHECK(store.empty() == (store.size() == 0));
    return items;
}

std::string expectedText(const std::vector<std::string> &items)
{
    std::string text;
    for (const std::string &item : items)
        if (!item.empty())
            text += item + "\r\n";
    return text;
}

// Saves the list in batches of about `batchBytes` and checks the pieces: each is a run of
// whole items (item + CR LF), in order, and only a piece of a single item may be longer than
// batchBytes. Together they are the text saved in one go.
void checkBatches(
    const LineStore &store, const std::vector<std::string> &items, const std::string &whole, std::size_t batchBytes)
{
    std::vector<std::string> entries;
    for (const std::string &item : items)
        if (!item.empty())
            entries.push_back(item + "\r\n");
    std::size_t next = 0;
    std::string joined;
    morven::writeItems(
        store,
        [&](std::string_view piece) {
            FUZZ_CHECK(!piece.empty());
            std::size_t used = 0, count = 0;
            while (used < piece.size()) {
                FUZZ_CHECK(next < entries.size());
                FUZZ_CHECK(piece.substr(used, entries[next].size()) == entries[next]);
                used += entries[next++].size();
                ++count;
            }
            FUZZ_CHECK(count == 1 || piece.size() <= batchBytes);
            joined.append(piece);
        },
        batchBytes);
    FUZZ_CHECK(next == entries.size());
    FUZZ_CHECK(joined == whole);
}

std::vector<std::string> reload(const std::string &text)
{
    LineStore store;
    store.appendFileBytes(std::string_view(text));
    return itemsOf(store);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char *>(data), size);
    const std::size_t batchBytes = 1 + (size > 0 ? data[0] % 64 : 0);

    // As a file.
    std::vector<std::string> expected;
    fuzzref::splitFileLines(bytes, expected);

    LineStore viewLoaded;
    viewLoaded.appendFileBytes(bytes);
    const std::vector<std::string> items = itemsOf(viewLoaded);
    FUZZ_CHECK(items == expected);

    LineStore moved; // empty: takes the buffer over and splits it in place
    moved.appendFileBytes(std::string(bytes));
    FUZZ_CHECK(itemsOf(moved) == items);

    LineStore prefilled; // not empty: copies behind what it holds
    prefilled.append("first\rline");
    prefilled.appendFileBytes(std::string(bytes));
    std::vector<std::string> withFirst{"first\rline"};
    withFirst.insert(withFirst.end(), items.begin(), items.end());
    FUZZ_CHECK(itemsOf(prefilled) == withFirst);

    const std::string text = morven::saveText(viewLoaded);
    FUZZ_CHECK(text == expectedText(items));
    checkBatches(viewLoaded, items, text, batchBytes);
    std::vector<std::string> nonEmpty;
    for (const std::string &item : items)
        if (!item.empty())
            nonEmpty.push_back(item);
    FUZZ_CHECK(reload(text) == nonEmpty);

    // As items.
    LineStore appended;
    std::vector<std::string> raw;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= bytes.size(); ++i) {
        if (i == bytes.size() || bytes[i] == '\0') {
            raw.emplace_back(bytes.substr(start, i - start));
            appended.append(raw.back());
            start = i + 1;
        }
    }
    FUZZ_CHECK(itemsOf(appended) == raw);
    const std::string itemText = morven::saveText(appended);
    FUZZ_CHECK(itemText == expectedText(raw));
    checkBatches(appended, raw, itemText, batchBytes);
    std::vector<std::string> pieces;
    for (const std::string &item : raw) {
        if (item.empty())
            continue;
        fuzzref::splitFileLines(item + "\r\n", pieces);
        if (item.find('\r') == std::string::npos)
            FUZZ_CHECK(pieces.back() == item);
    }
    FUZZ_CHECK(reload(itemText) == pieces);
    return 0;
}
