#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace morven {

// A list of 8-bit text lines kept as one contiguous byte blob plus the end offset of every
// line, so a list of a million record lines costs little more than its bytes (four bytes of
// bookkeeping per line). Lines may hold any byte, NUL and LF included.
//
// Views returned by at() stay valid until the next change of the store. The blob is limited
// to 4 GiB - 1 bytes; growing past it throws std::length_error.
class LineStore
{
public:
    std::size_t size() const noexcept { return ends_.size(); }
    bool empty() const noexcept { return ends_.empty(); }
    // Total bytes of all lines, terminators not counted.
    std::size_t byteSize() const noexcept { return blob_.size(); }

    // The most text a store holds; appending beyond it throws.
    static constexpr std::size_t MaxBytes = 0xFFFFFFFFu;
    // Whether `bytes` more bytes of text still fit.
    bool canAppend(std::size_t bytes) const noexcept { return bytes <= MaxBytes - blob_.size(); }

    // Line i (0-based); i must be below size().
    std::string_view at(std::size_t i) const noexcept
    {
        const std::size_t begin = i == 0 ? 0 : ends_[i - 1];
        return std::string_view(blob_).substr(begin, ends_[i] - begin);
    }
    std::string_view operator[](std::size_t i) const noexcept { return at(i); }

    void append(std::string_view line);
    void clear() noexcept;
    // Room for `lines` more lines holding `bytes` more bytes in all.
    void reserve(std::size_t lines, std::size_t bytes = 0);

    // Appends the lines of a text file's bytes. A CR, or CR LF, ends a line; a LF alone is
    // kept inside the line; the last line needs no terminator, and a terminator at the very end
    // adds no empty line. Empty lines in the middle become empty items.
    void appendFileBytes(std::string_view bytes);
    // The same; when the store is empty it takes over the buffer and splits it in place, so a
    // big file never needs a second copy of itself.
    void appendFileBytes(std::string &&bytes);

private:
    void pushEnd(std::size_t end);

    std::string blob_;
    std::vector<std::uint32_t> ends_;
};

// Produces a list's file text in pieces: every non-empty item followed by CR LF, empty items
// left out (they do not survive a save). sink(std::string_view) is called with batches of
// roughly batchBytes bytes, in order; nothing is called for a list without non-empty items.
template <class Sink> void writeItems(const LineStore &list, Sink &&sink, std::size_t batchBytes = 64 * 1024)
{
    std::string batch;
    batch.reserve(batchBytes + 2);
    for (std::size_t i = 0; i < list.size(); ++i) {
        const std::string_view item = list.at(i);
        if (item.empty())
            continue;
        if (!batch.empty() && batch.size() + item.size() + 2 > batchBytes) {
            sink(std::string_view(batch));
            batch.clear();
        }
        batch.append(item);
        batch.append("\r\n", 2);
    }
    if (!batch.empty())
        sink(std::string_view(batch));
}

// The whole file text of a list at once (see writeItems).
std::string saveText(const LineStore &list);

} // namespace morven
