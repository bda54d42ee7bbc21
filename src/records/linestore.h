// Compact lists of text lines, and cutting text into lines.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
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

// Which bytes end a line of a text file.
enum class LineEnds {
    Cr, // CR, or CR LF; a LF alone stays inside the line (the window's lists)
    Any, // CR, LF or CR LF, mixed freely (morvenctl, which reads files from any system)
};

// Position of the first byte at or after `pos` that ends a line, or n when there is none.
inline std::size_t findLineEnd(const char *data, std::size_t n, std::size_t pos, LineEnds ends) noexcept
{
    if (ends == LineEnds::Cr) {
        const void *cr = std::memchr(data + pos, '\r', n - pos);
        return cr ? static_cast<std::size_t>(static_cast<const char *>(cr) - data) : n;
    }
    // Eight bytes at a time until a word holds a CR or a LF (a zero byte after the XOR).
    constexpr std::uint64_t ones = 0x0101010101010101ull, highs = 0x8080808080808080ull;
    for (; pos + 8 <= n; pos += 8) {
        std::uint64_t word;
        std::memcpy(&word, data + pos, 8);
        const std::uint64_t lf = word ^ (ones * '\n'), cr = word ^ (ones * '\r');
        if ((((lf - ones) & ~lf) | ((cr - ones) & ~cr)) & highs)
            break;
    }
    for (; pos < n; ++pos)
        if (data[pos] == '\n' || data[pos] == '\r')
            break;
    return pos;
}

// Cuts a text that arrives in pieces into lines, by the same rules as a whole file: a CR LF
// split between two pieces is still one line end, the last line needs no terminator, and a
// terminator at the very end adds no empty line. Lines are handed over as views into the piece
// when they lie inside it, so a big file is cut without copying.
class LineSplitter
{
public:
    explicit LineSplitter(LineEnds ends)
        : ends_(ends)
    { }

    // Calls onLine(std::string_view) for each line these bytes complete; stops, returning
    // false, as soon as onLine returns false.
    template <class OnLine> bool feed(std::string_view bytes, OnLine &&onLine)
    {
        const char *data = bytes.data();
        const std::size_t n = bytes.size();
        std::size_t pos = 0;
        if (skipLf_ && n > 0) {
            skipLf_ = false;
            if (data[0] == '\n')
                pos = 1;
        }
        while (pos < n) {
            const std::size_t end = findLineEnd(data, n, pos, ends_);
            if (end == n) {
                partial_.append(data + pos, n - pos);
                return true;
            }
            bool more;
            if (partial_.empty()) {
                more = onLine(std::string_view(data + pos, end - pos));
            } else {
                partial_.append(data + pos, end - pos);
                more = onLine(std::string_view(partial_));
                partial_.clear();
            }
            pos = end + 1;
            if (data[end] == '\r') {
                if (pos == n)
                    skipLf_ = true;
                else if (data[pos] == '\n')
                    ++pos;
            }
            if (!more)
                return false;
        }
        return true;
    }

    // The last line, when the text does not end with a terminator.
    template <class OnLine> bool finish(OnLine &&onLine)
    {
        if (partial_.empty())
            return true;
        const bool more = onLine(std::string_view(partial_));
        partial_.clear();
        return more;
    }

private:
    LineEnds ends_;
    std::string partial_;
    bool skipLf_ = false;
};

} // namespace morven
